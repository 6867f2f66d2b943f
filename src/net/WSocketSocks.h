#pragma once
// The SOCKS 5 client layer of the socket component.
#include <string>

#include "WSocketBase.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };

// SOCKS 5 client: with SocksServer set, Connect reaches Addr:Port through the
// proxy (CONNECT by domain name), optionally logging in with user name and
// password. OnSessionConnected fires once the proxy has connected the target.
class TCustomSocksWSocket : public TCustomWSocket {
  Q_OBJECT
 public:
  using TSocksErrorEvent = std::function<void(TCustomWSocket* sender, int error, const std::string& msg)>;
  using TSocksAuthStateEvent = std::function<void(TCustomWSocket* sender, int authState)>;
  // OnSocksAuthState values.
  static constexpr int socksAuthStart = 0, socksAuthSuccess = 1, socksAuthFailure = 2,
                       socksAuthNotRequired = 3;
  // Where the negotiation stands: which reply the proxy owes next.
  enum class Phase { Idle = 0, MethodReply = 1, AuthReply = 2, ConnectReply = 3 };
  // The codes OnSocksError reports (and the session events carry after it).
  enum ErrorCode : int {
    errTooMuchData = 20001,
    errVersion = 20002,
    errMethodRefused = 20003,
    errReplyBase = 20003,  // + the proxy's reply code 1 to 8: 20004 to 20011
    errAddressType = 20011,
    errUnassignedReply = 20012,
    errInternal = 20013,
    errAuthFailed = 20015,
  };

  explicit TCustomSocksWSocket(QObject* owner = nullptr);

  void Connect() override;
  void Listen() override;
  int RcvdCount() override;

  std::string SocksServer() const { return socksServer_; }
  virtual void SetSocksServer(const std::string& server);
  std::string SocksPort() const { return socksPort_; }
  virtual void SetSocksPort(const std::string& port);
  std::string SocksUsercode() const { return socksUsercode_; }
  void SetSocksUsercode(const std::string& v) { socksUsercode_ = v; }
  std::string SocksPassword() const { return socksPassword_; }
  void SetSocksPassword(const std::string& v) { socksPassword_ = v; }
  TSocksAuthentication SocksAuthentication() const { return socksAuthentication_; }
  void SetSocksAuthentication(TSocksAuthentication v) { socksAuthentication_ = v; }
  // The Phase as a number: 0 off or finished, 1 method reply due, 2
  // authentication reply due, 3 connect reply due.
  int SocksState() const { return static_cast<int>(phase_); }
  // What the proxy reported as its bound address and port for the session.
  std::string BoundAddr() const { return boundAddr_; }
  std::string BoundPort() const { return boundPort_; }

  TEvent OnSocksConnected;
  TSocksErrorEvent OnSocksError;
  TSocksAuthStateEvent OnSocksAuthState;

 protected:
  void AssignDefaultValue() override;
  bool TriggerDataAvailable(uint16_t error) override;
  void TriggerSessionConnected(uint16_t error) override;
  void TriggerSessionClosed(uint16_t error) override;
  int DoRecv(void* buf, int len, int flags) override;
  virtual void TriggerSocksConnected(uint16_t error);
  virtual void TriggerSocksError(int error, const std::string& msg);
  virtual void TriggerSocksAuthState(int authState);

 private:
  void SocksError(int error, const std::string& msg);
  // The login was refused (auth state failure), then the error.
  void SocksAuthFailed(int error, const std::string& msg);
  void SendHello();
  void SocksDoAuthenticate();
  void SocksDoConnect();
  int SocksRead();  // appends to the reply buffer; -1 when nothing came
  void SocksMethodReply();
  void SocksAuthReply();
  void SocksConnectReply();

  std::string socksServer_, socksPort_, socksUsercode_, socksPassword_;
  TSocksAuthentication socksAuthentication_ = socksNoAuthentication;
  Phase phase_ = Phase::Idle;
  // Room for the longest reply (a domain name of 255 bytes: 262) and the
  // target's bytes that may follow it in the same read.
  unsigned char socksRcvBuf_[512] = {};
  int socksRcvCnt_ = 0;
  int socksAuthMethod_ = 0;
  int socksTargetPort_ = 0;
  std::string socksTargetAddr_;
  std::string boundAddr_, boundPort_;
  int pendingStart_ = 0, pendingCount_ = 0;
  bool sinIsProxy_ = false;  // the resolved remote address is the proxy's
};

namespace zorv {

// How far a SOCKS 5 proxy's answer to CONNECT has come: more bytes needed,
// refused (the error code and text OnSocksError reports), or complete with
// the bound address (dotted IPv4, IPv6 literal or domain name), the bound
// port and the reply's length (the bytes after it are the target's).
struct TSocksReply {
  enum { NeedMore, Failed, Done } Status = NeedMore;
  int Error = 0;
  std::string Text;
  std::string BoundAddr, BoundPort;
  int Length = 0;
};
TSocksReply WSocketParseSocksReply(const unsigned char* data, size_t count);

}  // namespace zorv
