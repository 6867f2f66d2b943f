// The byte path: the read loop and receiving, the send queue and sending.
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "WSocketPrivate.h"

using namespace zorv;
using namespace zorv::detail;

// ---------------------------------------------------------------------------
// TBuffer

TBuffer::TBuffer(int size) : buf_(static_cast<size_t>(size > 0 ? size : 1514)) {}

int TBuffer::Write(const void* data, int len) {
  int n = std::min(BufSize() - wrCount_, len);
  if (n <= 0) return 0;
  std::memcpy(buf_.data() + wrCount_, data, static_cast<size_t>(n));
  wrCount_ += n;
  return n;
}

const char* TBuffer::Peek(int& len) const {
  len = wrCount_ - rdCount_;
  return buf_.data() + rdCount_;
}

int TBuffer::Remove(int len) {
  int n = std::max(0, std::min(len, wrCount_ - rdCount_));
  rdCount_ += n;
  if (rdCount_ >= wrCount_) rdCount_ = wrCount_ = 0;
  return n;
}

void TBuffer::SetBufSize(int newSize) {
  if (newSize <= 0) newSize = 1514;
  int unsent = wrCount_ - rdCount_;
  if (unsent > 0) {
    std::memmove(buf_.data(), buf_.data() + rdCount_, static_cast<size_t>(unsent));
    buf_.resize(static_cast<size_t>(std::max(newSize, unsent)));
    rdCount_ = 0;
    wrCount_ = unsent;
  } else {
    buf_.assign(static_cast<size_t>(newSize), 0);
    rdCount_ = wrCount_ = 0;
  }
}

// ---------------------------------------------------------------------------
// Receiving

bool TCustomWSocket::TriggerDataAvailable(uint16_t error) {
  if (!OnDataAvailable) return false;
  const Watch w(this);
  ++inDataHandler_;
  try {
    OnDataAvailable(this, error);
  } catch (...) {
    if (!w.Deleted()) --inDataHandler_;
    throw;
  }
  if (!w.Deleted()) --inDataHandler_;
  return true;
}

void TCustomWSocket::ASyncReceive(uint16_t error, bool drain) {
  const Watch w(this);
  // A peer that sends faster than the handlers take its bytes would keep a
  // read notification going for ever and freeze the window. Past a time
  // slice the loop yields to the event loop; the descriptor is still
  // readable, so the next read notification carries on where this one ends.
  // At a close everything left is drained, so it all comes before the close.
  const auto sliceEnd = std::chrono::steady_clock::now() + kReadSlice;
  try {
    for (;;) {
      lastError_ = 0;
      const uint64_t before = receiveCalls_;
      if (!TriggerDataAvailable(error)) {
        if (w.Gone()) return;
        char buf[1024];
        if (DoRecv(buf, sizeof buf, 0) < 0) {
          const int e = WSocketGetLastError();
          if (e == WSAEWOULDBLOCK) {
            lastError_ = 0;
            break;
          }
          lastError_ = e;
        }
      }
      if (w.Gone()) return;
      if (lastError_ != 0) break;
      // A handler that took nothing would keep this loop going for ever.
      if (receiveCalls_ == before) break;
      if (RcvdCount() <= 0) break;
      if (!drain && std::chrono::steady_clock::now() >= sliceEnd) break;
    }
  } catch (...) {
    // An error in the loop or in the handler ends the loop and goes no further.
  }
}

int TCustomWSocket::DoRecv(void* buf, int len, int flags) {
  NoteReceiveCall();
  if (hSocket_ < 0) {
    WSocketSetLastError(WSAENOTSOCK);
    return -1;
  }
  ssize_t n = ::recv(hSocket_, buf, static_cast<size_t>(std::max(len, 0)), flags);
  if (n < 0) return setErrnoError();
  return static_cast<int>(n);
}

int TCustomWSocket::Receive(void* buf, int size) {
  int n = DoRecv(buf, size, 0);
  if (n < 0)
    lastError_ = WSocketGetLastError();
  else
    readCount_ += n;
  return n;
}

std::string TCustomWSocket::ReceiveStr() {
  int count = RcvdCount();
  if (count <= 0) return std::string();
  std::string s(static_cast<size_t>(count), '\0');
  int n = DoRecv(s.data(), count, 0);
  if (n <= 0) return std::string();
  s.resize(static_cast<size_t>(n));
  return s;
}

int TCustomWSocket::ReceiveFrom(void* buf, int size, sockaddr_in& from, int& fromLen) {
  sockaddr_storage a{};
  const int n = ReceiveFrom(buf, size, a, fromLen);
  if (n >= 0) std::memcpy(&from, &a, sizeof from);
  return n;
}

int TCustomWSocket::ReceiveFrom(void* buf, int size, sockaddr_storage& from, int& fromLen) {
  NoteReceiveCall();
  socklen_t len = sizeof from;
  ssize_t n = hSocket_ < 0 ? (errno = EBADF, -1)
                           : ::recvfrom(hSocket_, buf, static_cast<size_t>(std::max(size, 0)), 0,
                                        reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) {
    setErrnoError();
    lastError_ = WSocketGetLastError();
    return -1;
  }
  fromLen = static_cast<int>(len);
  readCount_ += static_cast<int>(n);
  return static_cast<int>(n);
}

int TCustomWSocket::RcvdCount() {
  int waiting = 0;
  if (hSocket_ < 0 || ::ioctl(hSocket_, FIONREAD, &waiting) != 0) {
    if (hSocket_ < 0) errno = EBADF;
    FailErrno("ioctlSocket");
    return -1;
  }
  return waiting;
}

// ---------------------------------------------------------------------------
// Sending

int TCustomWSocket::BufferedByteCount() const {
  int n = 0;
  for (const auto& b : bufList_) n += b->WrCount() - b->RdCount();
  return n;
}

// Appends to the queue: into the last chunk, then into new chunks as needed.
void TCustomWSocket::QueueBytes(const char* p, int len) {
  if (bufList_.empty()) bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
  int n = bufList_.back()->Write(p, len);
  while (n < len) {
    bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
    n += bufList_.back()->Write(p + n, len - n);
  }
}

int TCustomWSocket::Send(const void* data, int len) {
  if (state_ != wsConnected) {
    FailWith(WSAENOTCONN, "Send");
    return -1;
  }
  allSent_ = false;
  if (len > 0) QueueBytes(static_cast<const char*>(data), len);
  const int result = std::max(len, 0);
  const Watch w(this);
  TryToSend();
  // All gone at once: OnDataSent follows from the event loop.
  if (!w.Gone() && allSent_ && hSocket_ >= 0) PostSelectEvent(FD_WRITE, 0);
  return result;
}

int TCustomWSocket::SendStr(const std::string& s) { return Send(s.data(), static_cast<int>(s.size())); }

int TCustomWSocket::RealSend(const void* data, int len) {
  const int flags = MSG_NOSIGNAL | (sendFlags_ == 1 ? MSG_OOB : 0);
  ssize_t n;
  if (type_ == SOCK_DGRAM)
    n = ::sendto(hSocket_, data, static_cast<size_t>(len), flags, reinterpret_cast<sockaddr*>(&sin_),
                 WSocketAddrLen(sin_));
  else
    n = ::send(hSocket_, data, static_cast<size_t>(len), flags);
  if (n < 0) return setErrnoError();
  return static_cast<int>(n);
}

void TCustomWSocket::TryToSend() {
  if (hSocket_ < 0 || bufList_.empty() || lostError_ != 0) return;
  for (;;) {
    int len = 0;
    const char* p = bufList_.front()->Peek(len);
    if (len <= 0) {
      if (bufList_.size() > 1) {
        bufList_.pop_front();
        continue;
      }
      allSent_ = true;
      break;
    }
    int n = RealSend(p, len);
    if (n == 0) break;
    if (n > 0) {
      bufList_.front()->Remove(n);
      if (n < len) break;  // the rest goes when the socket is writable again
      continue;
    }
    const int e = WSocketGetLastError();
    if (e == WSAECONNRESET || e == WSAENOTSOCK || e == WSAENOTCONN || e == WSAEINVAL) {
      ConnectionLost(e);
      return;
    }
    if (e == WSAEWOULDBLOCK) break;
    SocketError("TryToSend failed");
    return;
  }
  UpdateNotifiers();
}

// The connection failed under a send. What the peer sent before it went away
// may still wait to be read, or a data handler may be working through it:
// that comes first. The close then goes through the event loop as a close
// notification carrying the error, which drains the rest before the
// session-closed event. With nothing to deliver it happens at once.
void TCustomWSocket::ConnectionLost(int error) {
  int waiting = 0;
  try {
    waiting = RcvdCount();  // a layer's own buffered bytes count as well
  } catch (const ESocketException&) {
  }
  if (!paused_ && (inDataHandler_ > 0 || waiting > 0)) {
    lostError_ = error;
    PostSelectEvent(FD_CLOSE, error);
    UpdateNotifiers();
    return;
  }
  const Watch w(this);
  closeInvoked_ = true;
  Close();
  if (w.Deleted()) return;
  TriggerSessionClosed(static_cast<uint16_t>(error));
}

// One pass of plain sends over the queue, raising nothing: what the platform
// takes now goes out before a close.
int TCustomWSocket::SendPendingOnce() {
  int sent = 0;
  while (hSocket_ >= 0 && !bufList_.empty()) {
    int len = 0;
    const char* p = bufList_.front()->Peek(len);
    if (len <= 0) {
      if (bufList_.size() == 1) break;
      bufList_.pop_front();
      continue;
    }
    int n = RealSend(p, len);
    if (n <= 0) break;
    bufList_.front()->Remove(n);
    sent += n;
    if (n < len) break;
  }
  return sent;
}

void TCustomWSocket::DeleteBufferedData() { bufList_.clear(); }

void TCustomWSocket::Flush() {
  const Watch w(this);
  QElapsedTimer t;
  t.start();
  const qint64 limitMs = std::max(flushTimeout_, 0) * 1000LL;
  while (hSocket_ >= 0 && lostError_ == 0 && BufferedByteCount() > 0) {
    TryToSend();
    if (w.Deleted()) return;
    if (hSocket_ < 0 || BufferedByteCount() == 0 || t.elapsed() >= limitMs) break;
    pollfd p{hSocket_, POLLOUT, 0};
    ::poll(&p, 1, 10);
    MessagePump();
    if (w.Deleted()) return;
  }
}
