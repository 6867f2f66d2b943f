#pragma once
// The blocking waits of the socket component, and TWSocket, its full stack.
#include <functional>

#include "WSocketLine.h"

// Blocking waits that keep the event loop running.
class TCustomSyncWSocket : public TCustomLineWSocket {
  Q_OBJECT
 public:
  static constexpr int WSA_WSOCKET_TIMEOUT = 12001;

  explicit TCustomSyncWSocket(QObject* owner = nullptr);

  // Pumps events until done is true (0), or until the time-out in
  // milliseconds (when positive) has passed or the application is closing
  // down (12001).
  virtual int WaitUntilReady(bool& done, int timeoutMs = 0);
  // Clears done, starts op and waits for it as WaitUntilReady does.
  virtual int Synchronize(const std::function<void()>& op, bool& done, int timeoutMs = 0);
};

class TWSocket : public TCustomSyncWSocket {
  Q_OBJECT
 public:
  explicit TWSocket(QObject* owner = nullptr);
};
