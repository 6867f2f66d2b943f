// A server that says why it drops the client and closes at once: what it sent
// before the close reaches the data handler before the session-closed event,
// however the close meets the client's own lines.
#include <gtest/gtest.h>

#include <algorithm>

#include "NetTestUtil.h"

using namespace nettest;

namespace {

const std::string kReason = "ERROR :Closing Link: test (bye)";

// How the server ends the session after its last words.
enum class Ending {
  BeforeClientSpeaks,  // closes before the client's lines arrive: they meet a closed socket
  ClientLinesUnread,   // closes with the client's lines unread: the close is a reset
  ClientLinesRead,     // reads the client's lines first, then closes cleanly
};

// A client as the main window is one: it may register from the connect
// handler (two lines), it answers "PING :" lines from the data handler, and
// it takes at most `chunk` bytes per data event. It notes the lines it had
// handled when the session-closed event came.
struct Client {
  TWSocket s;
  Recorder r;
  std::string partial;
  V lines;
  V linesAtClose{"<no close>"};

  Client(bool registers, int chunk) {
    r.attach(s);
    s.OnSessionConnected = [this, registers](TCustomWSocket* sock, uint16_t e) {
      r.add("SessionConnected", e);
      if (e != 0 || !registers) return;
      sock->SendStr("NICK t\r\n");
      if (sock->State() == wsConnected) sock->SendStr("USER t * * :t\r\n");
    };
    s.OnDataAvailable = [this, chunk](TCustomWSocket* sock, uint16_t e) {
      if (r.events.back() != "DataAvailable 0") r.add("DataAvailable", e);
      std::string buf(static_cast<size_t>(chunk), '\0');
      const int n = sock->Receive(buf.data(), chunk);
      if (n > 0) partial.append(buf.data(), static_cast<size_t>(n));
      for (size_t lf; (lf = partial.find("\r\n")) != std::string::npos; partial.erase(0, lf + 2)) {
        lines.push_back(partial.substr(0, lf));
        if (lines.back().rfind("PING :", 0) == 0 && sock->State() == wsConnected)
          sock->SendStr("PONG :" + lines.back().substr(6) + "\r\n");
      }
    };
    s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) {
      r.add("SessionClosed", e);
      linesAtClose = lines;
    };
  }
};

}  // namespace

TEST(WSocketLastWords, ServerReasonArrivesBeforeTheCloseEveryTime) {
  const struct {
    const char* name;
    Ending ending;
    bool registers;
    int chunk;
    V said;
  } cases[] = {
      {"closed before the client speaks", Ending::BeforeClientSpeaks, true, 7, {kReason}},
      {"client lines unread", Ending::ClientLinesUnread, true, 7, {kReason}},
      {"client lines read", Ending::ClientLinesRead, true, 7, {kReason}},
      // The second answer meets the closed connection while the handler
      // still holds the reason, taken in the same receive.
      {"answers from the data handler", Ending::BeforeClientSpeaks, false, 4096, {"PING :a", "PING :b", kReason}},
  };
  for (const auto& c : cases) {
    for (int run = 0; run < 20; ++run) {
      SCOPED_TRACE(std::string(c.name) + ", run " + std::to_string(run));
      Peer peer;
      Client client(c.registers, c.chunk);
      if (c.ending == Ending::BeforeClientSpeaks) {
        connectTo(client.s, peer.port());
        ASSERT_TRUE(peer.accept());
      } else {
        ASSERT_TRUE(connectPeer(client.s, peer));  // the connect handler has sent both lines
      }
      if (c.ending == Ending::ClientLinesRead) {
        ASSERT_EQ(peer.read(23), "NICK t\r\nUSER t * * :t\r\n");
      }
      std::string all;
      for (const auto& l : c.said) all += l + "\r\n";
      peer.send(all);
      peer.closeClient();
      ASSERT_TRUE(waitFor([&] { return client.s.State() == wsClosed && client.linesAtClose != V{"<no close>"}; }));
      pumpFor(5);  // a second close event would show now
      EXPECT_EQ(client.linesAtClose, c.said);
      const V ev = client.r.main();
      ASSERT_EQ(ev.size(), 3u) << ::testing::PrintToString(client.r.events);
      EXPECT_EQ(ev[0], "SessionConnected 0");
      EXPECT_EQ(ev[1], "DataAvailable 0");
      EXPECT_EQ(ev[2].rfind("SessionClosed ", 0), 0u) << ev[2];
    }
  }
}
