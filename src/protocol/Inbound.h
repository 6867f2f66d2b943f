#pragma once
// The inbound protocol engine: assembles the server's bytes into lines,
// answers the server's keep-alive, parses each line and dispatches it to the
// windows through Frame (messages, notices, CTCP, channel events, numerics).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Frame.h"

// One received line split into its parts. Every field is a view into the raw
// line it was parsed from and is valid only as long as that line is.
struct InboundLine {
  std::string_view text;         // the line less bytes <= 32 at both ends
  std::string_view source;       // first word, less a leading ":"; empty without a blank
  std::string_view nick;         // source up to its first "!" (whole source without one)
  std::string_view userAddress;  // source after its first "!" (whole source without one)
  std::string_view command;      // second word as received (compare in upper case)
  std::string_view params;       // text after the command word, less one leading ":"
};

namespace zorv {

// Splits one raw line (as received, before trimming). Returns false when the
// line is empty after trimming; *out is then left unspecified.
bool ParseInboundLine(std::string_view raw, InboundLine* out);

// s without the bytes of value 0..32 at either end (bytes >= 128 stay).
std::string_view TrimControls(std::string_view s);

}  // namespace zorv

class InboundEngine {
 public:
  // Line assembly buffer: at most kBufferSize - 1 bytes of data are held.
  static constexpr int kBufferSize = 1024;
  // CTCP replies: a burst of kCtcpBurst answers, then one per kCtcpIntervalMs.
  static constexpr int kCtcpBurst = 8;
  static constexpr int kCtcpIntervalMs = 1000;

  explicit InboundEngine(Frame& frame);
  InboundEngine(const InboundEngine&) = delete;
  InboundEngine& operator=(const InboundEngine&) = delete;

  // One data-available event: exactly one call of receive, offered the free
  // part of LineBuf (always at least one byte), then every complete line is
  // processed in order. receive returns the number of bytes stored, or 0 or
  // less when nothing was received. Complete lines left over because a Frame
  // operation threw are processed first, in order. A call made while a line of this engine
  // is being processed (from inside a Frame operation) returns at once
  // without receiving; the socket raises the event again.
  void DataAvailable(const std::function<int(char* buf, int room)>& receive);

  // Processes one raw line (the bytes before its LF, CR included).
  void ProcessLine(std::string_view raw);

  // Drops a partial line (and an over-long line being skipped). Call it when
  // a new connection is made, so nothing of the old one reaches the new one.
  void ResetLineBuffer();

  // Bytes of an incomplete line waiting in the buffer.
  int PendingBytes() const { return LineLen; }

 private:
  void SplitLines();
  void UserLine(const InboundLine& l);
  void ServerLine(const InboundLine& l);
  void CtcpRequest(const InboundLine& l, std::string_view target, std::string_view message,
                   bool toOwnNick);
  void CtcpReply(const InboundLine& l, std::string_view message);
  void SendCtcpReply(std::string_view nick, std::string_view keyword, std::string_view body);
  bool TakeReplyToken();
  bool IsOwnNick(std::string_view nick) const;
  const std::string& Str(std::string& slot, std::string_view v) {
    slot.assign(v);
    return slot;
  }

  Frame& frame_;

  // Assembly buffer: LineLen data bytes from the start, a zero byte behind them.
  char LineBuf[kBufferSize];
  int LineLen = 0;
  // True while the rest of an over-long line is skipped up to its LF.
  bool skipping_ = false;
  // True while DataAvailable is processing (guards against re-entry).
  bool busy_ = false;
  // True when a Frame operation threw and complete lines may still be held.
  bool interrupted_ = false;

  // Per-line output, reused from line to line to avoid allocations.
  std::string window_;
  std::string text_;
  bool create_ = false;
  std::string ctcp_;
  std::string out_;
  std::string arg1_;
  std::string arg2_;

  // CTCP reply budget in milliseconds of refill (1000 per reply).
  std::int64_t budgetMs_ = std::int64_t{kCtcpBurst} * kCtcpIntervalMs;
  int lastClockMs_ = 0;
  bool clockSeen_ = false;
};
