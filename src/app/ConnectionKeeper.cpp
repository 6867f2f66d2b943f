#include "ConnectionKeeper.h"

#include <QRandomGenerator>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <utility>

#include "Guard.h"
#include "Names.h"
#include "Text.h"

namespace {

// Longer settings are taken as this (a week), which the timers can still hold.
constexpr long long kLongestSeconds = 7LL * 24 * 3600;

}  // namespace

KeepAliveSettings::KeepAliveSettings(QObject* parent) : QObject(parent) { setObjectName("KeepAliveSettings"); }

QStringList KeepAliveSettings::settingsItems() {
  return {QStringLiteral("KeepAliveSettings;PingInterval;120;Connection;PingInterval;1;0"),
          QStringLiteral("KeepAliveSettings;PingTimeout;60;Connection;PingTimeout;1;0"),
          QStringLiteral("KeepAliveSettings;Reconnect;1;Connection;Reconnect;1;0")};
}

ConnectionKeeper::ConnectionKeeper(KeptConnection& connection, const KeepAliveSettings& settings,
                                   QObject* parent)
    : QObject(parent), connection_(connection), settings_(settings) {
  setObjectName("ConnectionKeeper");
  random_ = [] { return QRandomGenerator::global()->generate(); };
  lagTimer_ = new QTimer(this);
  lagTimer_->setSingleShot(true);
  connect(lagTimer_, &QTimer::timeout, this, [this] { zorv::guarded([this] { LagCheck(); }, "Zorv"); });
  waitTimer_ = new QTimer(this);
  waitTimer_->setSingleShot(true);
  connect(waitTimer_, &QTimer::timeout, this, [this] { zorv::guarded([this] { Attempt(); }, "Zorv"); });
}

int ConnectionKeeper::Scaled(long long ms) const {
  return static_cast<int>(std::clamp<long long>(ms * msPerSecond_ / 1000, 1, INT_MAX));
}

bool ConnectionKeeper::Waiting() const { return waitTimer_->isActive(); }

// ---------------------------------------------------------------------------
// Lag check: any byte from the server counts as life. After PingInterval
// seconds of silence we ask; after PingTimeout more the connection is dead.

void ConnectionKeeper::StartLagCheck() {
  pingOutstanding_ = false;
  lastData_.start();
  if (settings_.pingInterval <= 0 || settings_.pingTimeout <= 0) return;
  lagTimer_->start(Scaled(std::min<long long>(settings_.pingInterval, kLongestSeconds) * 1000));
}

void ConnectionKeeper::StopLagCheck() {
  lagTimer_->stop();
  pingOutstanding_ = false;
}

void ConnectionKeeper::DataArrived() {
  lastData_.start();
  pingOutstanding_ = false;
}

void ConnectionKeeper::LagCheck() {
  if (!connected_) return;
  const long long intervalS = std::min<long long>(settings_.pingInterval, kLongestSeconds);
  const long long timeoutS = std::min<long long>(settings_.pingTimeout, kLongestSeconds);
  const int interval = Scaled(intervalS * 1000);
  const int timeout = Scaled(timeoutS * 1000);
  if (pingOutstanding_) {
    const qint64 waited = pingSentAt_.elapsed();
    if (waited >= timeout) {
      Drop("Ping timeout: no data from the server for " + std::to_string(intervalS + timeoutS) + " seconds");
      return;
    }
    lagTimer_->start(static_cast<int>(timeout - waited));
    return;
  }
  const qint64 idle = lastData_.elapsed();
  if (idle < interval) {
    lagTimer_->start(static_cast<int>(interval - idle));
    return;
  }
  token_ = "zorv-lag-" + std::to_string(++tokenSerial_);
  pingOutstanding_ = true;
  pingSentAt_.start();
  lagTimer_->start(timeout);
  connection_.SendMsg("PING :" + token_);
}

void ConnectionKeeper::Drop(const std::string& reason) {
  connection_.SayInServerWindow(reason);
  reasonShown_ = true;
  givingUp_ = true;
  // Nothing more goes out on a connection given up: what waits is dropped.
  connection_.Abort();
}

bool ConnectionKeeper::MaySend(int queued, std::size_t bytes) {
  if (givingUp_) return false;
  if (static_cast<std::size_t>(std::max(queued, 0)) + bytes <= kSendQueueLimit) return true;
  givingUp_ = true;
  reasonShown_ = true;
  connection_.SayInServerWindow("The server has stopped reading: more than 1 MiB waits to be sent, so the connection is closed");
  // Closed from the event loop, not inside whatever is sending right now.
  QTimer::singleShot(0, this, [this] {
    zorv::guarded(
        [this] {
          if (givingUp_) connection_.Abort();
        },
        "Zorv");
  });
  return false;
}

// ---------------------------------------------------------------------------
// The connection's life

void ConnectionKeeper::Connected() {
  connected_ = true;
  registered_ = welcomed_ = false;
  reasonShown_ = false;
  givingUp_ = false;
  StartLagCheck();
}

void ConnectionKeeper::Registered(const std::string& server, const std::string& port,
                                   const std::vector<zorv::ChannelToJoin>& channels) {
  registered_ = welcomed_ = true;
  attempt_ = 0;
  restoring_ = false;
  // Back where the channel windows were joined: they are joined again, whether
  // the reconnect or the user brought the connection back. Another server
  // knows nothing of them.
  const bool same = zorv::equalsIgnoreAsciiCase(server, welcomedServer_) && port == welcomedPort_;
  welcomedServer_ = server;
  welcomedPort_ = port;
  Rejoin(channels, same);
}

void ConnectionKeeper::UserConnect() { waitTimer_->stop(); }

void ConnectionKeeper::UserDisconnect() {
  if (waitTimer_->isActive()) {
    waitTimer_->stop();
    connection_.ReconnectWaiting(false);
  }
  restoring_ = false;
  registered_ = false;
  attempt_ = 0;
}

void ConnectionKeeper::Closed(uint16_t error) {
  StopLagCheck();
  const bool wasUp = connected_;
  // Only a session the server had accepted is brought back, and then every
  // attempt until one is accepted again; a first connect that fails stays failed.
  const bool lost = registered_ || restoring_;
  const bool shown = reasonShown_;
  const bool refused = std::exchange(certificateRefused_, false);
  // The conversations learn once that they are cut off, not once per attempt.
  if (welcomed_) connection_.SayInConversations("*** Disconnected");
  connected_ = registered_ = welcomed_ = givingUp_ = reasonShown_ = false;
  if (!lost || !settings_.reconnect) {
    restoring_ = false;
    return;
  }
  if (refused) {
    // Asking again every few seconds would nag the user who has just said no.
    restoring_ = false;
    connection_.SayInServerWindow("Not reconnecting: the server's certificate was refused. Press Connect to try again.");
    return;
  }
  if (wasUp && !shown)
    connection_.SayInServerWindow(error == 0 ? std::string("The server closed the connection")
                   : "Connection lost, error #" + std::to_string(error));
  restoring_ = true;
  ScheduleReconnect();
}

void ConnectionKeeper::LookupFailed() {
  if (restoring_ && !waitTimer_->isActive()) ScheduleReconnect();
}

void ConnectionKeeper::ScheduleReconnect() {
  const int delay = zorv::ReconnectDelayMs(attempt_, random_(), policy_);
  attempt_ = std::min(attempt_ + 1, 64);
  connection_.SayInServerWindow("Reconnecting in " + std::to_string(zorv::DelaySeconds(delay)) + " seconds");
  // While it waits, Disconnect is there to call the reconnect off.
  connection_.ReconnectWaiting(true);
  waitTimer_->start(Scaled(delay));
}

void ConnectionKeeper::Attempt() {
  if (!restoring_) return;
  try {
    connection_.ConnectAgain();
  } catch (...) {
    restoring_ = false;  // the fields cannot be connected to; the user takes over
    throw;
  }
}

void ConnectionKeeper::Rejoin(std::vector<zorv::ChannelToJoin> channels, bool openWindows) {
  for (zorv::ChannelToJoin& c : channels)
    if (c.key.empty()) c.key = keys_.KeyOf(c.name);
  std::vector<zorv::ChannelToJoin> open;
  if (openWindows) {
    for (const std::string& name : connection_.OpenWindows())
      if (zorv::isChannelName(name)) open.push_back({name, keys_.KeyOf(name)});
  }
  const auto all = zorv::MergeChannels(std::move(channels), open);
  for (const std::string& line : zorv::JoinLines(all)) connection_.SendMsg(line);
}
