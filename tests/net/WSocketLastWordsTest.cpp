// A server that says why it drops the client and closes at once: what it sent
// before the close reaches the data handler before the session-closed event,
// however the close meets the client's own lines.
#include <gtest/gtest.h>

#include "NetTestUtil.h"

using namespace nettest;

TEST(WSocketLastWords, ServerReasonArrivesBeforeTheCloseEveryTime) {
  const std::string reason = "ERROR :Closing Link: test (bye)";
  // early: the server closes before the client's lines arrive (they meet a
  // closed socket); else with them unread (a reset) or after reading them.
  const struct { const char* name; bool early, readFirst, registers; int chunk; V said;
  } cases[] = {
      {"closed before the client speaks", true, false, true, 7, {reason}},
      {"client lines unread", false, false, true, 7, {reason}},
      {"client lines read", false, true, true, 7, {reason}},
      // The second answer meets the closed connection while the handler still holds the reason, taken in the same
      // receive.
      {"answers from the data handler", true, false, false, 4096, {"PING :a", "PING :b", reason}},
  };
  for (const auto& c : cases) {
    for (int run = 0; run < 20; ++run) {
      SCOPED_TRACE(std::string(c.name) + ", run " + std::to_string(run));
      // A client as the main window is one: it may register from the connect
      // handler (two lines), answers "PING :" lines from the data handler,
      // takes at most `chunk` bytes per data event, and notes the lines it
      // had handled when the session-closed event came.
      Peer peer;
      TWSocket s;
      Recorder r(s);
      std::string partial;
      V lines, atClose{"<no close>"};
      s.OnSessionConnected = [&](TCustomWSocket* sock, uint16_t e) {
        r.add("SessionConnected", e);
        if (e != 0 || !c.registers) return;
        sock->SendStr("NICK t\r\n");
        if (sock->State() == wsConnected) sock->SendStr("USER t * * :t\r\n");
      };
      s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t e) {
        if (r.events.back() != "DataAvailable 0") r.add("DataAvailable", e);
        std::string buf(static_cast<size_t>(c.chunk), '\0');
        const int n = sock->Receive(buf.data(), c.chunk);
        if (n > 0) partial.append(buf.data(), static_cast<size_t>(n));
        for (size_t lf; (lf = partial.find("\r\n")) != std::string::npos; partial.erase(0, lf + 2)) {
          lines.push_back(partial.substr(0, lf));
          if (lines.back().rfind("PING :", 0) == 0 && sock->State() == wsConnected)
            sock->SendStr("PONG :" + lines.back().substr(6) + "\r\n");
        }
      };
      s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) {
        r.add("SessionClosed", e);
        atClose = lines;
      };
      if (c.early) {
        connectTo(s, peer.port());
        ASSERT_TRUE(peer.accept());
      } else {
        ASSERT_TRUE(connectPeer(s, peer));  // the connect handler has sent both lines
      }
      if (c.readFirst) {
        ASSERT_EQ(peer.read(23), "NICK t\r\nUSER t * * :t\r\n");
      }
      std::string all;
      for (const auto& l : c.said) all += l + "\r\n";
      peer.send(all);
      peer.closeClient();
      ASSERT_TRUE(waitFor([&] { return s.State() == wsClosed && atClose != V{"<no close>"}; }));
      pumpFor(5);  // a second close event would show now
      EXPECT_EQ(atClose, c.said);
      const V ev = r.main();
      ASSERT_EQ(ev.size(), 3u) << ::testing::PrintToString(r.events);
      EXPECT_EQ(ev[0], "SessionConnected 0");
      EXPECT_EQ(ev[1], "DataAvailable 0");
      EXPECT_EQ(ev[2].rfind("SessionClosed ", 0), 0u) << ev[2];
    }
  }
}
