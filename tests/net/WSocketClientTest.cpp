// The client path of the socket component against loopback peers: event
// orders, lookups, errors and their texts, the send queue, closing, both
// address families, and a peer that floods.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <QDir>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>

#include "NetTestUtil.h"

using namespace nettest;

// The texts a user can meet: a send without a connection, a look-up that
// ends while connected, and a server or port that cannot be used.
TEST(WSocketErrors, TextsOfFailedAndRefusedCalls) {
  for (const auto& [e, text] : {std::pair<int, const char*>{10054, "Connection reset by peer"},
                                {10061, "Connection refused"},
                                {11001, "Host not found"},
                                {12001, "Not a WinSock error"}})
    EXPECT_EQ(zorv::WSocketErrorDesc(e), text) << e;

  TWSocket idle;
  EXPECT_EQ(errorText([&] { idle.SendStr("x"); }), "Error 10057 in function Send\r\nSocket is not connected");

  // A look-up that ends while the session is up (Connect pressed again).
  Peer peer;
  TWSocket s;
  ASSERT_TRUE(connectPeer(s, peer));
  EXPECT_EQ(errorText([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(errorText([&] { s.Connect(); }), "Connect: Socket already in use");
  EXPECT_EQ(s.State(), wsConnected);

  const struct { std::string addr, port, proto; const char* text;
  } refusals[] = {
      {"127.0.0.1", "   ", "tcp", "Connect: No Port Specified"},
      {"", "6667", "tcp", "Connect: No IP Address Specified"},
      {"127.0.0.1", std::string(32, '1'), "tcp", "connect:WSocketResolvePort: Invalid Port."},
      {"127.0.0.1", "irc", "tcp", "connect:WSocketResolvePort: Cannot convert port 'irc'"},
      {"no-such-host.invalid", "6667", "tcp",
       "connect:WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'"},
      {std::string(257, 'a'), "6667", "tcp", "connect:WSocketResolveHost: Invalid Hostname."},
  };
  for (const auto& c : refusals) {
    TWSocket t;
    setTarget(t, c.addr, c.port, c.proto);
    EXPECT_EQ(errorText([&] { t.Connect(); }), c.text) << c.addr << " " << c.port << " " << c.proto;
    EXPECT_EQ(t.State(), wsClosed);
  }
}

TEST(WSocketLookup, AddressesInsideTheCallNamesFromTheEventLoop) {
  TWSocket s;
  Recorder r(s);
  s.DnsLookup("127.1");
  EXPECT_EQ(r.events, V{"DnsLookupDone 0"});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_EQ(errorText([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");

  r.events.clear();
  s.DnsLookup("no-such-host.invalid");
  EXPECT_TRUE(r.events.empty()) << "a name never completes inside the call";
  ASSERT_TRUE(waitFor([&] { return !r.events.empty(); }));
  EXPECT_EQ(r.events, V{"DnsLookupDone 11001"});
  EXPECT_EQ(s.DnsResult(), "");

  // A socket destroyed with a lookup pending gets nothing and breaks nothing.
  auto t = std::make_unique<TWSocket>();
  bool called = false;
  t->OnDnsLookupDone = [&](TCustomWSocket*, uint16_t) { called = true; };
  t->DnsLookup("localhost");
  t.reset();
  pumpFor(200);
  EXPECT_FALSE(called);
}

// A name, or an IPv6 literal that is its own look-up result as a dotted
// address is; then the server sends a burst and closes before the client has
// read any of it.
TEST(WSocketSession, LookupConnectDataAndServerCloseWithUnreadData) {
  for (const auto& [host, peerAddr] : {std::pair{"localhost", "127.0.0.1"}, std::pair{"0:0::1", "::1"}}) {
    SCOPED_TRACE(host);
    Peer peer(0, *peerAddr == ':');
    TWSocket s;
    Recorder r(s);
    r.chunk = 100;  // one small Receive per event, as the main window does
    connectOnLookup(s, r, peer.port());
    s.DnsLookup(host);
    ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }));
    EXPECT_EQ(r.events, kLookedUpAndConnected);
    EXPECT_EQ(s.GetPeerAddr(), peerAddr);
    ASSERT_TRUE(peer.accept());
    s.SendStr("NICK zorv\r\n");
    EXPECT_EQ(peer.read(11), "NICK zorv\r\n");

    std::string burst;
    for (int i = 0; i < 2000; ++i) burst += "line " + std::to_string(i) + "\r\n";
    peer.send(burst);
    peer.closeClient();
    r.events.clear();
    ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
    EXPECT_EQ(r.data, burst);
    EXPECT_EQ(r.events, (V{"DataAvailable 0", "SessionClosed 0", "Connected>Closed"}));
  }
}

const V kRefused = {"Closed>Opened",          "Opened>Connecting", "Connecting>Connected",
                    "SessionConnected 10061", "Connected>Closed",  "SessionClosed 0"};
V Then(V a, const V& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

TEST(WSocketSession, RefusedConnectAndLocalClose) {
  TWSocket s;
  Recorder r(s);
  connectTo(s, testsupport::unusedPort());
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
  pumpFor(50);
  EXPECT_EQ(r.events, kRefused);

  // A local close raises the close event before it returns; a second does nothing.
  Peer peer;
  ASSERT_TRUE(connectPeer(s, peer));
  r.events.clear();
  s.Close();
  s.Close();
  EXPECT_EQ(r.events, (V{"Connected>Closed", "SessionClosed 0"}));

  // Closed while the connect is under way: the late connect notification is ignored.
  r.events.clear();
  connectTo(s, peer.port());
  ASSERT_EQ(s.State(), wsConnecting);
  s.Close();
  pumpFor(100);
  EXPECT_EQ(r.main(), V{"SessionClosed 0"});
}

TEST(WSocketSend, QueueDeliveredWholeToASlowReader) {
  Peer peer(1);  // the smallest receive buffer the system allows
  TWSocket s;
  ASSERT_TRUE(connectPeer(s, peer));
  int small = 1;
  ASSERT_EQ(::setsockopt(s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);

  // Fill the path first so that the 4000 bytes cannot all go at once.
  const std::string filler(1514 * 100, 'f');
  const size_t total = filler.size() + 4000;
  s.SendStr(filler);
  std::string payload;
  for (int i = 0; i < 4000; ++i) payload += static_cast<char>('a' + i % 26);
  EXPECT_EQ(s.Send(payload.data(), 4000), 4000);
  EXPECT_GT(s.BufferedByteCount(), 4000);

  std::string got = peer.read(total, 20000);
  ASSERT_EQ(got.size(), total);
  EXPECT_EQ(got.substr(filler.size()), payload);
  EXPECT_TRUE(waitFor([&] { return s.BufferedByteCount() == 0; }));
}

TEST(WSocketSend, ConnectionLostWhileSendingClosesWithTheError) {
  Peer peer;
  TWSocket s;
  Recorder r(s);
  ASSERT_TRUE(connectPeer(s, peer));
  s.Pause();  // no notifications: the reset is found by the send
  peer.resetClient();
  pollfd p{s.HSocket(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  r.events.clear();
  s.SendStr("QUIT\r\n");
  EXPECT_EQ(r.events, (V{"Connected>Closed", "SessionClosed 10054"}));
}

TEST(WSocketRobustness, HandlersThatThrowOrDeleteTheSocket) {
  Peer peer;
  testsupport::shownMessages().clear();
  {
    // A handler's exception stops at the event loop; the session goes on.
    TWSocket s;
    s.OnSessionConnected = [](TCustomWSocket*, uint16_t) { throw ESocketException("handler failed"); };
    int calls = 0;
    s.OnDataAvailable = [&](TCustomWSocket* sock, uint16_t) {
      ++calls;
      sock->ReceiveStr();
      throw std::runtime_error("bad line");
    };
    ASSERT_TRUE(connectPeer(s, peer));
    EXPECT_EQ(testsupport::shownMessages(), QStringList{"handler failed"});
    for (int i = 1; i <= 2; ++i) {
      peer.send("x");
      ASSERT_TRUE(waitFor([&] { return calls == i; }));
    }
    EXPECT_EQ(s.State(), wsConnected);
  }
  // Deleted by the owner in the data handler (more data and a close due) or
  // in the close handler.
  for (bool inClose : {false, true}) {
    Peer p;
    auto* t = new TWSocket;
    QPointer<TWSocket> alive(t);
    (inClose ? t->OnSessionClosed : t->OnDataAvailable) = [](TCustomWSocket* sock, uint16_t) { delete sock; };
    ASSERT_TRUE(connectPeer(*t, p));
    p.send(std::string(5000, 'x'));
    p.closeClient();
    ASSERT_TRUE(waitFor([&] { return alive.isNull(); }));
    pumpFor(50);
  }
}

// With lingering off (as the program closes) a backlog and the QUIT after it
// still reach a peer that reads only after the close.
TEST(WSocketClose, LingerOffDeliversEverything) {
  Peer peer(1);
  TWSocket s;
  s.SetLingerOnOff(wsLingerOff);
  ASSERT_TRUE(connectPeer(s, peer));
  const std::string payload = std::string(20000, 'p') + "QUIT :bye\r\n";
  s.SendStr(payload);
  int queued = 0;
  ::ioctl(s.HSocket(), TIOCOUTQ, &queued);
  EXPECT_GT(queued, 0) << "bytes are still in the kernel when Close is called";
  s.Close();
  EXPECT_EQ(peer.read(payload.size() + 1), payload);
  EXPECT_TRUE(peer.eof && peer.error == 0) << "a FIN ends the stream";
}

namespace {

// An attempt timer the test fires by hand.
struct ManualTimer : zorv::TAttemptTimer {
  int armedMs = 0;  // 0: not armed
  void Start(int ms) override { armedMs = ms; }
  void Stop() override { armedMs = 0; }
};

int openDescriptors() { return static_cast<int>(QDir("/proc/self/fd").count()); }

}  // namespace

TEST(WSocketDualStack, AttemptsOverBothFamilies) {
  TWSocket s;
  Recorder r(s);
  // A name with both families: ::1 first, whose listener has a full backlog
  // so the attempt hangs; 127.0.0.1 answers. The second attempt starts when
  // the 250 ms step is over, wins, and the first attempt is closed.
  Peer peer4;
  sockaddr_storage a{};
  ASSERT_TRUE(zorv::WSocketParseLiteral("::1", a));
  reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(static_cast<uint16_t>(peer4.port()));
  const int full = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&a), sizeof(sockaddr_in6)), 0);
  ASSERT_EQ(::listen(full, 0), 0);
  const int filler = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof(sockaddr_in6)), 0);
  auto* timer = new ManualTimer;
  s.SetAttemptTimer(std::unique_ptr<zorv::TAttemptTimer>(timer));
  s.SetResolver([](const std::string&) { return zorv::TLookupAnswer{0, {"::1", "127.0.0.1"}}; });
  connectOnLookup(s, r, peer4.port());
  const int before = openDescriptors();
  s.DnsLookup("dual.test");
  ASSERT_TRUE(waitFor([&] { return r.has("DnsLookupDone 0"); }));
  EXPECT_EQ(s.DnsResultList(), (V{"::1", "127.0.0.1"}));
  EXPECT_EQ(s.State(), wsConnecting);
  EXPECT_EQ(timer->armedMs, 250);
  EXPECT_EQ(s.PendingAttempts(), 0) << "the second attempt waits for the step";
  timer->armedMs = -1;  // a re-armed or stopped timer shows
  timer->OnFire();
  EXPECT_EQ(s.PendingAttempts(), 1);
  ASSERT_TRUE(waitFor([&] { return r.has("SessionConnected 0"); }));
  EXPECT_EQ(r.events, kLookedUpAndConnected) << "one connect, whatever the attempts";
  EXPECT_EQ(s.GetPeerAddr(), "127.0.0.1");
  EXPECT_EQ(s.PendingAttempts(), 0);
  EXPECT_EQ(timer->armedMs, 0);
  EXPECT_EQ(openDescriptors(), before + 1) << "only the winner's descriptor is left";
  EXPECT_TRUE(peer4.accept());
  s.Close();

  // Every attempt refused: one failed connect, one close, the last reason.
  r.events.clear();
  connectOnLookup(s, r, testsupport::unusedPort());
  s.DnsLookup("dual.test");
  ASSERT_TRUE(waitFor([&] { return r.has("SessionClosed 0"); }));
  pumpFor(50);
  EXPECT_EQ(r.events, Then({"DnsLookupDone 0"}, kRefused));
  EXPECT_EQ(s.PendingAttempts(), 0);
  ::close(filler), ::close(full);
}

// A backlog that takes the handler many read slices to work through must not
// freeze the event loop: the read notification yields (a timer asked for at
// the first read fires before the backlog is done), and every byte still
// arrives in order.
TEST(WSocketFlood, ReadingYieldsToOtherEventsAndLosesNothing) {
  Peer server;
  TWSocket sock;
  std::string got;
  size_t atTimer = 0;
  sock.OnDataAvailable = [&](TCustomWSocket* s, uint16_t) {
    if (got.empty()) QTimer::singleShot(0, [&] { atTimer = got.size(); });
    char buf[1023];
    const int n = s->Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    // A handler with real work to do per line: slower than loopback can send.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
    while (std::chrono::steady_clock::now() < until) {
    }
  };
  ASSERT_TRUE(connectPeer(sock, server));
  const int big = 4 << 20;
  ::setsockopt(sock.HSocket(), SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sock.Pause();
  // The peer writes numbered bytes while the client reads nothing, until no more fits.
  std::string sent;
  for (pollfd p{server.fd(), POLLOUT, 0}; ::poll(&p, 1, 200) > 0;) {
    std::string chunk(65536, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>((sent.size() + i) % 251);
    const ssize_t n = ::send(server.fd(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) sent.append(chunk, 0, static_cast<size_t>(n));
    else if (errno != EAGAIN) break;
  }
  ASSERT_GT(sent.size(), 1u << 20) << "a backlog of several read slices";
  sock.Resume();
  ASSERT_TRUE(waitFor([&] { return got.size() == sent.size(); }, 20000)) << got.size() << " of " << sent.size();
  EXPECT_GT(atTimer, 0u);
  EXPECT_LT(atTimer, sent.size()) << "the timer only ran once the whole backlog was read";
  EXPECT_TRUE(got == sent) << "bytes lost or out of order";
}
