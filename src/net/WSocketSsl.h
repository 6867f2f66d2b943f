#pragma once
// The TLS client layer of the socket component.
#include <memory>
#include <string>

#include "WSocketSocks.h"

class QTimer;

// What the TLS layer learnt about the server's certificate once the
// handshake has finished; the verify handler decides on it.
struct TSslPeer {
  std::string Host;         // the name sent as SNI and checked against the certificate
  int Port = 0;
  long VerifyResult = 0;    // 0: the chain verified against the trust store
  std::string VerifyText;   // the verifier's text for VerifyResult
  bool HostMatches = false;
  std::string Sha256;       // the certificate's SHA-256 fingerprint, 64 upper-case hex digits
};

namespace zorv::detail {
struct SslSession;
}

// TLS client: with SslEnable on, the stream past the proxy (if any) is a TLS
// session. The handshake runs from the socket's own notifications;
// OnSessionConnected fires once it has finished and the certificate has been
// accepted. Send encrypts into the send queue, so the queue holds only
// ciphertext; bytes sent before the handshake has finished wait for it. A
// failed handshake raises OnSslError with "TLS handshake failed: <reason>",
// then OnSessionConnected with errTlsHandshake, then the close.
// SslEnable and SslServerName stay set across closes.
class TCustomSslWSocket : public TCustomSocksWSocket {
  Q_OBJECT
 public:
  // Returns whether the certificate is taken; on a refusal the handler may
  // set reason, which the error line then gives.
  using TSslVerifyEvent = std::function<bool(TCustomWSocket* sender, const TSslPeer& peer, std::string& reason)>;
  using TSslErrorEvent = std::function<void(TCustomWSocket* sender, const std::string& msg)>;
  static constexpr int errTlsHandshake = 20100;

  explicit TCustomSslWSocket(QObject* owner = nullptr);
  ~TCustomSslWSocket() override;

  bool SslEnable() const { return sslEnable_; }
  void SetSslEnable(bool on);
  // The name for SNI and the host check; empty: Addr.
  std::string SslServerName() const { return sslServerName_; }
  void SetSslServerName(const std::string& name) { sslServerName_ = name; }
  // How long a handshake may take before it is given up, in milliseconds (15 s).
  int SslHandshakeTimeout() const { return handshakeTimeoutMs_; }
  void SetSslHandshakeTimeout(int ms) { handshakeTimeoutMs_ = ms; }
  bool SslEstablished() const { return tls_ == Tls::Established; }
  std::string SslErrorText() const { return sslError_; }

  void Connect() override;
  int Send(const void* data, int len) override;
  int RcvdCount() override;
  void Resume() override;

  // Without a handler only a verified chain for the right host is accepted.
  TSslVerifyEvent OnSslVerify;
  TSslErrorEvent OnSslError;

 protected:
  // A proxy negotiation or a TLS handshake is under way: the bytes read now
  // are not the user's.
  bool Negotiating() const { return SocksState() != 0 || tls_ == Tls::Handshaking; }
  void WndProc(zorv::TSocketMessage& msg) override;
  void AssignDefaultValue() override;
  bool TriggerDataAvailable(uint16_t error) override;
  void TriggerSessionConnected(uint16_t error) override;
  void TriggerSessionClosed(uint16_t error) override;
  int DoRecv(void* buf, int len, int flags) override;

 private:
  enum class Tls { Off, Waiting, Handshaking, Established, Failed };
  void StartHandshake();
  void ContinueHandshake();
  void CompleteHandshake();
  bool PeerAccepted(std::string& reason);
  void HandshakeFailed(const std::string& reason);
  // Takes in the ciphertext that waits; false when the peer has closed.
  bool ReadCipher(bool& failed);
  void Decrypt();
  void FlushCipher();
  void EndSession();
  // Decrypted bytes left over with nothing more on the descriptor get a read
  // notification of their own, or they would wait for the next packet.
  void PostLeftover();

  std::unique_ptr<zorv::detail::SslSession> ssl_;
  Tls tls_ = Tls::Off;
  bool sslEnable_ = false;
  std::string sslServerName_;
  std::string sslError_;
  std::string early_;     // sent before the handshake finished
  std::string plainIn_;   // decrypted, not yet received
  bool peerClosed_ = false;
  int handshakeTimeoutMs_ = 15000;
  QTimer* handshakeTimer_ = nullptr;
};
