// The client path of the socket component against loopback peers: event
// orders, lookups, errors and their texts, the send queue, closing.
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/ioctl.h>

#include <QPointer>
#include <memory>

#include "NetTestUtil.h"

using namespace nettest;
using testsupport::pumpFor;
using testsupport::waitFor;
using V = std::vector<std::string>;

namespace {

std::string errorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESocketException& e) {
    return e.what();
  }
  return "<no exception>";
}

void connectTo(TCustomWSocket& s, int port, const std::string& proto = "tcp") {
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.SetProto(proto);
  s.Connect();
}

}  // namespace

TEST(WSocketErrors, DescriptionsAndPlatformMapping) {
  struct {
    int error;
    const char* text;
  } descs[] = {{0, "No Error"},
               {10035, "Operation would block"},
               {10054, "Connection reset by peer"},
               {10057, "Socket is not connected"},
               {10061, "Connection refused"},
               {10069, "Disc quota exceeded"},
               {11001, "Host not found"},
               {11004, "No Data"},
               {10000, "Not a WinSock error"},
               {12001, "Not a WinSock error"}};
  for (const auto& d : descs) EXPECT_EQ(zorv::WSocketErrorDesc(d.error), d.text) << d.error;

  struct {
    int err, wsa;
  } maps[] = {{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054}, {EPIPE, 10054},
              {ENOTCONN, 10057},     {EWOULDBLOCK, 10035}, {EINPROGRESS, 10036}, {ENETUNREACH, 10051},
              {EHOSTUNREACH, 10065}, {EADDRINUSE, 10048}, {EINVAL, 10022},     {EBADF, 10038},
              {ENOTSOCK, 10038}};
  for (const auto& m : maps) EXPECT_EQ(zorv::WSocketErrorFromErrno(m.err), m.wsa) << m.err;
  EXPECT_EQ(zorv::WSocketErrorFromGai(EAI_NONAME), 11001);
  EXPECT_EQ(zorv::WSocketErrorFromGai(EAI_AGAIN), 11002);
  EXPECT_EQ(zorv::WSocketErrorFromGai(EAI_FAIL), 11003);
}

TEST(WSocketErrors, SendWhileNotConnectedIsAFormattedPlatformError) {
  TWSocket s;
  EXPECT_EQ(errorText([&] { s.SendStr("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(s.LastError(), 10057);
  EXPECT_EQ(s.State(), wsClosed);
  // With OnError bound the call carries on and reports through the event.
  int errors = 0;
  s.OnError = [&](TCustomWSocket*) { ++errors; };
  EXPECT_EQ(s.SendStr("x"), -1);
  EXPECT_EQ(errors, 1);
}

TEST(WSocketLookup, DottedAddressCompletesInsideTheCall) {
  TWSocket s;
  Recorder r;
  r.attach(s);
  s.DnsLookup("127.1");
  EXPECT_EQ(r.events, V{"DnsLookupDone 0"});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_TRUE(s.DnsResultList().empty());
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketLookup, EmptyNameIsRefused) {
  TWSocket s;
  Recorder r;
  r.attach(s);
  EXPECT_EQ(errorText([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
  EXPECT_TRUE(r.events.empty());
  int errors = 0;
  s.OnError = [&](TCustomWSocket*) { r.events.push_back("Error"); ++errors; };
  s.DnsLookup("");
  EXPECT_EQ(r.events, (V{"Error", "DnsLookupDone 10022"}));
}

TEST(WSocketLookup, NamesCompleteFromTheEventLoop) {
  TWSocket s;
  Recorder r;
  r.attach(s);
  s.DnsLookup("no-such-host.invalid");
  EXPECT_TRUE(r.events.empty()) << "a name never completes inside the call";
  ASSERT_TRUE(waitFor([&] { return !r.events.empty(); }));
  EXPECT_EQ(r.events, V{"DnsLookupDone 11001"});
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.DnsResult(), "");

  r.events.clear();
  s.DnsLookup("localhost");
  ASSERT_TRUE(waitFor([&] { return !r.events.empty(); }));
  EXPECT_EQ(r.events, V{"DnsLookupDone 0"});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  ASSERT_FALSE(s.DnsResultList().empty());
  EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");

  r.events.clear();
  s.ReverseDnsLookup("127.0.0.1");
  EXPECT_TRUE(r.events.empty());
  ASSERT_TRUE(waitFor([&] { return !r.events.empty(); }));
  EXPECT_EQ(r.events, V{"DnsLookupDone 0"});
  EXPECT_EQ(s.DnsResult(), "localhost");
  EXPECT_EQ(s.DnsResultList(), V{"localhost"});
}

TEST(WSocketLookup, SupersededAndCancelledRequestsAreDropped) {
  TWSocket s;
  Recorder r;
  r.attach(s);
  s.DnsLookup("localhost");
  s.DnsLookup("10.1.2.3");  // supersedes the pending one
  s.DnsLookup("no-such-host.invalid");
  s.CancelDnsLookup();
  pumpFor(200);
  EXPECT_EQ(r.events, (V{"DnsLookupDone 0", "DnsLookupDone 10004"}));
  EXPECT_EQ(s.DnsResult(), "") << "the cancelled lookup cleared the previous result";

  // A socket destroyed with a lookup pending gets nothing and breaks nothing.
  auto t = std::make_unique<TWSocket>();
  bool called = false;
  t->OnDnsLookupDone = [&](TCustomWSocket*, uint16_t) { called = true; };
  t->DnsLookup("localhost");
  t.reset();
  pumpFor(200);
  EXPECT_FALSE(called);
}

TEST(WSocketSession, LookupConnectDataAndServerCloseWithUnreadData) {
  RawPeer peer;
  TWSocket s;
  Recorder r;
  r.chunk = 100;  // one small Receive per event, as the main window does
  r.attach(s);
  s.OnDnsLookupDone = [&](TCustomWSocket* sock, uint16_t e) {
    r.add("DnsLookupDone", e);
    sock->SetAddr(sock->DnsResult());
    sock->SetPort(peer.portStr());
    sock->SetProto("tcp");
    sock->Connect();
  };
  s.DnsLookup("localhost");
  ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }));
  EXPECT_EQ(r.events, (V{"DnsLookupDone 0", "Closed>Opened", "Opened>Connecting",
                         "Connecting>Connected", "SessionConnected 0"}));
  EXPECT_EQ(s.GetPeerAddr(), "127.0.0.1");
  EXPECT_NE(s.GetXPort(), "error");
  ASSERT_TRUE(peer.accept());

  s.SendStr("NICK zorv\r\n");
  EXPECT_EQ(peer.read(11), "NICK zorv\r\n");

  // The server sends a burst and closes before the client has read any of it.
  std::string burst;
  for (int i = 0; i < 2000; ++i) burst += "line " + std::to_string(i) + "\r\n";
  peer.send(burst);
  peer.closeClient();
  r.events.clear();
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
  EXPECT_EQ(r.data, burst);
  EXPECT_EQ(r.events, (V{"DataAvailable 0", "SessionClosed 0", "Connected>Closed"}));
  EXPECT_EQ(s.State(), wsClosed);
  // Reset to defaults: the address and port must be given again.
  EXPECT_EQ(errorText([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetPort(peer.portStr());
  EXPECT_EQ(errorText([&] { s.Connect(); }), "Connect: No IP Address Specified");
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
}

TEST(WSocketSession, RefusedConnectGivesConnectedWithErrorThenClosed) {
  TWSocket s;
  Recorder r;
  r.attach(s);
  connectTo(s, testsupport::unusedPort());
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
  EXPECT_EQ(r.events, (V{"Closed>Opened", "Opened>Connecting", "Connecting>Connected",
                         "SessionConnected 10061", "Connected>Closed", "SessionClosed 0"}));
  EXPECT_EQ(s.State(), wsClosed);
  pumpFor(50);
  EXPECT_EQ(r.events.size(), 6u) << "nothing follows";
}

TEST(WSocketSession, LocalCloseRaisesClosedBeforeReturning) {
  RawPeer peer;
  TWSocket s;
  Recorder r;
  r.attach(s);
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
  r.events.clear();
  s.Close();
  EXPECT_EQ(r.events, (V{"Connected>Closed", "SessionClosed 0"}));
  s.Close();  // already closed: nothing
  EXPECT_EQ(r.events.size(), 2u);

  // Close while the connect is under way: closed at once, the late connect
  // notification is ignored.
  r.events.clear();
  connectTo(s, peer.port());
  ASSERT_EQ(s.State(), wsConnecting);
  s.Close();
  pumpFor(100);
  EXPECT_EQ(r.main(), V{"SessionClosed 0"});
}

TEST(WSocketProperties, SetterAndConnectRefusals) {
  RawPeer peer;
  TWSocket s;
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
  struct {
    std::function<void()> call;
    const char* text;
  } cases[] = {
      {[&] { s.SetAddr("127.0.0.2"); }, "Cannot change Addr if not closed"},
      {[&] { s.SetPort("1"); }, "Cannot change Port if not closed"},
      {[&] { s.SetProto("udp"); }, "Cannot change Proto if not closed"},
      {[&] { s.SetAddr("127.0.0.1"); }, "<no exception>"},  // the same text: nothing happens
      {[&] { s.SetPort(peer.portStr()); }, "<no exception>"},
      {[&] { s.Connect(); }, "Connect: Socket already in use"},
      {[&] { s.SetSendFlags(static_cast<TSocketSendFlags>(7)); }, "Invalid SendFlags"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorText(c.call), c.text);
  EXPECT_EQ(s.State(), wsConnected);
  s.Close();

  struct {
    std::string addr, port, proto;
    const char* text;
  } refusals[] = {
      {"127.0.0.1", "", "tcp", "Connect: No Port Specified"},
      {"", "6667", "tcp", "Connect: No IP Address Specified"},
      {"127.0.0.1", "6667", "", "Connect: No Protocol Specified"},
      {"127.0.0.1", std::string(32, '1'), "tcp", "connect:WSocketResolvePort: Invalid Port."},
      {"127.0.0.1", "irc", "tcp", "connect:WSocketResolvePort: Cannot convert port 'irc'"},
      {"127.0.0.1", "6667", "nosuchproto", "connect:WSocketResolveProto: Cannot convert protocol 'nosuchproto'"},
      {"127.0.0.1", "6667", std::string(32, 'p'), "connect:WSocketResolveProto: Invalid Protocol."},
      {"no-such-host.invalid", "6667", "tcp",
       "connect:WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
      {std::string(257, 'a'), "6667", "tcp", "connect:WSocketResolveHost: Invalid Hostname."},
  };
  for (const auto& c : refusals) {
    TWSocket t;
    t.SetAddr(c.addr);
    t.SetPort(c.port);
    t.SetProto(c.proto);
    EXPECT_EQ(errorText([&] { t.Connect(); }), c.text) << c.addr << " " << c.port << " " << c.proto;
    EXPECT_EQ(t.State(), wsClosed);
  }
}

TEST(WSocketProperties, PortsProtocolsAndTrimming) {
  EXPECT_EQ(zorv::WSocketResolvePort("ircd", "tcp"), 6667);
  EXPECT_EQ(zorv::WSocketResolvePort("6667", "tcp"), 6667);
  EXPECT_EQ(zorv::WSocketResolvePort("72203", "tcp"), 6667);  // modulo 65536
  EXPECT_EQ(zorv::WSocketResolvePort("80abc", "tcp"), 80);    // digits up to the first non-digit
  EXPECT_EQ(zorv::WSocketResolveProto("udp"), 17);
  EXPECT_EQ(zorv::WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(zorv::WSocketResolveProto("17"), 17);
  EXPECT_EQ(zorv::WSocketResolveHost(" 127.1 "), htonl(0x7f000001));

  TWSocket s;
  s.SetAddr("  127.0.0.1\t");
  EXPECT_EQ(s.Addr(), "127.0.0.1");
  s.SetPort("   ");
  EXPECT_EQ(errorText([&] { s.Connect(); }), "Connect: No Port Specified");

  // A port above 65535 connects to its value modulo 65536.
  RawPeer peer;
  Recorder r;
  r.attach(s);
  s.SetPort(std::to_string(peer.port() + 65536));
  s.Connect();
  ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }));
  EXPECT_TRUE(peer.accept());
}

// Records what each raw send was offered and what it took.
class RecordingSocket : public TWSocket {
 public:
  std::vector<std::pair<int, int>> sends;  // offered, taken
 protected:
  int RealSend(const void* data, int len) override {
    int n = TWSocket::RealSend(data, len);
    sends.emplace_back(len, n);
    return n;
  }
};

TEST(WSocketSend, QueueOfChunksDeliveredWholeToASlowReader) {
  RawPeer peer(1);  // the smallest receive buffer the system allows
  RecordingSocket s;
  Recorder r;
  r.attach(s);
  int sent = 0;
  s.OnDataSent = [&](TCustomWSocket*, uint16_t e) { r.add("DataSent", e); ++sent; };
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
  ASSERT_TRUE(peer.accept());
  int small = 1;
  ASSERT_EQ(::setsockopt(s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);

  // Fill the path first (whole chunks) so that the 4000 bytes cannot all go at once.
  std::string filler(1514 * 100, 'f');
  s.Send(filler.data(), static_cast<int>(filler.size()));
  std::string payload;
  for (int i = 0; i < 4000; ++i) payload += static_cast<char>('a' + i % 26);
  EXPECT_EQ(s.Send(payload.data(), 4000), 4000);
  EXPECT_GT(s.BufferedByteCount(), 4000);
  EXPECT_EQ(sent, 0) << "OnDataSent never fires inside Send";

  const int total = static_cast<int>(filler.size()) + 4000;
  std::string got = peer.read(static_cast<size_t>(total), 20000);
  ASSERT_EQ(got.size(), static_cast<size_t>(total));
  EXPECT_EQ(got.substr(filler.size()), payload);
  ASSERT_TRUE(waitFor([&] { return sent > 0; }));
  EXPECT_EQ(s.BufferedByteCount(), 0);

  // Every raw send offers the unsent rest of one chunk; where the chunks end
  // shows the split of the payload: 1514, 1514 and 972 bytes.
  int pos = 0, partial = 0;
  std::vector<int> ends;
  for (auto [offered, taken] : s.sends) {
    if (taken <= 0) continue;
    EXPECT_LE(pos % 1514 + offered, pos >= static_cast<int>(filler.size()) + 3028 ? 972 : 1514)
        << "an offer crossed a chunk boundary at " << pos;
    if (taken < offered) ++partial;
    pos += taken;
    if (taken == offered) ends.push_back(pos);
  }
  EXPECT_GT(partial, 0) << "the small buffers forced partial sends";
  EXPECT_EQ(pos, total);
  ASSERT_GE(ends.size(), 3u);
  const int f = static_cast<int>(filler.size());
  EXPECT_EQ(std::vector<int>(ends.end() - 3, ends.end()), (std::vector<int>{f + 1514, f + 3028, f + 4000}));
}

TEST(WSocketSend, DataSentFollowsFromTheEventLoop) {
  RawPeer peer;
  TWSocket s;
  Recorder r;
  r.attach(s);
  s.OnDataSent = [&](TCustomWSocket*, uint16_t e) { r.add("DataSent", e); };
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
  ASSERT_TRUE(peer.accept());
  r.events.clear();
  s.SendStr("PING :x\r\n");
  EXPECT_TRUE(r.events.empty());
  ASSERT_TRUE(waitFor([&] { return r.has("DataSent 0"); }));
  EXPECT_EQ(peer.read(9), "PING :x\r\n");
}

TEST(WSocketSend, ConnectionLostWhileSendingClosesWithTheError) {
  RawPeer peer;
  TWSocket s;
  Recorder r;
  r.attach(s);
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
  ASSERT_TRUE(peer.accept());
  s.Pause();  // no notifications: the reset is found by the send
  peer.resetClient();
  pollfd p{s.HSocket(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  r.events.clear();
  s.SendStr("QUIT\r\n");
  EXPECT_EQ(r.events, (V{"Connected>Closed", "SessionClosed 10054"}));
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketReceive, NothingWaitingAndReceiveStr) {
  RawPeer peer;
  TWSocket s;
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
  ASSERT_TRUE(peer.accept());
  char buf[16];
  EXPECT_EQ(s.Receive(buf, sizeof buf), -1);
  EXPECT_EQ(s.LastError(), 10035);
  EXPECT_EQ(s.RcvdCount(), 0);
  EXPECT_EQ(s.ReceiveStr(), "");

  // Without a data handler the bytes are read and dropped; with one that
  // takes everything at once, ReceiveStr hands out all that waits.
  std::string got;
  s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) { got += sock->ReceiveStr(); };
  peer.send("abc\r\ndef\r\n");
  ASSERT_TRUE(waitFor([&] { return got.size() == 10; }));
  EXPECT_EQ(got, "abc\r\ndef\r\n");
  EXPECT_EQ(s.ReadCount(), 0) << "ReceiveStr leaves ReadCount alone";
}

TEST(WSocketDatagram, ConnectSendAndReceive) {
  int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(udp, reinterpret_cast<sockaddr*>(&a), &len);

  TWSocket s;
  Recorder r;
  r.attach(s, false);
  std::string got;
  s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) {
    char buf[100];
    sockaddr_in from{};
    int fromLen = 0;
    int n = sock->ReceiveFrom(buf, sizeof buf, from, fromLen);
    if (n > 0) got.assign(buf, static_cast<size_t>(n));
  };
  connectTo(s, ntohs(a.sin_port), "udp");
  EXPECT_EQ(r.events, (V{"Closed>Opened", "Opened>Connected", "SessionConnected 0"}))
      << "a datagram socket is connected inside Connect";
  s.SendStr("ping");
  char buf[100];
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  ASSERT_TRUE(waitFor([&] {
    return ::recvfrom(udp, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen) == 4;
  }));
  EXPECT_EQ(std::string(buf, 4), "ping");
  EXPECT_EQ(std::to_string(ntohs(from.sin_port)), s.GetXPort());
  ::sendto(udp, "pong", 4, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  ASSERT_TRUE(waitFor([&] { return got == "pong"; }));
  EXPECT_EQ(s.ReadCount(), 4);
  ::close(udp);
}

TEST(WSocketRobustness, ExceptionsInHandlersStopAtTheEventLoop) {
  RawPeer peer;
  TWSocket s;
  testsupport::shownMessages().clear();
  s.OnSessionConnected = [](TCustomWSocket*, uint16_t) { throw ESocketException("handler failed"); };
  connectTo(s, peer.port());
  ASSERT_TRUE(waitFor([&] { return !testsupport::shownMessages().isEmpty(); }));
  EXPECT_EQ(testsupport::shownMessages().front(), "handler failed");
  ASSERT_TRUE(peer.accept());

  // The read loop swallows what its handler throws, and the session goes on.
  int calls = 0;
  s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) {
    ++calls;
    sock->ReceiveStr();
    throw std::runtime_error("bad line");
  };
  peer.send("x");
  ASSERT_TRUE(waitFor([&] { return calls == 1; }));
  peer.send("y");
  ASSERT_TRUE(waitFor([&] { return calls == 2; }));
  EXPECT_EQ(testsupport::shownMessages().size(), 1);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(WSocketRobustness, DeletedOrClosedInsideItsOwnHandlers) {
  RawPeer peer;
  // Deleted by the owner in the data handler, with more data and a close due.
  auto* s = new TWSocket;
  QPointer<TWSocket> alive(s);
  s->OnDataAvailable = [](TCustomWSocket* sock, uint16_t) { delete sock; };
  connectTo(*s, peer.port());
  ASSERT_TRUE(peer.accept());
  peer.send(std::string(5000, 'x'));
  peer.closeClient();
  ASSERT_TRUE(waitFor([&] { return alive.isNull(); }));
  pumpFor(50);

  // Deleted in the close handler; closed and reconnected in the data handler.
  RawPeer peer2;
  auto* t = new TWSocket;
  QPointer<TWSocket> alive2(t);
  t->OnSessionClosed = [](TCustomWSocket* sock, uint16_t) { delete sock; };
  connectTo(*t, peer2.port());
  ASSERT_TRUE(peer2.accept());
  peer2.closeClient();
  ASSERT_TRUE(waitFor([&] { return alive2.isNull(); }));

  RawPeer peer3;
  TWSocket u;
  int reconnects = 0;
  u.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) {
    sock->Close();
    if (reconnects++ == 0) connectTo(*sock, peer3.port());
  };
  connectTo(u, peer3.port());
  ASSERT_TRUE(peer3.accept());
  peer3.send("first");
  ASSERT_TRUE(waitFor([&] { return reconnects == 1 && u.State() == wsConnected; }));
  pumpFor(50);
  EXPECT_EQ(u.State(), wsConnected) << "the old session's notifications were ignored";
  EXPECT_EQ(reconnects, 1);
}

TEST(WSocketClose, LingerOnZeroResetsAndLingerOffDeliversEverything) {
  // The peer does not read while the client sends a backlog and QUIT and
  // closes at once; only then does it read what arrives.
  struct Case {
    TSocketLingerOnOff linger;
    bool everythingArrives;
  } cases[] = {{wsLingerOn, false}, {wsLingerOff, true}};
  for (const auto& c : cases) {
    RawPeer peer(1);
    TWSocket s;
    s.SetLingerOnOff(c.linger);
    s.SetLingerTimeout(0);
    connectTo(s, peer.port());
    ASSERT_TRUE(waitFor([&] { return s.State() == wsConnected; }));
    ASSERT_TRUE(peer.accept());
    std::string payload(20000, 'p');
    payload += "QUIT :bye\r\n";
    s.SendStr(payload);
    int queued = 0;
    ::ioctl(s.HSocket(), TIOCOUTQ, &queued);
    EXPECT_GT(queued, 0) << "bytes are still in the kernel when Close is called";
    s.Close();
    std::string got = peer.read(payload.size() + 1);
    if (c.everythingArrives) {
      EXPECT_EQ(got, payload);
      EXPECT_TRUE(peer.eof) << "a FIN ends the stream";
      EXPECT_EQ(peer.error, 0);
    } else {
      EXPECT_LT(got.size(), payload.size()) << "the reset dropped the unsent bytes";
      EXPECT_EQ(peer.error, ECONNRESET);
    }
  }
}

TEST(WSocketLifetime, ProcessWideCount) {
  const int base = TCustomWSocket::SocketCount();
  {
    TWSocket a, b;
    EXPECT_EQ(TCustomWSocket::SocketCount(), base + 2);
  }
  EXPECT_EQ(TCustomWSocket::SocketCount(), base);
}
