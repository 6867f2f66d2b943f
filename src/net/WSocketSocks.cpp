// The SOCKS 5 client layer (RFC 1928 CONNECT by domain name, with the user
// name and password sub-negotiation of RFC 1929).
#include <QPointer>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

#include "WSocket.h"

using namespace zorv;

namespace {

std::string lowerTrim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  std::string r = s.substr(b, e - b);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

// One length-prefixed field of the login request; a field carries at most 255 bytes.
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
  socksState_ = 0;
  socksRcvCnt_ = 0;
  pendingStart_ = pendingCount_ = 0;
  sinIsProxy_ = false;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& server) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks server if not closed");
    return;
  }
  socksServer_ = trimmed(server);
}

void TCustomSocksWSocket::SetSocksPort(const std::string& port) {
  if (state_ != wsClosed) {
    RaiseException("Can't change socks port if not closed");
    return;
  }
  socksPort_ = trimmed(port);
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
    const uint32_t proxyHost = WSocketResolveHost(socksServer_);
    sin_.sin_family = AF_INET;
    sin_.sin_port = htons(static_cast<uint16_t>(proxyPort));
    sin_.sin_addr.s_addr = proxyHost;
  } catch (const std::exception& e) {
    RaiseException(std::string("connect:") + e.what());
    return;
  }
  socksTargetAddr_ = Addr();
  addrResolved_ = portResolved_ = true;
  sinIsProxy_ = true;
  socksState_ = 1;
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

void TCustomSocksWSocket::TriggerSessionConnected(uint16_t error) {
  if (socksState_ != 1) {
    TCustomWSocket::TriggerSessionConnected(error);
    return;
  }
  QPointer<TCustomSocksWSocket> self(this);
  TriggerSocksConnected(error);
  if (!self) return;
  if (error != 0) {
    socksState_ = 0;
    TCustomWSocket::TriggerSessionConnected(error);
    return;
  }
  socksAuthMethod_ = socksAuthentication_ == socksAuthenticateUsercode ? 2 : 0;
  const char hello[3] = {5, 1, static_cast<char>(socksAuthMethod_)};
  Send(hello, 3);
}

void TCustomSocksWSocket::TriggerSessionClosed(uint16_t error) {
  if (socksState_ == 2) {
    socksState_ = 0;
    QPointer<TCustomSocksWSocket> self(this);
    TriggerSocksAuthState(socksAuthFailure);
    if (!self) return;
  }
  socksState_ = 0;
  TCustomWSocket::TriggerSessionClosed(error);
}

// A failed negotiation: the error, then the connect outcome carrying it,
// then a close whose session-closed event carries it as well.
void TCustomSocksWSocket::SocksError(int error, const std::string& msg) {
  QPointer<TCustomSocksWSocket> self(this);
  const uint64_t session = Session();
  socksState_ = 0;
  TriggerSocksError(error, msg);
  if (!self || session != Session()) return;
  TriggerSessionConnected(static_cast<uint16_t>(error));
  if (!self || session != Session()) return;
  InternalClose(true, static_cast<uint16_t>(error));
}

int TCustomSocksWSocket::SocksRead() {
  const int room = 127 - socksRcvCnt_;
  if (room <= 0) return -1;
  const int n = TCustomWSocket::DoRecv(socksRcvBuf_ + socksRcvCnt_, room, 0);
  if (n <= 0) return -1;
  socksRcvCnt_ += n;
  return n;
}

bool TCustomSocksWSocket::TriggerDataAvailable(uint16_t error) {
  if (socksState_ == 0) return TCustomWSocket::TriggerDataAvailable(error);
  if (error != 0) {
    SocksError(error, "data receive error");
    return true;
  }
  switch (socksState_) {
    case 1: SocksMethodReply(); break;
    case 2: SocksAuthReply(); break;
    case 3: SocksConnectReply(); break;
    default: SocksError(20013, "internal error");
  }
  return true;
}

void TCustomSocksWSocket::SocksMethodReply() {
  if (SocksRead() < 0) return;
  if (socksRcvCnt_ < 2) return;
  if (socksRcvCnt_ > 2) {
    SocksError(20001, "too much data availaible");
    return;
  }
  socksRcvCnt_ = 0;
  if (socksRcvBuf_[0] != 5) {
    SocksError(20002, "socks version error");
    return;
  }
  if (socksRcvBuf_[1] == 0) {
    if (socksAuthMethod_ != 0) {
      QPointer<TCustomSocksWSocket> self(this);
      TriggerSocksAuthState(socksAuthNotRequired);
      if (!self) return;
    }
    SocksDoConnect();
  } else if (socksRcvBuf_[1] == 2) {
    SocksDoAuthenticate();
  } else {
    SocksError(20003, "authentification method not acceptable");
  }
}

void TCustomSocksWSocket::SocksDoAuthenticate() {
  socksState_ = 2;
  socksRcvCnt_ = 0;
  QPointer<TCustomSocksWSocket> self(this);
  const uint64_t session = Session();
  TriggerSocksAuthState(socksAuthStart);
  if (!self || session != Session()) return;
  // The sub-negotiation has its own version number, 1.
  std::string req(1, '\x01');
  appendField(req, socksUsercode_);
  appendField(req, socksPassword_);
  Send(req.data(), static_cast<int>(req.size()));
}

void TCustomSocksWSocket::SocksAuthReply() {
  if (SocksRead() < 0) return;
  QPointer<TCustomSocksWSocket> self(this);
  // Version 1 is what RFC 1929 servers answer; 5 is accepted as well.
  if (socksRcvBuf_[0] != 1 && socksRcvBuf_[0] != 5) {
    socksState_ = 0;
    TriggerSocksAuthState(socksAuthFailure);
    if (self) SocksError(20002, "socks version error");
    return;
  }
  if (socksRcvCnt_ < 2) return;
  if (socksRcvCnt_ > 2) {
    socksState_ = 0;
    TriggerSocksAuthState(socksAuthFailure);
    if (self) SocksError(20001, "too much data availaible");
    return;
  }
  socksRcvCnt_ = 0;
  if (socksRcvBuf_[1] != 0) {
    socksState_ = 0;
    TriggerSocksAuthState(socksAuthFailure);
    if (self) SocksError(20015, "socks authentication failed");
    return;
  }
  const uint64_t session = Session();
  TriggerSocksAuthState(socksAuthSuccess);
  if (!self || session != Session()) return;
  SocksDoConnect();
}

void TCustomSocksWSocket::SocksDoConnect() {
  socksState_ = 3;
  socksRcvCnt_ = 0;
  std::string req = {5, 1, 0, 3};
  appendField(req, socksTargetAddr_);
  req += static_cast<char>((socksTargetPort_ >> 8) & 0xff);
  req += static_cast<char>(socksTargetPort_ & 0xff);
  Send(req.data(), static_cast<int>(req.size()));
}

void TCustomSocksWSocket::SocksConnectReply() {
  if (SocksRead() < 0) return;
  const unsigned char* b = socksRcvBuf_;
  if (b[0] != 5) {
    SocksError(20002, "socks version error");
    return;
  }
  if (socksRcvCnt_ >= 2 && b[1] != 0) {
    static const char* const texts[] = {"general SOCKS server failure", "connection not allowed by ruleset",
                                        "network unreachable",          "host unreachable",
                                        "connection refused",           "time to live expired",
                                        "command not supported",        "address type not supported"};
    const int code = b[1];
    if (code >= 1 && code <= 8)
      SocksError(20003 + code, texts[code - 1]);
    else
      SocksError(20012, "unassigned error #" + std::to_string(code));
    return;
  }
  if (socksRcvCnt_ < 5) return;
  int need;
  if (b[3] == 1)
    need = 10;
  else if (b[3] == 3)
    need = b[4] + 7;
  else {
    SocksError(20011, "address type not supported");
    return;
  }
  if (socksRcvCnt_ < need) return;
  if (b[3] == 1) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, b + 4, text, sizeof text);
    boundAddr_ = text;
  } else {
    boundAddr_.assign(reinterpret_cast<const char*>(b + 5), b[4]);
  }
  boundPort_ = std::to_string(b[need - 2] * 256 + b[need - 1]);
  socksState_ = 0;
  pendingStart_ = need;
  pendingCount_ = socksRcvCnt_ - need;
  socksRcvCnt_ = 0;
  QPointer<TCustomSocksWSocket> self(this);
  const uint64_t session = Session();
  TriggerSessionConnected(0);
  if (!self || session != Session()) return;
  TriggerDataAvailable(0);
}
