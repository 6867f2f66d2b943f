// Host lookups (on worker threads, results posted back) and the resolution
// of the Addr, Port and Proto texts.
#include <arpa/inet.h>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>

#include "WSocketPrivate.h"

using namespace zorv;
using namespace zorv::detail;

namespace zorv::detail {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

uint32_t readDigits(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  uint32_t v = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) v = v * 10u + static_cast<uint32_t>(s[i] - '0');
  return v;
}

std::string dotted(uint32_t addr) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = addr;
  ::inet_ntop(AF_INET, &in, buf, sizeof buf);
  return buf;
}

}  // namespace zorv::detail

namespace {

// Pending host lookups: request handle -> the notification object that gets
// the result. Workers post only while their handle is registered, under the
// lock, so they never post to an object that is gone; a cancelled or
// superseded request is simply no longer registered.
struct LookupRegistry {
  std::mutex mutex;
  std::unordered_map<int, TSocketWindow*> pending;
  int next = 0;
};
LookupRegistry& lookups() {
  static auto* r = new LookupRegistry;  // never freed: workers may outlive statics
  return *r;
}

void lookupByName(const std::string& name, TSocketMessage& m) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
  if (rc != 0) {
    m.Error = WSocketErrorFromGai(rc);
    return;
  }
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (p->ai_family != AF_INET) continue;
    m.Results.push_back(dotted(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr));
  }
  ::freeaddrinfo(res);
  if (m.Results.empty()) m.Error = WSANO_DATA;
}

void lookupByAddr(const std::string& addr, TSocketMessage& m) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ::inet_addr(addr.c_str());
  if (sa.sin_addr.s_addr == INADDR_NONE && addr != "255.255.255.255") {
    m.Error = WSAEINVAL;
    return;
  }
  char host[NI_MAXHOST] = {};
  const int rc =
      ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0, NI_NAMEREQD);
  if (rc != 0)
    m.Error = WSocketErrorFromGai(rc);
  else
    m.Results.push_back(host);
}

void lookupWorker(int handle, std::string name, bool reverse) {
  TSocketMessage m;
  m.Msg = reverse ? WM_ASYNCGETHOSTBYADDR : WM_ASYNCGETHOSTBYNAME;
  m.WParam = handle;
  if (reverse)
    lookupByAddr(name, m);
  else
    lookupByName(name, m);
  LookupRegistry& r = lookups();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.pending.find(handle);
  if (it != r.pending.end()) {
    TSocketWindow* w = it->second;
    r.pending.erase(it);
    w->Post(m);
  }
}

int registerLookup(TSocketWindow* w) {
  LookupRegistry& r = lookups();
  std::lock_guard<std::mutex> lock(r.mutex);
  do {
    r.next = r.next == INT32_MAX ? 1 : r.next + 1;
  } while (r.pending.count(r.next));
  r.pending[r.next] = w;
  return r.next;
}

}  // namespace

void zorv::detail::forgetLookup(int handle) {
  if (handle == 0) return;
  LookupRegistry& r = lookups();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.pending.erase(handle);
}

// ---------------------------------------------------------------------------
// Resolution of the texts

namespace zorv {

int WSocketResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  std::string t = trim(proto);
  if (!t.empty() && isDigit(t[0])) return static_cast<int>(readDigits(t));
  protoent pe{}, *res = nullptr;
  char buf[1024];
  if (::getprotobyname_r(t.c_str(), &pe, buf, sizeof buf, &res) != 0 || !res)
    throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + proto + "'");
  return res->p_proto;
}

int WSocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (isDigit(port[0])) return static_cast<int>(readDigits(port) % 65536u);
  std::string name = trim(port), p = trim(proto);
  servent se{}, *res = nullptr;
  char buf[1024];
  if (::getservbyname_r(name.c_str(), p.empty() ? nullptr : p.c_str(), &se, buf, sizeof buf, &res) != 0 ||
      !res)
    throw ESocketException("WSocketResolvePort: Cannot convert port '" + port + "'");
  return ntohs(static_cast<uint16_t>(res->s_port));
}

uint32_t WSocketResolveHost(const std::string& addr) {
  if (addr.empty() || addr.size() > 256) throw ESocketException("WSocketResolveHost: Invalid Hostname.");
  std::string t = trim(addr).substr(0, 255);
  in_addr_t a = ::inet_addr(t.c_str());
  if (a != INADDR_NONE) return a;
  if (t == "255.255.255.255") return INADDR_BROADCAST;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (!t.empty() && ::getaddrinfo(t.c_str(), nullptr, &hints, &res) == 0 && res) {
    uint32_t r = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return r;
  }
  throw ESocketException("WSocketResolveHost: Cannot convert host address '" + addr + "'");
}

}  // namespace zorv

void TCustomWSocket::ResolveAll() {
  if (!protoResolved_) {
    proto_ = WSocketResolveProto(protoStr_);
    type_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
    protoResolved_ = true;
  }
  if (!portResolved_) {
    sin_.sin_port = htons(static_cast<uint16_t>(WSocketResolvePort(portStr_, protoStr_)));
    portResolved_ = true;
  }
  if (!addrResolved_) {
    sin_.sin_family = AF_INET;
    sin_.sin_addr.s_addr = WSocketResolveHost(addrStr_);
    addrResolved_ = true;
  }
}

// ---------------------------------------------------------------------------
// Host lookup

// What both lookups do first: refuse an empty name, drop a pending lookup and
// the last result. False when the name was refused.
bool TCustomWSocket::BeginLookup(const std::string& name) {
  if (name.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return false;
  }
  if (dnsRequest_ != 0) {
    forgetLookup(dnsRequest_);
    dnsRequest_ = 0;
  }
  dnsResult_.clear();
  dnsResultList_.clear();
  return true;
}

void TCustomWSocket::DnsLookup(const std::string& hostName) {
  if (!BeginLookup(hostName)) return;
  in_addr_t a = ::inet_addr(hostName.c_str());
  if (a != INADDR_NONE) {
    dnsResult_ = dotted(a);
    TriggerDnsLookupDone(0);
    return;
  }
  StartLookup(hostName, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& hostAddr) {
  if (!BeginLookup(hostAddr)) return;
  StartLookup(hostAddr, true);
}

void TCustomWSocket::StartLookup(const std::string& name, bool reverse) {
  const int handle = registerLookup(window_);
  try {
    std::thread(lookupWorker, handle, name, reverse).detach();
  } catch (const std::system_error& e) {
    forgetLookup(handle);
    RaiseException(name + ": can't start DNS lookup, error #" + std::to_string(e.code().value()));
    return;
  }
  dnsRequest_ = handle;
}

void TCustomWSocket::CancelDnsLookup() {
  if (dnsRequest_ == 0) return;
  forgetLookup(dnsRequest_);
  dnsRequest_ = 0;
  if (!destroying_) TriggerDnsLookupDone(WSAEINTR);
}

void TCustomWSocket::HandleLookupDone(TSocketMessage& msg) {
  if (msg.WParam != dnsRequest_ || dnsRequest_ == 0) return;
  dnsRequest_ = 0;
  if (msg.Error == 0) {
    if (msg.Msg == WM_ASYNCGETHOSTBYNAME) {
      dnsResultList_ = msg.Results;
      dnsResult_ = dnsResultList_.empty() ? std::string() : dnsResultList_.front();
    } else {
      dnsResult_ = msg.Results.empty() ? std::string() : msg.Results.front();
      dnsResultList_.assign(1, dnsResult_);
    }
  }
  if (!destroying_) TriggerDnsLookupDone(static_cast<uint16_t>(msg.Error));
}
