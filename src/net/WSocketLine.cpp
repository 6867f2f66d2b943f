// Line mode and the blocking waits.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include "WSocketSync.h"

using namespace zorv;

TCustomLineWSocket::TCustomLineWSocket(QObject* owner) : TCustomSslWSocket(owner) {}

void TCustomLineWSocket::Connect() {
  rcvdBuf_.clear();
  lineLength_ = 0;
  TCustomSslWSocket::Connect();
}

void TCustomLineWSocket::SetLineMode(bool on) {
  if (on == lineMode_) return;
  lineMode_ = on;
  // Bytes already buffered are handed out from the event loop, as lines
  // (switched on) or as plain data (switched off).
  TSocketMessage m;
  m.Msg = WM_TRIGGER_DATA_AVAILABLE;
  Window()->Post(m);
}

void TCustomLineWSocket::WndProc(TSocketMessage& msg) {
  if (msg.Msg != WM_TRIGGER_DATA_AVAILABLE) {
    TCustomSslWSocket::WndProc(msg);
    return;
  }
  const Watch w(this);
  if (lineMode_ && !lineEnd_.empty()) {
    if (hSocket_ >= 0 && !Negotiating())
      TriggerDataAvailable(0);  // takes in what waits, then delivers the lines
    else
      DeliverLines(0);
    return;
  }
  // Line mode went off with bytes left in the buffer: plain data events
  // until the handler has taken them.
  while (!w.Deleted() && !rcvdBuf_.empty() && !delivering_) {
    const size_t before = rcvdBuf_.size();
    if (!TCustomSslWSocket::TriggerDataAvailable(0)) break;
    if (w.Deleted() || rcvdBuf_.size() >= before) break;
  }
}

bool TCustomLineWSocket::TriggerDataAvailable(uint16_t error) {
  if (!lineMode_ || lineEnd_.empty() || Negotiating())
    return TCustomSslWSocket::TriggerDataAvailable(error);
  // Take in everything that waits now, then hand out the complete lines.
  char buf[4096];
  for (;;) {
    const int n = TCustomSslWSocket::DoRecv(buf, sizeof buf, 0);
    if (n <= 0) break;
    rcvdBuf_.append(buf, static_cast<size_t>(n));
    if (n < static_cast<int>(sizeof buf)) break;
  }
  DeliverLines(error);
  return true;
}

void TCustomLineWSocket::DeliverLines(uint16_t error) {
  if (delivering_) return;  // a handler that pumps events must not nest deliveries
  const Watch w(this);
  delivering_ = true;
  while (lineMode_ && !lineEnd_.empty()) {
    const size_t pos = rcvdBuf_.find(lineEnd_);
    if (pos == std::string::npos) break;
    lineLength_ = static_cast<int>(pos + lineEnd_.size());
    try {
      TCustomSslWSocket::TriggerDataAvailable(error);
    } catch (...) {
      if (!w.Deleted()) {
        delivering_ = false;
        if (lineLength_ > 0) rcvdBuf_.erase(0, static_cast<size_t>(lineLength_));
        lineLength_ = 0;
      }
      throw;
    }
    if (w.Deleted()) return;
    // A line the handler did not take is dropped, or it would come back for ever.
    if (lineLength_ > 0) rcvdBuf_.erase(0, static_cast<size_t>(lineLength_));
    lineLength_ = 0;
  }
  delivering_ = false;
}

void TCustomLineWSocket::TriggerSessionClosed(uint16_t error) {
  const Watch w(this);
  if (lineMode_ && !lineEnd_.empty() && !delivering_ && !rcvdBuf_.empty()) {
    DeliverLines(0);
    if (w.Deleted()) return;
    if (!rcvdBuf_.empty() && !delivering_) {
      // The last line, without its end.
      delivering_ = true;
      lineLength_ = static_cast<int>(rcvdBuf_.size());
      try {
        TCustomSslWSocket::TriggerDataAvailable(0);
      } catch (...) {
      }
      if (w.Deleted()) return;
      delivering_ = false;
      lineLength_ = 0;
    }
  }
  rcvdBuf_.clear();
  TCustomSslWSocket::TriggerSessionClosed(error);
}

int TCustomLineWSocket::DoRecv(void* buf, int len, int flags) {
  auto fromBuffer = [&](int avail) {
    NoteReceiveCall();
    const int n = std::max(0, std::min(len, avail));
    std::memcpy(buf, rcvdBuf_.data(), static_cast<size_t>(n));
    if (!(flags & MSG_PEEK)) {
      rcvdBuf_.erase(0, static_cast<size_t>(n));
      if (lineLength_ > 0) lineLength_ -= n;
    }
    return n;
  };
  if (lineLength_ > 0) return fromBuffer(lineLength_);
  if (!lineMode_ && !rcvdBuf_.empty()) return fromBuffer(static_cast<int>(rcvdBuf_.size()));
  if (lineMode_ && !lineEnd_.empty() && !Negotiating()) {
    // In line mode bytes come out only as whole lines, from the line event.
    NoteReceiveCall();
    WSocketSetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  return TCustomSslWSocket::DoRecv(buf, len, flags);
}

int TCustomLineWSocket::RcvdCount() {
  if (lineLength_ > 0) return lineLength_;
  if (!lineMode_ && !rcvdBuf_.empty()) return static_cast<int>(rcvdBuf_.size());
  return TCustomSslWSocket::RcvdCount();
}

// ---------------------------------------------------------------------------

TCustomSyncWSocket::TCustomSyncWSocket(QObject* owner) : TCustomLineWSocket(owner) {}

int TCustomSyncWSocket::WaitUntilReady(bool& done, int timeoutMs) {
  const Watch w(this);
  QElapsedTimer t;
  t.start();
  for (;;) {
    if (w.Deleted()) return done ? 0 : WSA_WSOCKET_TIMEOUT;
    MessagePump();
    if (done) return 0;
    if (!QCoreApplication::instance() || QCoreApplication::closingDown()) return WSA_WSOCKET_TIMEOUT;
    if (timeoutMs > 0 && t.elapsed() >= timeoutMs) return WSA_WSOCKET_TIMEOUT;
    ::poll(nullptr, 0, 1);  // give the processor away between passes
  }
}

int TCustomSyncWSocket::Synchronize(const std::function<void()>& op, bool& done, int timeoutMs) {
  done = false;
  op();
  return WaitUntilReady(done, timeoutMs);
}

TWSocket::TWSocket(QObject* owner) : TCustomSyncWSocket(owner) {}
