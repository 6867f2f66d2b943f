#include "Dispatch.h"

#include <algorithm>
#include <utility>

#include "Bytes.h"
#include "Inbound.h"
#include "WindowNames.h"

namespace zorv {

namespace {
constexpr char kPingPong[] = "Ping!! Pong!!";
}  // namespace

void Dispatcher::Process(std::string_view raw) {
  // Tags are read only while a negotiation is open (a server tags its ACK
  // already, as the capability it grants is on from there) or from a server
  // that agreed to some capability: otherwise a line is taken as it always was.
  const std::string_view tags = caps.Enabled() != 0 || caps.Negotiating() ? SplitTags(raw) : std::string_view();
  // The server's keep-alive is answered before anything else, even inside a batch.
  if (raw.substr(0, 6) == "PING :") {
    Send({"PONG :", trimControls(raw.substr(6))});
    Emit(Show(kServerWindow, kPingPong, true));
    return;
  }
  if (caps.Has(kBatch)) {
    if (BatchLine(raw)) return;
    if (batches_ > 0) {
      // Held whole (tags included) and handled when the batch closes.
      held_.emplace_back(Compose({"@", tags, " ", raw}));
      heldBytes_ += held_.back().size();
      if (held_.size() >= kMaxHeldLines || heldBytes_ >= kMaxHeldBytes) Release();
      return;
    }
  }
  Handle(tags, raw);
}

void Dispatcher::Handle(std::string_view tags, std::string_view raw) {
  InboundLine l;
  if (!ParseInboundLine(raw, &l)) return;
  l.tags = tags;
  // While logging in, the server may send its CAP and AUTHENTICATE lines with
  // no source at all ("AUTHENTICATE +"): the first word is then the command.
  if (caps.Configured() && l.text.front() != ':' &&
      (equalsIgnoreAsciiCase(l.source, "CAP") || equalsIgnoreAsciiCase(l.source, "AUTHENTICATE"))) {
    ParseSourcelessLine(raw, &l);
    l.tags = tags;
  }
  // The time the line was said travels with what it shows (playback from a
  // bouncer shows when it was said, not when it arrived).
  long long said = -1;
  if (caps.Has(kServerTime) && FindTag(tags, "time", &tag_)) said = ParseServerTime(tag_);
  struct SaidAt {
    Frame& frame;
    bool set;
    ~SaidAt() {
      if (set) frame.SaidAt(0);
    }
  } saidAt{frame, said > 0};
  if (saidAt.set) frame.SaidAt(said);
  const bool fromUser = l.source.find('!') != std::string_view::npos;
  // Messages, notices and CTCP from an ignored nick are neither shown nor answered.
  if (fromUser && (equalsIgnoreAsciiCase(l.command, "PRIVMSG") || equalsIgnoreAsciiCase(l.command, "NOTICE")) &&
      frame.IsIgnored(l.nick))
    return;
  Emit(fromUser ? UserLine(*this, l) : ServerLine(*this, l));
}

bool Dispatcher::BatchLine(std::string_view raw) {
  InboundLine l;
  if (!ParseInboundLine(raw, &l)) return false;
  if (!equalsIgnoreAsciiCase(l.command, "BATCH")) {
    if (!equalsIgnoreAsciiCase(l.source, "BATCH")) return false;
    ParseSourcelessLine(raw, &l);
  }
  const std::string_view ref = l.Word(0);
  if (ref.size() < 2 || (ref.front() != '+' && ref.front() != '-')) return true;
  if (ref.front() == '+') {
    if (batches_ < kMaxBatches) ++batches_;
  } else if (batches_ > 0 && --batches_ == 0) {
    Release();
  }
  return true;
}

void Dispatcher::Release() {
  std::vector<std::string> lines = std::move(held_);
  held_.clear();
  heldBytes_ = 0;
  const int open = std::exchange(batches_, 0);
  frame.Batch(true);
  struct Close {
    Frame& frame;
    ~Close() { frame.Batch(false); }
  } close{frame};
  for (const std::string& line : lines) {
    std::string_view raw = line;
    const std::string_view tags = SplitTags(raw);
    Handle(tags, raw);
  }
  // Lines after an overflow are held again while the batch is still open.
  batches_ = open;
}

void Dispatcher::Emit(const Output& o) {
  if (!o.show) return;
  // Never open a window without a name (only malformed input asks for it).
  window_.assign(o.window);
  // A composed text is handed on as it stands; any other is copied.
  const bool composed = o.text.data() == text_.data() && o.text.size() == text_.size();
  frame.AddText(window_, composed ? text_ : shown_.assign(o.text), o.create && !o.window.empty());
}

const std::string& Dispatcher::Compose(std::initializer_list<std::string_view> parts) {
  text_.clear();
  for (const auto part : parts) text_.append(part);
  return text_;
}

void Dispatcher::Send(std::initializer_list<std::string_view> parts) {
  out_.clear();
  for (const auto part : parts) out_.append(part);
  frame.SendMsg(out_);
}

const std::string& Dispatcher::Pass(int slot, std::string_view v) { return pass_[slot].assign(v); }

bool Dispatcher::IsOwnNick(std::string_view nick) const { return equalsIgnoreAsciiCase(nick, frame.OwnNick()); }

Output Dispatcher::Plain(const InboundLine& l) {
  return Show(kServerWindow, Compose({"<", l.nick, ">", l.command, " ", l.params}));
}

std::string_view Dispatcher::CtcpText(std::string_view message) {
  ctcp_.clear();
  for (const char c : message) {
    if (c != '\x01') ctcp_.push_back(c);
  }
  return trimControls(ctcp_);
}

const Row* FindRow(std::span<const Row> rows, std::string_view command) {
  for (const Row& row : rows) {
    if (row.command.size() == command.size() && equalsIgnoreAsciiCase(row.command, command)) return &row;
  }
  return nullptr;
}

}  // namespace zorv
