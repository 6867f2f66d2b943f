// The TLS client layer over OpenSSL with memory BIOs: ciphertext read from
// the socket is written into the session, and what the session produces goes
// into the send queue, so the descriptor never blocks the handshake and the
// queue, notifications and error reporting stay those of the socket.
#include <QTimer>
#include <arpa/inet.h>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "WSocketPrivate.h"
#include "WSocketSsl.h"

using namespace zorv;
using namespace zorv::detail;

namespace zorv::detail {

struct SslSession {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;   // ciphertext from the server, owned by ssl
  BIO* out = nullptr;  // ciphertext for the server, owned by ssl
  ~SslSession() {
    if (ssl) SSL_free(ssl);
    if (ctx) SSL_CTX_free(ctx);
  }
};

}  // namespace zorv::detail

namespace {

bool isIpLiteral(const std::string& host) {
  unsigned char buf[16];
  return ::inet_pton(AF_INET, host.c_str(), buf) == 1 || ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The reason of the last OpenSSL failure, or fallback when none is queued.
std::string lastSslReason(const std::string& fallback) {
  const unsigned long e = ERR_peek_last_error();
  const char* r = e ? ERR_reason_error_string(e) : nullptr;
  ERR_clear_error();
  return r ? std::string(r) : fallback;
}

// A time in milliseconds as seconds: "15 s", "0.3 s".
std::string secondsText(int ms) {
  std::string s = std::to_string(ms / 1000);
  if (const int rest = ms % 1000) {
    std::string frac = std::to_string(1000 + rest).substr(1);
    frac.erase(frac.find_last_not_of('0') + 1);
    s += "." + frac;
  }
  return s + " s";
}

std::string hexUpper(const unsigned char* p, unsigned n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::unique_ptr<SslSession> newSession(const std::string& host) {
  auto s = std::make_unique<SslSession>();
  s->ctx = SSL_CTX_new(TLS_client_method());
  if (!s->ctx) return nullptr;
  SSL_CTX_set_min_proto_version(s->ctx, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(s->ctx);  // honours SSL_CERT_FILE and SSL_CERT_DIR
  // The chain is verified and the outcome kept; the decision falls once the
  // handshake has finished, where the user can be asked.
  SSL_CTX_set_verify(s->ctx, SSL_VERIFY_NONE, nullptr);
  s->ssl = SSL_new(s->ctx);
  if (!s->ssl) return nullptr;
  s->in = BIO_new(BIO_s_mem());
  s->out = BIO_new(BIO_s_mem());
  if (!s->in || !s->out) {
    BIO_free(s->in);
    BIO_free(s->out);
    return nullptr;
  }
  SSL_set_bio(s->ssl, s->in, s->out);
  SSL_set_connect_state(s->ssl);
  X509_VERIFY_PARAM* param = SSL_get0_param(s->ssl);
  if (isIpLiteral(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
  } else {
    SSL_set_tlsext_host_name(s->ssl, host.c_str());
    SSL_set1_host(s->ssl, host.c_str());
  }
  return s;
}

}  // namespace

TCustomSslWSocket::TCustomSslWSocket(QObject* owner) : TCustomSocksWSocket(owner) {
  handshakeTimer_ = new QTimer(this);
  handshakeTimer_->setSingleShot(true);
  connect(handshakeTimer_, &QTimer::timeout, this, [this] {
    Window()->Run([](TCustomWSocket* s) {
      auto* self = static_cast<TCustomSslWSocket*>(s);
      // A TLS client on a plain-text port hears nothing: such a server waits
      // for a line that never comes.
      if (self->tls_ == Tls::Handshaking)
        self->HandshakeFailed("no answer from the server within " + secondsText(self->handshakeTimeoutMs_) +
                              " (is this a plain-text port?)");
    });
  });
}

TCustomSslWSocket::~TCustomSslWSocket() = default;

void TCustomSslWSocket::SetSslEnable(bool on) {
  if (state_ != wsClosed) {
    RaiseException("Can't change TLS if not closed");
    return;
  }
  sslEnable_ = on;
}

void TCustomSslWSocket::EndSession() {
  if (handshakeTimer_) handshakeTimer_->stop();
  ssl_.reset();
  tls_ = Tls::Off;
  early_.clear();
  plainIn_.clear();
  peerClosed_ = false;
}

void TCustomSslWSocket::AssignDefaultValue() {
  TCustomSocksWSocket::AssignDefaultValue();
  EndSession();
}

void TCustomSslWSocket::Connect() {
  EndSession();
  sslError_.clear();
  if (sslEnable_) tls_ = Tls::Waiting;
  TCustomSocksWSocket::Connect();
  if (state_ == wsClosed && hSocket_ < 0) EndSession();
}

void TCustomSslWSocket::TriggerSessionConnected(uint16_t error) {
  if (tls_ != Tls::Waiting || SocksState() != 0 || error != 0) {
    if (error != 0 && tls_ == Tls::Waiting) tls_ = Tls::Failed;
    TCustomSocksWSocket::TriggerSessionConnected(error);
    return;
  }
  StartHandshake();
}

void TCustomSslWSocket::StartHandshake() {
  const std::string host = sslServerName_.empty() ? Addr() : sslServerName_;
  ERR_clear_error();
  ssl_ = newSession(host);
  if (!ssl_) {
    HandshakeFailed(lastSslReason("TLS could not be set up"));
    return;
  }
  tls_ = Tls::Handshaking;
  if (handshakeTimeoutMs_ > 0) handshakeTimer_->start(handshakeTimeoutMs_);
  ContinueHandshake();
}

bool TCustomSslWSocket::ReadCipher(bool& failed) {
  failed = false;
  char buf[16384];
  for (;;) {
    const int n = TCustomSocksWSocket::DoRecv(buf, sizeof buf, 0);
    if (n > 0) {
      BIO_write(ssl_->in, buf, n);
      continue;
    }
    if (n == 0) return false;
    if (WSocketGetLastError() != WSAEWOULDBLOCK) {
      failed = true;
      return false;
    }
    return true;
  }
}

void TCustomSslWSocket::FlushCipher() {
  if (!ssl_) return;
  char buf[16384];
  for (;;) {
    const int n = BIO_read(ssl_->out, buf, sizeof buf);
    if (n <= 0) break;
    TCustomSocksWSocket::Send(buf, n);
    if (!ssl_) return;
  }
}

void TCustomSslWSocket::ContinueHandshake() {
  bool failed = false;
  const bool open = ReadCipher(failed);
  ERR_clear_error();
  const int r = SSL_do_handshake(ssl_->ssl);
  const Watch w(this);
  FlushCipher();
  if (w.Gone() || tls_ != Tls::Handshaking) return;
  if (r == 1) {
    CompleteHandshake();
    return;
  }
  const int e = SSL_get_error(ssl_->ssl, r);
  if (e == SSL_ERROR_WANT_READ && open && !failed) return;
  if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_SYSCALL || e == SSL_ERROR_ZERO_RETURN)
    HandshakeFailed(lastSslReason("the server closed the connection"));
  else
    HandshakeFailed(lastSslReason("protocol error"));
}

bool TCustomSslWSocket::PeerAccepted(std::string& reason) {
  TSslPeer peer;
  peer.Host = sslServerName_.empty() ? Addr() : sslServerName_;
  peer.Port = std::atoi(Port().c_str());
  X509* cert = SSL_get1_peer_certificate(ssl_->ssl);
  if (!cert) {
    reason = "the server sent no certificate";
    return false;
  }
  peer.VerifyResult = SSL_get_verify_result(ssl_->ssl);
  peer.VerifyText = X509_verify_cert_error_string(peer.VerifyResult);
  peer.HostMatches = isIpLiteral(peer.Host) ? X509_check_ip_asc(cert, peer.Host.c_str(), 0) == 1
                                            : X509_check_host(cert, peer.Host.c_str(), 0, 0, nullptr) == 1;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  if (X509_digest(cert, EVP_sha256(), md, &len) == 1) peer.Sha256 = hexUpper(md, len);
  X509_free(cert);
  std::string why;
  const bool ok = OnSslVerify ? OnSslVerify(this, peer, why) : peer.VerifyResult == X509_V_OK && peer.HostMatches;
  if (!ok && why.empty()) why = peer.VerifyResult != X509_V_OK ? peer.VerifyText : std::string("wrong host");
  if (!ok) reason = "certificate not accepted (" + why + ")";
  return ok;
}

void TCustomSslWSocket::CompleteHandshake() {
  handshakeTimer_->stop();
  const Watch w(this);
  std::string reason;
  const bool ok = PeerAccepted(reason);
  if (w.Gone() || tls_ != Tls::Handshaking) return;
  if (!ok) {
    HandshakeFailed(reason);
    return;
  }
  tls_ = Tls::Established;
  if (!early_.empty()) {
    const std::string early = std::move(early_);
    early_.clear();
    Send(early.data(), static_cast<int>(early.size()));
    if (w.Gone()) return;
  }
  TCustomSocksWSocket::TriggerSessionConnected(0);
}

void TCustomSslWSocket::HandshakeFailed(const std::string& reason) {
  handshakeTimer_->stop();
  tls_ = Tls::Failed;
  sslError_ = "TLS handshake failed: " + reason;
  const Watch w(this);
  if (OnSslError) OnSslError(this, sslError_);
  if (w.Gone()) return;
  TCustomSocksWSocket::TriggerSessionConnected(errTlsHandshake);
  if (w.Gone()) return;
  // Nothing unsent goes out after a failed handshake.
  DeleteBufferedData();
  InternalClose(false, errTlsHandshake);
}

void TCustomSslWSocket::Decrypt() {
  if (!ssl_ || peerClosed_) return;
  bool failed = false;
  const bool open = ReadCipher(failed);
  char buf[16384];
  for (;;) {
    ERR_clear_error();
    const int n = SSL_read(ssl_->ssl, buf, sizeof buf);
    if (n > 0) {
      plainIn_.append(buf, static_cast<size_t>(n));
      continue;
    }
    const int e = SSL_get_error(ssl_->ssl, n);
    if (e != SSL_ERROR_WANT_READ) peerClosed_ = true;  // close_notify or a broken record
    break;
  }
  ERR_clear_error();
  if (!open || failed) peerClosed_ = true;
  FlushCipher();
}

int TCustomSslWSocket::DoRecv(void* buf, int len, int flags) {
  if (tls_ == Tls::Off || (tls_ == Tls::Waiting && SocksState() != 0))
    return TCustomSocksWSocket::DoRecv(buf, len, flags);
  if (tls_ == Tls::Established && plainIn_.empty()) Decrypt();
  NoteReceiveCall();
  if (!plainIn_.empty() && len > 0) {
    const int n = std::min(len, static_cast<int>(plainIn_.size()));
    std::memcpy(buf, plainIn_.data(), static_cast<size_t>(n));
    if (!(flags & MSG_PEEK)) plainIn_.erase(0, static_cast<size_t>(n));
    return n;
  }
  if (tls_ == Tls::Established && peerClosed_) return 0;
  WSocketSetLastError(tls_ == Tls::Established || tls_ == Tls::Handshaking ? WSAEWOULDBLOCK : WSAENOTCONN);
  return -1;
}

int TCustomSslWSocket::RcvdCount() {
  if (tls_ == Tls::Off || (tls_ == Tls::Waiting && SocksState() != 0)) return TCustomSocksWSocket::RcvdCount();
  if (tls_ == Tls::Established && plainIn_.empty()) Decrypt();
  return static_cast<int>(plainIn_.size());
}

void TCustomSslWSocket::PostLeftover() {
  if (tls_ != Tls::Established || plainIn_.empty() || hSocket_ < 0 || State() != wsConnected) return;
  TSocketMessage m;
  m.Msg = WM_ASYNCSELECT;
  m.WParam = hSocket_;
  m.Session = Session();
  m.EventBits = FD_READ;
  Window()->Post(m);
}

void TCustomSslWSocket::WndProc(TSocketMessage& msg) {
  const Watch w(this);
  const bool select = msg.Msg == WM_ASYNCSELECT;
  const size_t before = plainIn_.size();
  TCustomSocksWSocket::WndProc(msg);
  // A handler that took nothing and nothing new: no repeat, or it would spin.
  if (select && !w.Gone() && plainIn_.size() != before) PostLeftover();
}

void TCustomSslWSocket::Resume() {
  const Watch w(this);
  TCustomSocksWSocket::Resume();
  if (!w.Gone()) PostLeftover();
}

bool TCustomSslWSocket::TriggerDataAvailable(uint16_t error) {
  if (tls_ == Tls::Handshaking) {
    if (error != 0) {
      HandshakeFailed(WSocketErrorDesc(error));
      return true;
    }
    NoteReceiveCall();
    ContinueHandshake();
    return true;
  }
  return TCustomSocksWSocket::TriggerDataAvailable(error);
}

void TCustomSslWSocket::TriggerSessionClosed(uint16_t error) {
  if (tls_ == Tls::Handshaking) {
    // The peer went away before the handshake finished.
    const Watch w(this);
    handshakeTimer_->stop();
    tls_ = Tls::Failed;
    sslError_ = "TLS handshake failed: the server closed the connection";
    if (OnSslError) OnSslError(this, sslError_);
    if (w.Deleted()) return;
  }
  TCustomSocksWSocket::TriggerSessionClosed(error);
}

int TCustomSslWSocket::Send(const void* data, int len) {
  switch (tls_) {
    case Tls::Off:
      return TCustomSocksWSocket::Send(data, len);
    case Tls::Waiting:
      // The proxy negotiation, or a send that fails as not connected, goes
      // the plain way; a send made once connected waits for the handshake.
      if (SocksState() != 0 || state_ != wsConnected) return TCustomSocksWSocket::Send(data, len);
      [[fallthrough]];
    case Tls::Handshaking:
      if (state_ != wsConnected) break;
      if (len > 0) early_.append(static_cast<const char*>(data), static_cast<size_t>(len));
      return std::max(len, 0);
    case Tls::Established: {
      if (state_ != wsConnected || !ssl_) break;
      if (len > 0) {
        ERR_clear_error();
        if (SSL_write(ssl_->ssl, data, len) <= 0) {
          lastError_ = WSAECONNRESET;
          WSocketSetLastError(WSAECONNRESET);
          ERR_clear_error();
          return -1;
        }
      }
      const Watch w(this);
      FlushCipher();
      (void)w;
      return std::max(len, 0);
    }
    case Tls::Failed:
      break;
  }
  FailWith(WSAENOTCONN, "Send");
  return -1;
}
