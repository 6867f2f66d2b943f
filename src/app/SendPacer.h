#pragma once
// Paces the lines sent to a server as servers expect of a client: a burst of
// kBurst lines, then one line every kIntervalMs, so that a paste or a long
// text cut into pieces is not taken for a flood. PONG, PING and QUIT go at
// once, ahead of whatever waits: a PONG (or the lag check's PING) held back
// by a long paste would cost a healthy connection, and a QUIT is the user
// leaving. Plain C++ driven by the caller's
// clock (the time of day in milliseconds), so it is tested without a socket.
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "RateBudget.h"

namespace zorv {

class SendPacer {
 public:
  static constexpr int kBurst = 10;
  static constexpr int kIntervalMs = 1000;

  SendPacer() : budget_(kBurst, kIntervalMs) {}

  // Whether a line skips the queue (PONG, PING and QUIT, in any letter case).
  static bool Urgent(std::string_view line);

  // Queues a line (without CR LF).
  void Push(std::string line);
  // The queued lines that may go at nowMs, in the order they are to be sent.
  std::vector<std::string> Due(int nowMs);
  // Milliseconds until the next queued line may go; -1 when none waits.
  int WaitMs(int nowMs) const;
  std::size_t Waiting() const { return queue_.size(); }
  std::size_t WaitingBytes() const { return bytes_; }
  // A new connection: what waited is dropped and the full burst is back.
  void Reset();

 private:
  RateBudget budget_;
  std::deque<std::string> queue_;
  std::size_t urgent_ = 0;  // urgent lines at the front of the queue
  std::size_t bytes_ = 0;
};

}  // namespace zorv
