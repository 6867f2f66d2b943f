// Server side, adopted handles, datagrams, line mode and the blocking waits.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "NetTestUtil.h"

using namespace nettest;

namespace {

void listenOn(TCustomWSocket& s, const std::string& proto, const std::string& port = "0") {
  setTarget(s, "127.0.0.1", port, proto);
  s.Listen();
}

}  // namespace

TEST(WSocketServer, ListenAcceptDupAndTalkBothWays) {
  TWSocket server, accepted, client;
  Recorder rs, ra, rc;
  rs.attach(server);
  ra.attach(accepted);
  rc.attach(client);
  server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t e) {
    rs.add("SessionAvailable", e);
    accepted.Dup(sender->Accept());
  };
  listenOn(server, "tcp");
  EXPECT_EQ(rs.events, (V{"Closed>Bound", "Bound>Listening"}));
  setTarget(client, "127.0.0.1", server.GetXPort());
  client.Connect();
  ASSERT_TRUE(waitFor([&] { return accepted.State() == wsConnected && client.State() == wsConnected; }));
  EXPECT_TRUE(rs.has("SessionAvailable 0"));
  EXPECT_EQ(ra.events, V{"Closed>Connected"});

  client.SendStr("from client\r\n");
  accepted.SendStr("from server\r\n");
  ASSERT_TRUE(waitFor([&] { return ra.data == "from client\r\n" && rc.data == "from server\r\n"; }));
  client.Close();
  ASSERT_TRUE(waitFor([&] { return ra.has("SessionClosed 0"); }));
  EXPECT_EQ(accepted.State(), wsClosed);
  EXPECT_EQ(server.State(), wsListening) << "the listener goes on";
}

TEST(WSocketServer, ListenAcceptAndDupRefusals) {
  TWSocket busy;
  listenOn(busy, "tcp");
  struct {
    std::string addr, port, proto;
    const char* text;
  } cases[] = {
      {"127.0.0.1", "", "tcp", "Error 10022 in function listen: port not assigned\r\nInvalid argument"},
      {"127.0.0.1", "0", "", "Error 10022 in function listen: protocol not assigned\r\nInvalid argument"},
      {"", "0", "tcp", "Error 10022 in function listen: address not assigned\r\nInvalid argument"},
      {"127.0.0.1", busy.GetXPort(), "tcp", "Error 10048 in function Bind\r\nAddress already in use"},
  };
  for (const auto& c : cases) {
    TWSocket s;
    setTarget(s, c.addr, c.port, c.proto);
    EXPECT_EQ(errorText([&] { s.Listen(); }), c.text);
  }
  TWSocket s;
  EXPECT_EQ(errorText([&] { s.Accept(); }), "Error 10022 in function not a listening socket\r\nInvalid argument");
  EXPECT_EQ(errorText([&] { s.Dup(-1); }), "Error 10022 in function Dup\r\nInvalid argument");
}

TEST(WSocketDatagram, RoundTripBetweenComponents) {
  TWSocket server, client, reply;
  Recorder rs, rc;
  rs.attach(server, false);
  rc.attach(client, false);
  std::string atServer, atClient;
  sockaddr_in from{};
  server.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buf[64];
    int len = 0;
    int n = s->ReceiveFrom(buf, sizeof buf, from, len);
    if (n > 0) atServer.assign(buf, static_cast<size_t>(n));
  };
  client.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) { atClient += s->ReceiveStr(); };
  listenOn(server, "udp");
  EXPECT_EQ(rs.events, (V{"Closed>Bound", "Bound>Listening", "Listening>Connected", "SessionConnected 0"}));
  connectTo(client, std::stoi(server.GetXPort()), "udp");
  EXPECT_EQ(rc.events, (V{"Closed>Opened", "Opened>Connected", "SessionConnected 0"}))
      << "a datagram socket is connected inside Connect";
  client.SendStr("ping");
  ASSERT_TRUE(waitFor([&] { return atServer == "ping"; }));
  EXPECT_EQ(std::to_string(ntohs(from.sin_port)), client.GetXPort());

  // The answer goes back to where the datagram came from.
  connectTo(reply, ntohs(from.sin_port), "17");
  reply.SendStr("pong");
  ASSERT_TRUE(waitFor([&] { return atClient == "pong"; }));
}

namespace {

struct LineClient {
  Peer peer;
  TWSocket s;
  V lines, events;
  std::vector<int> counts;  // RcvdCount inside each line event

  explicit LineClient(const std::string& lineEnd = "\r\n") {
    s.SetLineEnd(lineEnd);
    s.SetLineMode(true);
    s.OnDataAvailable = [this](TCustomWSocket* sock, uint16_t) {
      counts.push_back(sock->RcvdCount());
      lines.push_back(sock->ReceiveStr());
    };
    s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) { events.push_back("closed " + std::to_string(e)); };
    EXPECT_TRUE(connectPeer(s, peer));
  }
};

}  // namespace

TEST(WSocketLine, LinesSplitAcrossReadsAndSeveralInOneRead) {
  LineClient c;
  for (const char* part : {"PING :a", "bc\r"}) {
    c.peer.send(part);
    pumpFor(30);
    EXPECT_TRUE(c.lines.empty()) << "no line before its end has arrived";
  }
  c.peer.send("\n:x 001 me :hi\r\n:x 002 me :there\r\npartial");
  ASSERT_TRUE(waitFor([&] { return c.lines.size() == 3; }));
  EXPECT_EQ(c.lines, (V{"PING :abc\r\n", ":x 001 me :hi\r\n", ":x 002 me :there\r\n"}));
  EXPECT_EQ(c.counts, (std::vector<int>{11, 15, 18}));

  // The rest without its end comes as the last line, before the close event.
  c.peer.closeClient();
  ASSERT_TRUE(waitFor([&] { return !c.events.empty(); }));
  EXPECT_EQ(c.lines.back(), "partial");
  EXPECT_EQ(c.events, V{"closed 0"});
}

TEST(WSocketLine, CustomLineEndAndSwitchingModes) {
  LineClient c("END");
  c.peer.send("oneENDtwoENDthr");
  ASSERT_TRUE(waitFor([&] { return c.lines.size() == 2; }));
  EXPECT_EQ(c.lines, (V{"oneEND", "twoEND"}));
  // Switched off, what is buffered comes out as plain data from the event loop.
  c.s.SetLineMode(false);
  EXPECT_EQ(c.lines.size(), 2u);
  ASSERT_TRUE(waitFor([&] { return c.lines.size() == 3; }));
  EXPECT_EQ(c.lines.back(), "thr");
}

TEST(WSocketSync, WaitEndsWithTimeoutOrWhenDone) {
  TWSocket s;
  bool done = false;
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(s.WaitUntilReady(done, 100), 12001);
  EXPECT_GE(t.elapsed(), 100);
  EXPECT_LT(t.elapsed(), 3000);

  Peer peer;
  s.OnSessionConnected = [&](TCustomWSocket*, uint16_t) { done = true; };
  setTarget(s, "127.0.0.1", std::to_string(peer.port()));
  EXPECT_EQ(s.Synchronize([&] { s.Connect(); }, done, 5000), 0);
  EXPECT_EQ(s.State(), wsConnected);
}

// The server side and datagrams take an IPv6 address where they take an IPv4 one.
TEST(WSocketServer, IPv6ListenAcceptAndDatagrams) {
  TWSocket server, accepted, client;
  server.OnSessionAvailable = [&](TCustomWSocket* sender, uint16_t) { accepted.Dup(sender->Accept()); };
  setTarget(server, "::1", "0");
  server.Listen();
  setTarget(client, "::1", server.GetXPort());
  client.Connect();
  ASSERT_TRUE(waitFor([&] { return accepted.State() == wsConnected && client.State() == wsConnected; }));
  EXPECT_EQ(client.GetPeerAddr(), "::1");
  EXPECT_EQ(accepted.GetPeerAddr(), "::1");

  TWSocket udpServer, udpClient;
  std::string at;
  sockaddr_storage from{};
  udpServer.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    char buf[64];
    int len = 0;
    const int n = s->ReceiveFrom(buf, sizeof buf, from, len);
    if (n > 0) at.assign(buf, static_cast<size_t>(n));
  };
  setTarget(udpServer, "::1", "0", "udp");
  udpServer.Listen();
  setTarget(udpClient, "::1", udpServer.GetXPort(), "udp");
  udpClient.Connect();
  udpClient.SendStr("ping");
  ASSERT_TRUE(waitFor([&] { return at == "ping"; }));
  EXPECT_EQ(zorv::WSocketAddrText(from), "::1");
  EXPECT_EQ(std::to_string(ntohs(reinterpret_cast<sockaddr_in6&>(from).sin6_port)), udpClient.GetXPort());
}
