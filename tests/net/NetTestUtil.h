#pragma once
// Helpers for the socket component tests: an event recorder, a raw loopback
// peer whose descriptor the test can tune, and short set-up calls.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "WSocket.h"

namespace nettest {

using testsupport::pumpFor;
using testsupport::waitFor;
using V = std::vector<std::string>;

// The exception text of f, or "<no exception>".
inline std::string errorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESocketException& e) {
    return e.what();
  }
  return "<no exception>";
}

inline void setTarget(TCustomWSocket& s, const std::string& addr, const std::string& port,
                      const std::string& proto = "tcp") {
  s.SetAddr(addr);
  s.SetPort(port);
  s.SetProto(proto);
}

inline void connectTo(TCustomWSocket& s, int port, const std::string& proto = "tcp") {
  setTarget(s, "127.0.0.1", std::to_string(port), proto);
  s.Connect();
}

// Records the component's events as short texts, in order ("Closed>Opened"
// for a state change). The data handler takes at most `chunk` bytes per call.
struct Recorder {
  V events;
  std::string data;
  int chunk = 4096;

  void attach(TCustomWSocket& s, bool reader = true) {
    static const char* names[] = {"Invalid", "Opened", "Bound", "Connecting",
                                  "Connected", "Accepting", "Listening", "Closed"};
    s.OnDnsLookupDone = [this](TCustomWSocket*, uint16_t e) { add("DnsLookupDone", e); };
    s.OnSessionConnected = [this](TCustomWSocket*, uint16_t e) { add("SessionConnected", e); };
    s.OnSessionClosed = [this](TCustomWSocket*, uint16_t e) { add("SessionClosed", e); };
    s.OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
      events.push_back(std::string(names[o]) + ">" + names[n]);
    };
    if (!reader) return;
    s.OnDataAvailable = [this](TCustomWSocket* sock, uint16_t e) {
      std::string buf(static_cast<size_t>(chunk), '\0');
      int n = sock->Receive(buf.data(), chunk);
      if (n > 0) data.append(buf.data(), static_cast<size_t>(n));
      if (events.empty() || events.back() != "DataAvailable " + std::to_string(e)) add("DataAvailable", e);
    };
  }
  void add(const char* what, int e) { events.push_back(std::string(what) + " " + std::to_string(e)); }
  bool has(const std::string& ev) const {
    for (const auto& e : events)
      if (e == ev) return true;
    return false;
  }
  // The events without the state changes.
  V main() const {
    V r;
    for (const auto& e : events)
      if (e.find('>') == std::string::npos) r.push_back(e);
    return r;
  }
};

// A TCP listener on a loopback port the system hands out (written to *port);
// extraFlags go to socket(), rcvbuf (when > 0) sizes the receive buffer of
// the connections it accepts; v6: on ::1 instead of 127.0.0.1.
inline int listenLoopback(int* port, int extraFlags = 0, int rcvbuf = 0, bool v6 = false) {
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | extraFlags, 0);
  if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in6 a{};  // the port is at the same place in both families
  if (v6) {
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
  } else {
    auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  socklen_t len = v6 ? sizeof a : sizeof(sockaddr_in);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  ::listen(fd, 4);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  *port = ntohs(a.sin6_port);
  return fd;
}

// A loopback TCP listener with the accepted descriptor exposed.
class RawPeer {
 public:
  explicit RawPeer(int rcvbuf = 0, bool v6 = false) { listener_ = listenLoopback(&port_, SOCK_NONBLOCK, rcvbuf, v6); }
  ~RawPeer() {
    closeClient();
    ::close(listener_);
  }
  int port() const { return port_; }
  std::string portStr() const { return std::to_string(port_); }
  bool accept(int ms = 3000) {
    return waitFor([&] {
      if (client_ < 0) client_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      return client_ >= 0;
    }, ms);
  }
  void send(const std::string& s) {
    for (size_t off = 0; off < s.size();) {
      ssize_t n = ::send(client_, s.data() + off, s.size() - off, MSG_NOSIGNAL);
      if (n > 0) off += static_cast<size_t>(n);
      else if (n < 0 && errno == EAGAIN) pumpFor(1);
      else return;
    }
  }
  // Everything read so far, once `want` bytes arrived, the peer closed (eof)
  // or failed (error holds errno), or the time is up.
  std::string read(size_t want, int ms = 5000) {
    waitFor([&] {
      char buf[65536];
      ssize_t n;
      while ((n = ::recv(client_, buf, sizeof buf, 0)) > 0) got_.append(buf, static_cast<size_t>(n));
      if (n == 0) eof = true;
      if (n < 0 && errno != EAGAIN) error = errno;
      return got_.size() >= want || eof || error != 0;
    }, ms);
    return got_;
  }
  void closeClient() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
  }
  // Closes with a reset instead of a FIN.
  void resetClient() {
    linger l{1, 0};
    ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    closeClient();
  }
  bool eof = false;
  int error = 0;

 private:
  int listener_ = -1, client_ = -1, port_ = 0;
  std::string got_;
};

// Connects s to the peer and waits until both ends have the session.
inline bool connectPeer(TCustomWSocket& s, RawPeer& peer) {
  connectTo(s, peer.port());
  return waitFor([&] { return s.State() == wsConnected; }) && peer.accept();
}

}  // namespace nettest
