#include "Dispatch.h"

#include <algorithm>

#include "Bytes.h"
#include "Inbound.h"
#include "WindowNames.h"

namespace zorv {

namespace {
constexpr char kPingPong[] = "Ping!! Pong!!";
}  // namespace

void Dispatcher::Process(std::string_view raw) {
  // The server's keep-alive is answered before anything else.
  if (raw.substr(0, 6) == "PING :") {
    Send({"PONG :", trimControls(raw.substr(6))});
    Emit(Show(kServerWindow, kPingPong, true));
    return;
  }
  InboundLine l;
  if (!ParseInboundLine(raw, &l)) return;
  // While logging in, the server may send its CAP and AUTHENTICATE lines with
  // no source at all ("AUTHENTICATE +"): the first word is then the command.
  if (sasl.Configured() && l.text.front() != ':' &&
      (equalsIgnoreAsciiCase(l.source, "CAP") || equalsIgnoreAsciiCase(l.source, "AUTHENTICATE")))
    ParseSourcelessLine(raw, &l);
  const bool fromUser = l.source.find('!') != std::string_view::npos;
  // Messages, notices and CTCP from an ignored nick are neither shown nor answered.
  if (fromUser && (equalsIgnoreAsciiCase(l.command, "PRIVMSG") || equalsIgnoreAsciiCase(l.command, "NOTICE")) &&
      frame.IsIgnored(l.nick))
    return;
  Emit(fromUser ? UserLine(*this, l) : ServerLine(*this, l));
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
