// A server that says why it drops the client and closes at once: what it sent
// before the close reaches the data handler before the session-closed event,
// however the close meets the client's own first lines.
#include <gtest/gtest.h>

#include "NetTestUtil.h"

using namespace nettest;

namespace {

const std::string kReason = "ERROR :Closing Link: test (bye)\r\n";

// How the server ends the session after its last words.
enum class Ending {
  BeforeClientSpeaks,  // closes before the client's lines arrive: they meet a closed socket
  ClientLinesUnread,   // closes with the client's lines unread: the close is a reset
  ClientLinesRead,     // reads the client's lines first, then closes cleanly
};

// A client that registers as the main window does (two lines sent from the
// connect handler, one small receive per data event) and notes what it had
// received when the session-closed event came.
struct Client {
  TWSocket s;
  Recorder r;
  std::string dataAtClose = "<no close>";
  explicit Client() {
    r.chunk = 7;  // many data events for one line
    r.attach(s);
    s.OnSessionConnected = [this](TCustomWSocket* sock, uint16_t e) {
      r.add("SessionConnected", e);
      if (e != 0) return;
      sock->SendStr("NICK t\r\n");
      if (sock->State() == wsConnected) sock->SendStr("USER t * * :t\r\n");
    };
    s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) {
      r.add("SessionClosed", e);
      dataAtClose = r.data;
    };
  }
};

}  // namespace

TEST(WSocketLastWords, ServerReasonArrivesBeforeTheCloseEveryTime) {
  const std::pair<Ending, const char*> endings[] = {{Ending::BeforeClientSpeaks, "before the client speaks"},
                                                    {Ending::ClientLinesUnread, "client lines unread"},
                                                    {Ending::ClientLinesRead, "client lines read"}};
  for (const auto& [ending, name] : endings) {
    for (int run = 0; run < 20; ++run) {
      SCOPED_TRACE(std::string(name) + ", run " + std::to_string(run));
      RawPeer peer;
      Client c;
      connectTo(c.s, peer.port());
      ASSERT_TRUE(peer.accept());
      if (ending != Ending::BeforeClientSpeaks) {
        // The connect handler has run and sent both lines.
        ASSERT_TRUE(waitFor([&] { return c.s.State() == wsConnected && c.s.BufferedByteCount() == 0; }));
      }
      if (ending == Ending::ClientLinesRead) {
        ASSERT_EQ(peer.read(23), "NICK t\r\nUSER t * * :t\r\n");
      }
      peer.send(kReason);
      peer.closeClient();
      ASSERT_TRUE(waitFor([&] { return c.s.State() == wsClosed && c.dataAtClose != "<no close>"; }));
      EXPECT_EQ(c.dataAtClose, kReason);
      const V ev = c.r.main();
      ASSERT_GE(ev.size(), 3u) << ::testing::PrintToString(c.r.events);
      EXPECT_EQ(ev.front(), "SessionConnected 0");
      EXPECT_EQ(ev[1], "DataAvailable 0");
      EXPECT_EQ(ev.back().rfind("SessionClosed ", 0), 0u) << ev.back();
      EXPECT_EQ(std::count_if(ev.begin(), ev.end(), [](const std::string& e) { return e.rfind("SessionClosed", 0) == 0; }),
                1);
    }
  }
}
