// Parts of the socket component the program itself does not use, one case
// each: listening with adopted handles, datagrams, line mode.
#include <gtest/gtest.h>

#include "NetTestUtil.h"

using namespace nettest;

TEST(WSocketServer, ListenAcceptDupAndTalkBothWays) {
  TWSocket server, accepted, client;
  Recorder rs, ra, rc;
  rs.attach(server);
  ra.attach(accepted);
  rc.attach(client);
  server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) { accepted.Dup(sender->Accept()); };
  setTarget(server, "127.0.0.1", "0");
  server.Listen();
  EXPECT_EQ(rs.events, (V{"Closed>Bound", "Bound>Listening"}));
  setTarget(client, "127.0.0.1", server.GetXPort());
  client.Connect();
  ASSERT_TRUE(waitFor([&] { return accepted.State() == wsConnected && client.State() == wsConnected; }));
  client.SendStr("from client\r\n");
  accepted.SendStr("from server\r\n");
  ASSERT_TRUE(waitFor([&] { return ra.data == "from client\r\n" && rc.data == "from server\r\n"; }));
  client.Close();
  ASSERT_TRUE(waitFor([&] { return ra.has("SessionClosed 0"); }));
  EXPECT_EQ(server.State(), wsListening) << "the listener goes on";
}

TEST(WSocketDatagram, RoundTripBetweenComponents) {
  TWSocket server, client;
  std::string atServer;
  sockaddr_in from{};
  server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buf[64];
    int len = 0;
    const int n = s->ReceiveFrom(buf, sizeof buf, from, len);
    if (n > 0) atServer.assign(buf, static_cast<size_t>(n));
  };
  setTarget(server, "127.0.0.1", "0", "udp");
  server.Listen();
  connectTo(client, std::stoi(server.GetXPort()), "udp");
  EXPECT_EQ(client.State(), wsConnected) << "a datagram socket is connected inside Connect";
  client.SendStr("ping");
  ASSERT_TRUE(waitFor([&] { return atServer == "ping"; }));
  EXPECT_EQ(std::to_string(ntohs(from.sin_port)), client.GetXPort());
}

// Lines split across reads and several in one read; the rest without its end
// comes as the last line, before the close event.
TEST(WSocketLine, LinesSplitAcrossReadsAndSeveralInOneRead) {
  Peer peer;
  TWSocket s;
  V lines, events;
  std::vector<int> counts;  // RcvdCount inside each line event
  s.SetLineMode(true);
  s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) {
    counts.push_back(sock->RcvdCount());
    lines.push_back(sock->ReceiveStr());
  };
  s.OnSessionClosed = [&](TCustomWSocket*, uint16_t e) { events.push_back("closed " + std::to_string(e)); };
  ASSERT_TRUE(connectPeer(s, peer));
  for (const char* part : {"PING :a", "bc\r"}) {
    peer.send(part);
    pumpFor(30);
    EXPECT_TRUE(lines.empty()) << "no line before its end has arrived";
  }
  peer.send("\n:x 001 me :hi\r\n:x 002 me :there\r\npartial");
  ASSERT_TRUE(waitFor([&] { return lines.size() == 3; }));
  EXPECT_EQ(lines, (V{"PING :abc\r\n", ":x 001 me :hi\r\n", ":x 002 me :there\r\n"}));
  EXPECT_EQ(counts, (std::vector<int>{11, 15, 18}));
  peer.closeClient();
  ASSERT_TRUE(waitFor([&] { return !events.empty(); }));
  EXPECT_EQ(lines.back(), "partial");
  EXPECT_EQ(events, V{"closed 0"});
}
