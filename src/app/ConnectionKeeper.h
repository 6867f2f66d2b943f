#pragma once
// Keeps the connection alive once it has been made: a lag check that pings a
// silent server and drops a dead connection, a reconnect with a growing wait
// after a connection was lost (never after the user ended it), the rejoin of
// the open channels once the same server has welcomed us again (after a
// reconnect or a Connect by hand), and a bound on what may wait in the
// socket's send queue.
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Reconnect.h"

class QTimer;

// The settings of the above, kept in the settings file (section "Connection")
// as properties of this object, so the settings component reads and writes
// them like those of any control. Times are in seconds.
class KeepAliveSettings : public QObject {
  Q_OBJECT
  Q_PROPERTY(int PingInterval MEMBER pingInterval)
  Q_PROPERTY(int PingTimeout MEMBER pingTimeout)
  Q_PROPERTY(bool Reconnect MEMBER reconnect)

 public:
  explicit KeepAliveSettings(QObject* parent);
  static QStringList settingsItems();

  int pingInterval = 120;  // silence before we ask; 0 or less: no lag check
  int pingTimeout = 60;    // further silence before the connection is dropped
  bool reconnect = true;
};

// What the keeper needs from the connection it keeps (the Session).
class KeptConnection {
 public:
  virtual ~KeptConnection() = default;
  virtual void SendMsg(const std::string& line) = 0;
  // A line in the Server window, opened for it.
  virtual void SayInServerWindow(const std::string& text) = 0;
  // A line in every open conversation window but the Server window.
  virtual void SayInConversations(const std::string& text) = 0;
  // Drops the connection at once, with whatever waits to be sent; nothing
  // when it is closed already.
  virtual void Abort() = 0;
  // The reconnect's attempt: a Connect that leaves the user where they are.
  virtual void ConnectAgain() = 0;
  // The names of the open conversation windows, in the order they were opened.
  virtual std::vector<std::string> OpenWindows() const = 0;
  // A reconnect started or stopped waiting (Disconnect calls it off meanwhile).
  virtual void ReconnectWaiting(bool waiting) = 0;
};

class ConnectionKeeper : public QObject {
  Q_OBJECT
 public:
  // The send queue may hold this much before the connection is given up.
  static constexpr std::size_t kSendQueueLimit = 1024 * 1024;

  ConnectionKeeper(KeptConnection& connection, const KeepAliveSettings& settings, QObject* parent);

  // --- What the connection tells it ---------------------------------------
  void UserConnect();      // Connect pressed (or chosen): a waiting reconnect goes at once
  void UserDisconnect();   // Disconnect, the Server window or the main window closed
  void Connected();        // the connect succeeded (registration is being sent)
  // The server's welcome arrived on a connection to server and port (as
  // typed): the channels of the settings are joined, and back on the same
  // server so are the open channel windows, each channel once.
  void Registered(const std::string& server, const std::string& port,
                  const std::vector<zorv::ChannelToJoin>& channels = {});
  void LookupFailed();     // the host lookup of a connect attempt failed
  // The user refused the server's certificate: no reconnect until Connect is pressed.
  void CertificateRefused() { certificateRefused_ = true; }
  void Closed(uint16_t error);  // the connection closed (after "Disconnected" is written)
  void DataArrived();      // bytes came from the server
  // Whether a line of `bytes` bytes may join `queued` bytes waiting in the
  // send queue. When not, the connection is given up (once, with a line in
  // the Server window) and every further line is dropped until it has closed.
  bool MaySend(int queued, std::size_t bytes);
  // Every line sent (the channel keys the user gives are remembered).
  void Sent(const std::string& line) { keys_.NoteSent(line); }
  // Whether a Server window line is the answer to our own lag check.
  bool IsOwnPingReply(const std::string& text) const { return zorv::IsOwnPingReply(text, token_); }

  // --- State (for the menus and for tests) ---------------------------------
  bool Waiting() const;     // a reconnect is waiting for its time
  bool Restoring() const { return restoring_; }

  // Tests run the same clock faster: every second of the settings and of the
  // reconnect policy lasts msPerSecond milliseconds.
  void SetTimeScale(int msPerSecond) { msPerSecond_ = msPerSecond > 0 ? msPerSecond : 1000; }
  void SetPolicy(const zorv::ReconnectPolicy& p) { policy_ = p; }
  void SetRandomSource(std::function<std::uint32_t()> random) { random_ = std::move(random); }

 private:
  void StartLagCheck();
  void StopLagCheck();
  void LagCheck();
  void Drop(const std::string& reason);
  void ScheduleReconnect();
  void Attempt();
  void Rejoin(std::vector<zorv::ChannelToJoin> channels, bool openWindows);
  int Scaled(long long ms) const;

  KeptConnection& connection_;
  const KeepAliveSettings& settings_;
  zorv::ReconnectPolicy policy_;
  std::function<std::uint32_t()> random_;
  int msPerSecond_ = 1000;

  QTimer* lagTimer_ = nullptr;
  QTimer* waitTimer_ = nullptr;
  QElapsedTimer lastData_;
  QElapsedTimer pingSentAt_;
  bool pingOutstanding_ = false;
  std::string token_;
  unsigned tokenSerial_ = 0;

  bool connected_ = false;   // the TCP connection is up
  bool registered_ = false;  // ... and the server has welcomed us on it
  bool welcomed_ = false;    // the server welcomed us on this connection (even if the user ends it)
  // Where the last welcome came from; a welcome from the same place joins the open channels.
  std::string welcomedServer_, welcomedPort_;
  bool restoring_ = false;   // a lost session is being brought back
  bool reasonShown_ = false; // why the connection ends has been said already
  bool givingUp_ = false;    // the connection is being dropped by us
  bool certificateRefused_ = false;  // ... because the user refused its certificate
  int attempt_ = 0;
  zorv::ChannelKeys keys_;
};
