#pragma once
// Helpers shared by the tests: bounded waits on the event loop, recorded
// message boxes, and a scripted loopback peer built on plain POSIX sockets.
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <string>

namespace testsupport {

// Runs the Qt event loop until pred() is true or the time is up; returns pred().
bool waitFor(const std::function<bool()>& pred, int timeoutMs = 5000);

// Runs the event loop for a while (to let events that must NOT happen show up).
void pumpFor(int ms);

// Message boxes shown since the last clear (texts only).
QStringList& shownMessages();
void installMessageRecorder();

// A loopback TCP listener on a port the system hands out, driven without
// threads: each call polls with a short timeout.
class LoopbackServer {
 public:
  LoopbackServer();   // listens on 127.0.0.1:0
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  // Accepts one pending client; true when a client is connected.
  bool accept(int timeoutMs = 0);
  bool connected() const { return client_ >= 0; }
  // Reads what has arrived from the client (non-blocking) and appends it to received().
  void poll();
  const std::string& received() const { return received_; }
  void clearReceived() { received_.clear(); }
  // Waits (pumping Qt events) until received() holds `needle`.
  bool waitReceived(const std::string& needle, int timeoutMs = 5000);
  // Waits (pumping Qt events) until the client has closed its side.
  bool waitPeerClosed(int timeoutMs = 5000);
  bool peerClosed() const { return peerClosed_; }
  void send(const std::string& bytes);
  void closeClient();
  // Closes the client's connection with a reset instead of a clean close.
  void resetClient();
  void closeListener();

 private:
  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
  bool peerClosed_ = false;
  std::string received_;
};

// Writes all of bytes to a non-blocking descriptor, waiting while it is full;
// stops early when the peer has gone.
void sendAll(int fd, const std::string& bytes);

// A port on loopback where nothing listens (bound once, then closed).
int unusedPort();

}  // namespace testsupport
