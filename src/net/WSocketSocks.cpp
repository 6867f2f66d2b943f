// The SOCKS 5 client layer (RFC 1928 CONNECT by domain name, with the user
// name and password sub-negotiation of RFC 1929).
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

#include "WSocketPrivate.h"
#include "WSocketSocks.h"

using namespace zorv;
using namespace zorv::detail;

namespace {

// Protocol numbers of RFC 1928.
constexpr char kVersion = 5;
constexpr char kLoginVersion = 1;  // of the user name and password sub-negotiation
constexpr int kMethodNone = 0, kMethodLogin = 2;
constexpr char kCommandConnect = 1;
constexpr unsigned char kAddrIPv4 = 1, kAddrDomain = 3, kAddrIPv6 = 4;

std::string lowerTrim(const std::string& s) {
  std::string r = trim(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// One length-prefixed field of a request; a field carries at most 255 bytes.
void appendField(std::string& out, const std::string& field) {
  const size_t n = std::min<size_t>(field.size(), 255);
  out += static_cast<char>(n);
  out.append(field, 0, n);
}

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(QObject* owner) : TCustomWSocket(owner) {}

void TCustomSocksWSocket::AssignDefaultValue() {
  TCustomWSocket::AssignDefaultValue();
  socksServer_.clear();
  socksPort_.clear();
  phase_ = Phase::Idle;
  socksRcvCnt_ = 0;
  pendingStart_ = pendingCount_ = 0;
  sinIsProxy_ = false;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& server) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks server if not closed");
    return;
  }
  socksServer_ = trim(server);
}

void TCustomSocksWSocket::SetSocksPort(const std::string& port) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks port if not closed");
    return;
  }
  socksPort_ = trim(port);
}

void TCustomSocksWSocket::Connect() {
  // The address resolved for a proxied session is the proxy's; a direct
  // connect must resolve the target again.
  if (sinIsProxy_) {
    addrResolved_ = portResolved_ = false;
    sinIsProxy_ = false;
  }
  if (socksServer_.empty()) {
    TCustomWSocket::Connect();
    return;
  }
  if (lowerTrim(Proto()) != "tcp") {
    RaiseException("tcp is the only protocol supported thru socks server");
    return;
  }
  // Refusals about the target's own properties come from the plain connect.
  if ((hSocket_ >= 0 && state_ != wsClosed) || !portAssigned_ || !addrAssigned_ || !protoAssigned_) {
    TCustomWSocket::Connect();
    return;
  }
  try {
    socksTargetPort_ = WSocketResolvePort(Port(), Proto());
    if (Addr().size() > 255) throw ESocketException("WSocketResolveHost: Invalid Hostname.");
    const int proxyPort = WSocketResolvePort(socksPort_, "tcp");
    const sockaddr_storage proxyHost = WSocketResolveHostAddr(socksServer_);
    sinPort_ = htons(static_cast<uint16_t>(proxyPort));
    SetRemote(proxyHost);
  } catch (const std::exception& e) {
    RaiseException(std::string("connect:") + e.what());
    return;
  }
  socksTargetAddr_ = Addr();
  addrResolved_ = portResolved_ = true;
  sinIsProxy_ = true;
  phase_ = Phase::MethodReply;
  socksRcvCnt_ = 0;
  pendingStart_ = pendingCount_ = 0;
  boundAddr_.clear();
  boundPort_.clear();
  TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen() {
  if (!socksServer_.empty()) {
    RaiseException("listening is not supported thru socks server");
    return;
  }
  TCustomWSocket::Listen();
}

int TCustomSocksWSocket::RcvdCount() {
  if (pendingCount_ > 0) return pendingCount_;
  return TCustomWSocket::RcvdCount();
}

int TCustomSocksWSocket::DoRecv(void* buf, int len, int flags) {
  if (pendingCount_ > 0 && len > 0) {
    NoteReceiveCall();
    const int n = std::min(len, pendingCount_);
    std::memcpy(buf, socksRcvBuf_ + pendingStart_, static_cast<size_t>(n));
    if (!(flags & MSG_PEEK)) {
      pendingStart_ += n;
      pendingCount_ -= n;
    }
    return n;
  }
  return TCustomWSocket::DoRecv(buf, len, flags);
}

void TCustomSocksWSocket::TriggerSocksConnected(uint16_t error) {
  if (OnSocksConnected) OnSocksConnected(this, error);
}

void TCustomSocksWSocket::TriggerSocksError(int error, const std::string& msg) {
  if (OnSocksError) OnSocksError(this, error, msg);
}

void TCustomSocksWSocket::TriggerSocksAuthState(int authState) {
  if (OnSocksAuthState) OnSocksAuthState(this, authState);
}

// The TCP connection to the proxy is made (or failed): greet it.
void TCustomSocksWSocket::TriggerSessionConnected(uint16_t error) {
  if (phase_ != Phase::MethodReply) {
    TCustomWSocket::TriggerSessionConnected(error);
    return;
  }
  const Watch w(this);
  TriggerSocksConnected(error);
  if (w.Deleted()) return;
  if (error != 0) {
    phase_ = Phase::Idle;
    TCustomWSocket::TriggerSessionConnected(error);
    return;
  }
  SendHello();
}

void TCustomSocksWSocket::SendHello() {
  socksAuthMethod_ = socksAuthentication_ == socksAuthenticateUsercode ? kMethodLogin : kMethodNone;
  const char hello[3] = {kVersion, 1, static_cast<char>(socksAuthMethod_)};
  Send(hello, 3);
}

void TCustomSocksWSocket::TriggerSessionClosed(uint16_t error) {
  if (phase_ == Phase::AuthReply) {
    phase_ = Phase::Idle;
    const Watch w(this);
    TriggerSocksAuthState(socksAuthFailure);
    if (w.Deleted()) return;
  }
  phase_ = Phase::Idle;
  TCustomWSocket::TriggerSessionClosed(error);
}

// A failed negotiation: the error, then the connect outcome carrying it,
// then a close whose session-closed event carries it as well.
void TCustomSocksWSocket::SocksError(int error, const std::string& msg) {
  const Watch w(this);
  phase_ = Phase::Idle;
  TriggerSocksError(error, msg);
  if (w.Gone()) return;
  TriggerSessionConnected(static_cast<uint16_t>(error));
  if (w.Gone()) return;
  InternalClose(true, static_cast<uint16_t>(error));
}

void TCustomSocksWSocket::SocksAuthFailed(int error, const std::string& msg) {
  const Watch w(this);
  phase_ = Phase::Idle;
  TriggerSocksAuthState(socksAuthFailure);
  if (!w.Deleted()) SocksError(error, msg);
}

int TCustomSocksWSocket::SocksRead() {
  const int room = static_cast<int>(sizeof socksRcvBuf_) - socksRcvCnt_;
  if (room <= 0) {
    // No reply is this long: the proxy is not speaking SOCKS.
    SocksError(errTooMuchData, "too much data availaible");
    return -1;
  }
  const int n = TCustomWSocket::DoRecv(socksRcvBuf_ + socksRcvCnt_, room, 0);
  if (n <= 0) return -1;
  socksRcvCnt_ += n;
  return n;
}

bool TCustomSocksWSocket::TriggerDataAvailable(uint16_t error) {
  if (phase_ == Phase::Idle) return TCustomWSocket::TriggerDataAvailable(error);
  if (error != 0) {
    SocksError(error, "data receive error");
    return true;
  }
  switch (phase_) {
    case Phase::MethodReply: SocksMethodReply(); break;
    case Phase::AuthReply: SocksAuthReply(); break;
    case Phase::ConnectReply: SocksConnectReply(); break;
    default: SocksError(errInternal, "internal error");
  }
  return true;
}

void TCustomSocksWSocket::SocksMethodReply() {
  if (SocksRead() < 0) return;
  if (socksRcvCnt_ < 2) return;
  if (socksRcvCnt_ > 2) {
    SocksError(errTooMuchData, "too much data availaible");
    return;
  }
  socksRcvCnt_ = 0;
  if (socksRcvBuf_[0] != kVersion) {
    SocksError(errVersion, "socks version error");
    return;
  }
  if (socksRcvBuf_[1] == kMethodNone) {
    if (socksAuthMethod_ != kMethodNone) {
      const Watch w(this);
      TriggerSocksAuthState(socksAuthNotRequired);
      if (w.Deleted()) return;
    }
    SocksDoConnect();
  } else if (socksRcvBuf_[1] == kMethodLogin) {
    SocksDoAuthenticate();
  } else {
    SocksError(errMethodRefused, "authentification method not acceptable");
  }
}

void TCustomSocksWSocket::SocksDoAuthenticate() {
  phase_ = Phase::AuthReply;
  socksRcvCnt_ = 0;
  const Watch w(this);
  TriggerSocksAuthState(socksAuthStart);
  if (w.Gone()) return;
  std::string req(1, kLoginVersion);
  appendField(req, socksUsercode_);
  appendField(req, socksPassword_);
  Send(req.data(), static_cast<int>(req.size()));
}

void TCustomSocksWSocket::SocksAuthReply() {
  if (SocksRead() < 0) return;
  // Version 1 is what RFC 1929 servers answer; 5 is accepted as well.
  if (socksRcvBuf_[0] != kLoginVersion && socksRcvBuf_[0] != kVersion) {
    SocksAuthFailed(errVersion, "socks version error");
    return;
  }
  if (socksRcvCnt_ < 2) return;
  if (socksRcvCnt_ > 2) {
    SocksAuthFailed(errTooMuchData, "too much data availaible");
    return;
  }
  socksRcvCnt_ = 0;
  if (socksRcvBuf_[1] != 0) {
    SocksAuthFailed(errAuthFailed, "socks authentication failed");
    return;
  }
  const Watch w(this);
  TriggerSocksAuthState(socksAuthSuccess);
  if (w.Gone()) return;
  SocksDoConnect();
}

void TCustomSocksWSocket::SocksDoConnect() {
  phase_ = Phase::ConnectReply;
  socksRcvCnt_ = 0;
  // An IPv6 literal goes as its 16 bytes; anything else, names and dotted
  // addresses alike, as a name the proxy resolves.
  in6_addr v6{};
  const bool literal6 = ::inet_pton(AF_INET6, socksTargetAddr_.c_str(), &v6) == 1;
  std::string req = {kVersion, kCommandConnect, 0, static_cast<char>(literal6 ? kAddrIPv6 : kAddrDomain)};
  if (literal6)
    req.append(reinterpret_cast<const char*>(&v6), sizeof v6);
  else
    appendField(req, socksTargetAddr_);
  req += static_cast<char>((socksTargetPort_ >> 8) & 0xff);
  req += static_cast<char>(socksTargetPort_ & 0xff);
  Send(req.data(), static_cast<int>(req.size()));
}

namespace zorv {

TSocksReply WSocketParseSocksReply(const unsigned char* b, size_t count) {
  static const char* const texts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                                      "network unreachable",          "host unreachable",
                                      "connection refused",           "time to live expired",
                                      "command not supported",        "address type not supported"};
  TSocksReply r;
  auto fail = [&r](int error, std::string text) {
    r.Status = TSocksReply::Failed;
    r.Error = error;
    r.Text = std::move(text);
    return r;
  };
  if (count == 0) return r;
  if (b[0] != kVersion) return fail(TCustomSocksWSocket::errVersion, "socks version error");
  if (count >= 2 && b[1] != 0) {
    const int code = b[1];
    if (code >= 1 && code <= 8) return fail(TCustomSocksWSocket::errReplyBase + code, texts[code - 1]);
    return fail(TCustomSocksWSocket::errUnassignedReply, "unassigned error #" + std::to_string(code));
  }
  if (count < 5) return r;
  size_t length = 0;
  if (b[3] == kAddrIPv4)
    length = 10;
  else if (b[3] == kAddrDomain)
    length = b[4] + 7u;
  else if (b[3] == kAddrIPv6)
    length = 22;
  else
    return fail(TCustomSocksWSocket::errAddressType, "address type not supported");
  if (count < length) return r;
  if (b[3] == kAddrDomain) {
    r.BoundAddr.assign(reinterpret_cast<const char*>(b + 5), b[4]);
  } else {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(b[3] == kAddrIPv4 ? AF_INET : AF_INET6, b + 4, text, sizeof text);
    r.BoundAddr = text;
  }
  r.BoundPort = std::to_string(b[length - 2] * 256 + b[length - 1]);
  r.Length = static_cast<int>(length);
  r.Status = TSocksReply::Done;
  return r;
}

}  // namespace zorv

void TCustomSocksWSocket::SocksConnectReply() {
  if (SocksRead() < 0) return;
  const TSocksReply reply = WSocketParseSocksReply(socksRcvBuf_, static_cast<size_t>(socksRcvCnt_));
  if (reply.Status == TSocksReply::Failed) {
    SocksError(reply.Error, reply.Text);
    return;
  }
  if (reply.Status == TSocksReply::NeedMore) return;
  boundAddr_ = reply.BoundAddr;
  boundPort_ = reply.BoundPort;
  phase_ = Phase::Idle;
  // Bytes after the reply are the target's: Receive hands them out first.
  pendingStart_ = reply.Length;
  pendingCount_ = socksRcvCnt_ - reply.Length;
  socksRcvCnt_ = 0;
  const Watch w(this);
  TriggerSessionConnected(0);
  if (w.Gone()) return;
  TriggerDataAvailable(0);
}
