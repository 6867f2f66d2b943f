#pragma once
// The inbound protocol engine: assembles the server's bytes into lines and
// hands each complete line to the dispatcher, which answers the server's
// keep-alive and shows or acts on the line through Frame.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "Bytes.h"
#include "Dispatch.h"
#include "Frame.h"

// One received line split into its parts. Every field is a view into the raw
// line it was parsed from and is valid only as long as that line is.
struct InboundLine {
  // Words of the parameter text that are kept apart; a line with more
  // blanks keeps the rest of its text in the last one. Every handler reads
  // at most its first three words; more would cost every line a longer split.
  static constexpr size_t kMaxWords = 4;

  std::string_view tags;         // the tag section less its "@" (empty without one)
  std::string_view text;         // the line less bytes <= 32 at both ends
  std::string_view source;       // first word, less a leading ":"; empty without a blank
  std::string_view nick;         // source up to its first "!" (whole source without one)
  std::string_view userAddress;  // source after its first "!" (whole source without one)
  std::string_view command;      // second word as received (compare in upper case)
  std::string_view params;       // text after the command word, less one leading ":"

  // The parameter text split at every single blank (two blanks in a row make
  // an empty word): Word(i) is its word i, From(i) the text from word i to the
  // end; both are empty past the last word.
  size_t Count() const { return words; }
  std::string_view Word(size_t i) const { return zorv::upToBlank(From(i)); }
  std::string_view From(size_t i) const { return i < words ? params.substr(start[i]) : std::string_view(); }

  // Where each word begins in params (the first words entries are set).
  std::uint32_t start[kMaxWords];
  size_t words = 0;
};

namespace zorv {

// Splits one raw line (as received, before trimming). Returns false when the
// line is empty after trimming; *out is then left unspecified.
bool ParseInboundLine(std::string_view raw, InboundLine* out);

// Takes the tag section ("@a=1;b ") off the front of a raw line and returns
// it without its "@"; raw is left at the rest of the line. A line without
// one returns "". A section longer than kMaxTagBytes is dropped unread.
std::string_view SplitTags(std::string_view& raw);

// Splits a line that has no source at all ("COMMAND params"): source, nick
// and address stay empty. Returns false when the line is empty after trimming.
bool ParseSourcelessLine(std::string_view raw, InboundLine* out);

}  // namespace zorv

class InboundEngine {
 public:
  // Line assembly buffer: at most kBufferSize - 1 bytes of data are held,
  // or kTaggedBufferSize - 1 once the server sends message tags (8191 bytes
  // of tags before a line of 512).
  static constexpr int kBufferSize = 1024;
  static constexpr int kTaggedBufferSize = 8191 + 512 + 1;
  // CTCP replies: a burst of kCtcpBurst answers, then one per kCtcpIntervalMs.
  static constexpr int kCtcpBurst = zorv::ReplyBudget::kBurst;
  static constexpr int kCtcpIntervalMs = zorv::ReplyBudget::kIntervalMs;

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
  void ProcessLine(std::string_view raw) { dispatch_.Process(raw); }

  // A new connection begins: drops what is left of the old one (as
  // ResetLineBuffer) and forgets its registration, so that a nick in use is
  // retried again and numerics are read as before a welcome.
  void Reset();

  // Opens the registration of a new connection (after Reset): PASS when the
  // frame has a server password, CAP LS 302 when it has a SASL password, then
  // NICK and USER.
  void Register(std::string_view nick);

  // Drops a partial line (and an over-long line being skipped), so nothing
  // of an old connection reaches a new one.
  void ResetLineBuffer();

  // Bytes of an incomplete line waiting in the buffer.
  int PendingBytes() const { return LineLen; }
  // The capabilities the server acknowledged on this connection (Caps.h).
  std::uint32_t Capabilities() const { return dispatch_.caps.Enabled(); }

 private:
  void SplitLines();
  // The buffer size in use: larger once message tags are on.
  int Size() const;

  zorv::Dispatcher dispatch_;

  // Assembly buffer: LineLen data bytes from the start, a zero byte behind them.
  char LineBuf[kTaggedBufferSize];
  int LineLen = 0;
  // True while the rest of an over-long line is skipped up to its LF.
  bool skipping_ = false;
  // True while DataAvailable is processing (guards against re-entry).
  bool busy_ = false;
  // True when a Frame operation threw and complete lines may still be held.
  bool interrupted_ = false;
};
