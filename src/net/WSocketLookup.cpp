// Host lookups (on worker threads, results posted back) and the resolution
// of the Addr, Port and Proto texts.
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
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

void lookupByName(const std::string& name, const TResolver& resolver, TSocketMessage& m) {
  TLookupAnswer a = resolver ? resolver(name) : WSocketSystemResolve(name);
  m.Error = a.Error;
  if (a.Error == 0) m.Results = std::move(a.Addrs);
  if (m.Error == 0 && m.Results.empty()) m.Error = WSANO_DATA;
}

void lookupByAddr(const std::string& addr, TSocketMessage& m) {
  sockaddr_storage sa{};
  if (!WSocketParseLiteral(addr, sa) && addr != "255.255.255.255") {
    m.Error = WSAEINVAL;
    return;
  }
  if (addr == "255.255.255.255") {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&sa);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = INADDR_BROADCAST;
  }
  char host[NI_MAXHOST] = {};
  const int rc = ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), WSocketAddrLen(sa), host, sizeof host, nullptr, 0,
                               NI_NAMEREQD);
  if (rc != 0)
    m.Error = WSocketErrorFromGai(rc);
  else
    m.Results.push_back(host);
}

void lookupWorker(int handle, std::string name, bool reverse, TResolver resolver) {
  TSocketMessage m;
  m.Msg = reverse ? WM_ASYNCGETHOSTBYADDR : WM_ASYNCGETHOSTBYNAME;
  m.WParam = handle;
  try {
    if (reverse)
      lookupByAddr(name, m);
    else
      lookupByName(name, resolver, m);
  } catch (...) {
    m.Results.clear();
    m.Error = WSANO_RECOVERY;
  }
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

sockaddr_storage WSocketResolveHostAddr(const std::string& addr) {
  if (addr.empty() || addr.size() > 256) throw ESocketException("WSocketResolveHost: Invalid Hostname.");
  sockaddr_storage out{};
  if (WSocketParseLiteral(trim(addr).substr(0, 255), out)) return out;
  try {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = WSocketResolveHost(addr);
    return out;
  } catch (const ESocketException&) {
    // A name with no IPv4 address may still have an IPv6 one.
    const std::string t = trim(addr).substr(0, 255);
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (t.empty() || ::getaddrinfo(t.c_str(), nullptr, &hints, &res) != 0 || !res) throw;
    out = {};
    std::memcpy(&out, res->ai_addr, std::min<size_t>(res->ai_addrlen, sizeof out));
    ::freeaddrinfo(res);
    return out;
  }
}

bool WSocketParseLiteral(const std::string& text, sockaddr_storage& out) {
  out = {};
  const in_addr_t a = ::inet_addr(text.c_str());
  if (a != INADDR_NONE) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = a;
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
  if (text.find(':') != std::string::npos && ::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    return true;
  }
  out = {};
  return false;
}

std::string WSocketAddrText(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) return dotted(reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr);
  if (a.ss_family != AF_INET6) return {};
  char buf[INET6_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, buf, sizeof buf);
  return buf;
}

socklen_t WSocketAddrLen(const sockaddr_storage& a) {
  return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

TLookupAnswer WSocketSystemResolve(const std::string& host) {
  TLookupAnswer answer;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0) {
    answer.Error = WSocketErrorFromGai(rc);
    return answer;
  }
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (p->ai_family != AF_INET && p->ai_family != AF_INET6) continue;
    sockaddr_storage a{};
    std::memcpy(&a, p->ai_addr, std::min<size_t>(p->ai_addrlen, sizeof a));
    std::string text = WSocketAddrText(a);
    // getaddrinfo may give an address once per socket type or more.
    if (std::find(answer.Addrs.begin(), answer.Addrs.end(), text) == answer.Addrs.end())
      answer.Addrs.push_back(std::move(text));
  }
  ::freeaddrinfo(res);
  if (answer.Addrs.empty()) answer.Error = WSANO_DATA;
  return answer;
}

std::vector<std::string> WSocketInterleave(const std::vector<std::string>& addrs) {
  std::vector<std::string> first, other;
  bool firstIsV6 = false;
  for (size_t i = 0; i < addrs.size(); ++i) {
    const bool v6 = addrs[i].find(':') != std::string::npos;
    if (i == 0) firstIsV6 = v6;
    (v6 == firstIsV6 ? first : other).push_back(addrs[i]);
  }
  std::vector<std::string> out;
  for (size_t i = 0; i < first.size() || i < other.size(); ++i) {
    if (i < first.size()) out.push_back(first[i]);
    if (i < other.size()) out.push_back(other[i]);
  }
  return out;
}

}  // namespace zorv

namespace {

void setPort(sockaddr_storage& a, uint16_t port) {
  if (a.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6&>(a).sin6_port = port;
  else
    reinterpret_cast<sockaddr_in&>(a).sin_port = port;
}

}  // namespace

void TCustomWSocket::SetRemote(const sockaddr_storage& a) {
  sin_ = a;
  setPort(sin_, sinPort_);
  alternates_.clear();
  nextAlternate_ = 0;
}

void TCustomWSocket::ResolveAll() {
  if (!protoResolved_) {
    proto_ = WSocketResolveProto(protoStr_);
    type_ = proto_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_STREAM;
    protoResolved_ = true;
  }
  if (!portResolved_) {
    sinPort_ = htons(static_cast<uint16_t>(WSocketResolvePort(portStr_, protoStr_)));
    setPort(sin_, sinPort_);
    for (sockaddr_storage& a : alternates_) setPort(a, sinPort_);
    portResolved_ = true;
  }
  if (!addrResolved_) {
    SetRemote(WSocketResolveHostAddr(addrStr_));
    // The address the last look-up put first brings the rest of that
    // look-up along: a stream connect tries them all.
    if (addrStr_ == dnsResult_ && dnsResultList_.size() > 1 && dnsResultList_.front() == dnsResult_) {
      const std::vector<std::string> order = WSocketInterleave(dnsResultList_);
      for (size_t i = 1; i < order.size(); ++i) {
        sockaddr_storage a{};
        if (!WSocketParseLiteral(order[i], a)) continue;
        setPort(a, sinPort_);
        alternates_.push_back(a);
      }
    }
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
  sockaddr_storage a{};
  if (WSocketParseLiteral(hostName, a)) {
    dnsResult_ = WSocketAddrText(a);
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
    std::thread(lookupWorker, handle, name, reverse, resolver_).detach();
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
