#pragma once
// Helpers shared by the tests: bounded waits on the event loop, recorded
// message boxes, and a scripted loopback peer built on plain POSIX sockets.
#include <QString>
#include <QStringList>
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

// Files: all their bytes ("<missing>" when unreadable), written whole (throws
// when it cannot), and the permission bits (-1 when there is no such file).
QByteArray readBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& data);
int fileMode(const QString& path);

// A TCP listener on 127.0.0.1 at a port the system hands out (written to
// *port); rcvbuf > 0 sizes the receive buffer of the connections it accepts.
int listenLoopback(int* port, int socketFlags = 0, int rcvbuf = 0, bool v6 = false);

// A port on loopback where nothing listens (bound once, then closed).
int unusedPort();

// True when something accepts connections on the loopback port.
bool canConnect(int port);

// Writes all of bytes to a non-blocking descriptor, waiting while it is full
// (without running the event loop, so any thread may call it); stops early
// when the peer has gone.
void sendAll(int fd, const std::string& bytes);

// A loopback TCP peer driven without threads: one listener and the one
// client it accepted; every wait runs the Qt event loop, so that the code
// under test in the same thread keeps going meanwhile.
class LoopbackServer {
 public:
  explicit LoopbackServer(int rcvbuf = 0, bool v6 = false);  // v6: on ::1
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  int fd() const { return client_; }  // the accepted connection (-1 before)
  // Waits for a client (0: only one that is already waiting); true when one is connected.
  bool accept(int timeoutMs = 5000);
  bool connected() const { return client_ >= 0; }
  // Reads what has arrived from the client (non-blocking) into received().
  void poll();
  const std::string& received() const { return received_; }
  void clearReceived() {
    received_.clear();
    if (connectionStart_ != std::string::npos) connectionStart_ = 0;
  }
  // Waits until received() holds `needle`.
  bool waitReceived(const std::string& needle, int timeoutMs = 5000);
  // Waits until `want` bytes arrived, the client closed or failed, or the
  // time is up; returns received().
  const std::string& read(size_t want, int timeoutMs = 5000);
  // Waits until the client has closed its side (or the connection failed).
  bool waitPeerClosed(int timeoutMs = 5000);
  bool peerClosed() const { return eof || error != 0; }
  // Sends all of bytes, running the event loop while the connection is full.
  void send(const std::string& bytes);
  void closeClient();
  // Closes the client's connection with a reset instead of a clean close.
  void resetClient();
  void closeListener();

  // Zorv opens every registration with "CAP LS 302": with skipCapLs, that
  // line is taken off the front of each connection's bytes and counted in
  // capLs, so that received() holds what follows it.
  bool skipCapLs = true;
  int capLs = 0;

  bool eof = false;  // the client closed cleanly
  int error = 0;     // errno of a failed read (ECONNRESET after a reset)

 private:
  bool tryAccept();

  int listener_ = -1;
  int client_ = -1;
  int port_ = 0;
  std::string received_;
  size_t connectionStart_ = std::string::npos;  // where this connection's bytes begin, until checked
};

}  // namespace testsupport
