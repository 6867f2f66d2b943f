#pragma once
// How a received line becomes what the windows show: the dispatcher looks
// the line's command up in a table, the command's handler acts on it through
// Frame and returns what to show where (or nothing), and the dispatcher shows it.
// Handlers are plain functions, one per command, in Commands.cpp (lines from
// a user), Replies.cpp (lines from the server) and Ctcp.cpp.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Caps.h"
#include "Frame.h"
#include "RateBudget.h"
#include "Sasl.h"

struct InboundLine;

namespace zorv {

// What one line shows: a text for a window (opened for it when create is
// set), or nothing.
struct Output {
  bool show = false;
  std::string_view window;
  std::string_view text;
  bool create = false;
};

inline constexpr Output kNothing{};
inline Output Show(std::string_view window, std::string_view text, bool create = false) {
  return {true, window, text, create};
}

// The CTCP reply budget: a burst of kBurst answers, then one per kIntervalMs.
class ReplyBudget : public RateBudget {
 public:
  static constexpr int kBurst = 8;
  static constexpr int kIntervalMs = 1000;
  ReplyBudget() : RateBudget(kBurst, kIntervalMs) {}
};

// Where the connection stands in its registration.
struct Registration {
  bool welcomed = false;  // the server's 001 has arrived
  int nickTries = 0;      // nicks tried after "in use" before the welcome
};

class Dispatcher {
 public:
  explicit Dispatcher(Frame& frame) : frame(frame) {}
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Acts on one raw line (the bytes before its LF, CR included).
  void Process(std::string_view raw);
  // A new connection: its registration (and any login) starts over.
  void Reset() {
    registration = {};
    caps.Reset();
    held_.clear();
    heldBytes_ = 0;
    batches_ = 0;
  }

  // Batches: at most this many open at once, and the lines held until the
  // last one closes; more than this is shown at once.
  static constexpr int kMaxBatches = 32;
  static constexpr size_t kMaxHeldLines = 5000;
  static constexpr size_t kMaxHeldBytes = 4 << 20;

  // For the handlers.
  Frame& frame;
  Registration registration;
  CapNegotiation caps;
  ReplyBudget replies;

  // Shows what a handler returned (a handler may show an extra line itself).
  void Emit(const Output& o);
  // The parts joined in the text buffer; the result stays valid until the
  // next Compose. No part may point into the text buffer itself.
  const std::string& Compose(std::initializer_list<std::string_view> parts);
  // Sends the parts joined as one line.
  void Send(std::initializer_list<std::string_view> parts);
  // A view handed to Frame as a string; slot 0 or 1, so that a call can take
  // two. The strings keep their capacity from line to line.
  const std::string& Pass(int slot, std::string_view v);
  // True for the own nick, ignoring ASCII case.
  bool IsOwnNick(std::string_view nick) const;
  // The line as it came, shown in the Server window: "<nick>COMMAND params".
  Output Plain(const InboundLine& l);
  // The CTCP text of a message (every \1 removed, trimmed), kept until the
  // next call.
  std::string_view CtcpText(std::string_view message);

 private:
  // A line without its tags: what it does.
  void Handle(std::string_view tags, std::string_view raw);
  // "BATCH +ref type ..." or "BATCH -ref" (any source): true when it was one.
  bool BatchLine(std::string_view raw);
  // Shows the held lines in order, in one go.
  void Release();

  std::vector<std::string> held_;
  size_t heldBytes_ = 0;
  int batches_ = 0;
  std::string text_, out_, ctcp_, window_, shown_, tag_;
  std::string pass_[2];
};

// One row of a command table: the command in upper case, its handler, and
// how many parameter words the line needs before the handler is asked (a
// shorter line is shown as it came).
using Handler = Output (*)(Dispatcher&, const InboundLine&);
struct Row {
  std::string_view command;
  Handler handler;
  size_t minWords = 0;
};

// The row for a command, ignoring ASCII case (null when none). The tables
// are a dozen rows: a scan that compares lengths first is as quick as any.
const Row* FindRow(std::span<const Row> rows, std::string_view command);

// The tables' entry points: lines from a user ("nick!user@host" source), from
// the server (any other source), and the CTCP inside a PRIVMSG or NOTICE.
Output UserLine(Dispatcher& d, const InboundLine& l);
Output ServerLine(Dispatcher& d, const InboundLine& l);
Output CtcpRequest(Dispatcher& d, const InboundLine& l, std::string_view target, std::string_view message,
                   bool toOwnNick);
Output CtcpReply(Dispatcher& d, const InboundLine& l, std::string_view message);

// How a server line is shown: its text after the addressed nick (less one
// leading ":") when it has one, the line as it came otherwise.
Output ReplyText(Dispatcher& d, const InboundLine& l);

// s after its first ":" (the whole of s without one).
inline std::string_view AfterColonOrWhole(std::string_view s) {
  const auto colon = s.find(':');
  return colon == std::string_view::npos ? s : s.substr(colon + 1);
}

}  // namespace zorv
