#include "SendPacer.h"

#include "Bytes.h"

namespace zorv {

bool SendPacer::Urgent(std::string_view line) {
  const std::string_view word = line.substr(0, line.find(' '));
  return equalsIgnoreAsciiCase(word, "PONG") || equalsIgnoreAsciiCase(word, "PING") ||
         equalsIgnoreAsciiCase(word, "QUIT");
}

void SendPacer::Push(std::string line) {
  bytes_ += line.size();
  if (Urgent(line)) {
    queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(urgent_++), std::move(line));
  } else {
    queue_.push_back(std::move(line));
  }
}

std::vector<std::string> SendPacer::Due(int nowMs) {
  std::vector<std::string> due;
  while (!queue_.empty()) {
    // An urgent line goes whether or not the budget allows; it still uses it up.
    const bool urgent = urgent_ > 0;
    if (!budget_.Take(nowMs) && !urgent) break;
    if (urgent) --urgent_;
    bytes_ -= queue_.front().size();
    due.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  return due;
}

int SendPacer::WaitMs(int nowMs) const {
  if (queue_.empty()) return -1;
  return urgent_ > 0 ? 0 : budget_.WaitMs(nowMs);
}

void SendPacer::Reset() {
  *this = SendPacer();
}

}  // namespace zorv
