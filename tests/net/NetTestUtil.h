#pragma once
// Helpers for the socket component tests: an event recorder and short
// set-up calls; the loopback peer is the shared one.
#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "WSocket.h"

namespace nettest {

using testsupport::pumpFor;
using testsupport::waitFor;
using Peer = testsupport::LoopbackServer;
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

  Recorder() = default;
  explicit Recorder(TCustomWSocket& s) { attach(s); }
  void attach(TCustomWSocket& s, bool reader = true) {
    static const char* names[] = {"Invalid",   "Opened",    "Bound",     "Connecting",
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
  bool has(const std::string& ev) const { return std::find(events.begin(), events.end(), ev) != events.end(); }
  // The events without the state changes.
  V main() const {
    V r;
    std::copy_if(events.begin(), events.end(), std::back_inserter(r),
                 [](const std::string& e) { return e.find('>') == std::string::npos; });
    return r;
  }
};

// Connects s to the peer and waits until both ends have the session and
// what the connect handler sent has left the queue.
inline bool connectPeer(TCustomWSocket& s, Peer& peer) {
  connectTo(s, peer.port());
  return peer.accept() && waitFor([&] { return s.State() == wsConnected && s.BufferedByteCount() == 0; });
}

// A look-up that connects to its result at `port` once done, as the main window does.
inline void connectOnLookup(TCustomWSocket& s, Recorder& r, int port) {
  s.OnDnsLookupDone = [&r, port](TCustomWSocket* sock, uint16_t e) {
    r.add("DnsLookupDone", e);
    setTarget(*sock, sock->DnsResult(), std::to_string(port));
    sock->Connect();
  };
}

const V kLookedUpAndConnected = {"DnsLookupDone 0", "Closed>Opened", "Opened>Connecting", "Connecting>Connected",
                                 "SessionConnected 0"};

}  // namespace nettest
