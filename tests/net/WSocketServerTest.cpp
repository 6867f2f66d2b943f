// Parts of the socket component the program itself does not use, one case
// each: listening with adopted handles, datagrams, line mode.
#include <gtest/gtest.h>

#include "NetTestUtil.h"

using namespace nettest;

TEST(WSocketUnused, ListenAcceptDupAndDatagram) {
  TWSocket server, accepted, client;
  Recorder ra, rc;
  ra.attach(accepted);
  rc.attach(client);
  server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) { accepted.Dup(sender->Accept()); };
  setTarget(server, "127.0.0.1", "0");
  server.Listen();
  EXPECT_EQ(server.State(), wsListening);
  connectTo(client, std::stoi(server.GetXPort()));
  ASSERT_TRUE(waitFor([&] { return accepted.State() == wsConnected && client.State() == wsConnected; }));
  client.SendStr("from client\r\n");
  accepted.SendStr("from server\r\n");
  ASSERT_TRUE(waitFor([&] { return ra.data == "from client\r\n" && rc.data == "from server\r\n"; }));

  TWSocket udpServer, udpClient;
  std::string atServer;
  sockaddr_in from{};
  udpServer.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buf[64];
    int len = 0;
    const int n = s->ReceiveFrom(buf, sizeof buf, from, len);
    if (n > 0) atServer.assign(buf, static_cast<size_t>(n));
  };
  setTarget(udpServer, "127.0.0.1", "0", "udp");
  udpServer.Listen();
  connectTo(udpClient, std::stoi(udpServer.GetXPort()), "udp");
  EXPECT_EQ(udpClient.State(), wsConnected) << "a datagram socket is connected inside Connect";
  udpClient.SendStr("ping");
  ASSERT_TRUE(waitFor([&] { return atServer == "ping"; }));
  EXPECT_EQ(std::to_string(ntohs(from.sin_port)), udpClient.GetXPort());
}

// Lines split across reads and several in one read; the rest without its end
// comes as the last line, before the close event.
TEST(WSocketUnused, LineMode) {
  Peer peer;
  TWSocket s;
  V lines;
  std::vector<int> counts;  // RcvdCount inside each line event
  s.SetLineMode(true);
  s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) {
    counts.push_back(sock->RcvdCount());
    lines.push_back(sock->ReceiveStr());
  };
  bool closed = false;
  s.OnSessionClosed = [&](TCustomWSocket*, uint16_t) { closed = true; };
  ASSERT_TRUE(connectPeer(s, peer));
  peer.send("PING :abc\r");
  pumpFor(30);
  EXPECT_TRUE(lines.empty()) << "no line before its end has arrived";
  peer.send("\n:x 001 me :hi\r\n:x 002 me :there\r\npartial");
  ASSERT_TRUE(waitFor([&] { return lines.size() == 3; }));
  EXPECT_EQ(lines, (V{"PING :abc\r\n", ":x 001 me :hi\r\n", ":x 002 me :there\r\n"}));
  EXPECT_EQ(counts, (std::vector<int>{11, 15, 18}));
  peer.closeClient();
  ASSERT_TRUE(waitFor([&] { return closed; }));
  EXPECT_EQ(lines.back(), "partial");
}
