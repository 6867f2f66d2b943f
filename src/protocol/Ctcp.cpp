// CTCP: requests inside a PRIVMSG (answered by NOTICE, within the reply
// budget) and replies inside a NOTICE.
#include <charconv>
#include <cstdint>
#include <string>

#include "Bytes.h"
#include "Dispatch.h"
#include "Inbound.h"
#include "Product.h"
#include "WindowNames.h"

namespace zorv {

namespace {

using sv = std::string_view;
constexpr int kDayMs = 86400000;

// A CTCP text split at its first blank. Without a blank the argument is the
// whole text, so a bare "PING" is answered "PING PING".
struct Ctcp {
  sv text;
  sv keyword;
  sv argument;
};
Ctcp SplitCtcp(Dispatcher& d, sv message) {
  const sv text = d.CtcpText(message);
  const auto blank = text.find(' ');
  return {text, upToBlank(text), blank == sv::npos ? text : text.substr(blank + 1)};
}

// Sends "NOTICE nick :\1KEYWORD body\1" if the reply budget allows.
void Answer(Dispatcher& d, sv nick, sv keyword, sv body) {
  if (nick.empty()) return;  // nobody to answer
  if (!d.replies.Take(d.frame.TimeOfDayMs())) return;
  d.Send({"NOTICE ", nick, " :\x01", keyword, " ", body, "\x01"});
}

// A decimal number that fits in a signed 32-bit integer, with an optional sign.
bool ParseInt32(sv s, std::int32_t* value) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  if (s.empty()) return false;
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(s.data(), end, *value, 10);
  return r.ec == std::errc() && r.ptr == end;
}

// Whole seconds (plus one) since a CTCP PING time stamp taken at sent ms
// after midnight, now being the time of day; computed in signed 32-bit
// arithmetic with wrap-around, div and mod truncating toward zero.
std::int32_t PingSeconds(std::int32_t sent, int now) {
  const auto sum = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::int64_t{kDayMs} - sent + now));
  return sum % kDayMs / 1000 + 1;
}

}  // namespace

// :nick!user@host PRIVMSG target :\1KEYWORD argument\1
Output CtcpRequest(Dispatcher& d, const InboundLine& l, sv target, sv message, bool toOwnNick) {
  const Ctcp c = SplitCtcp(d, message);
  // Shown in the Server window, opened when the request came to the own nick.
  auto shown = [&](sv what) { return Show(kServerWindow, d.Compose({"*** CTCP ", what, " from ", l.nick}), toOwnNick); };
  if (equalsIgnoreAsciiCase(c.keyword, "ACTION")) {
    return Show(toOwnNick ? l.nick : target, d.Compose({"* ", l.nick, " ", c.argument}), toOwnNick);
  }
  if (equalsIgnoreAsciiCase(c.keyword, "PING")) {
    Answer(d, l.nick, "PING", trimControls(c.argument));
    return shown("PING");
  }
  if (equalsIgnoreAsciiCase(c.keyword, "TIME")) {
    Answer(d, l.nick, "TIME", d.frame.LocalShortDate() + ' ' + d.frame.LocalLongTime());
    return shown("TIME");
  }
  if (equalsIgnoreAsciiCase(c.keyword, "VERSION")) {
    Answer(d, l.nick, "VERSION", kVersionReply);
  } else if (equalsIgnoreAsciiCase(c.keyword, "CLIENTINFO")) {
    static const std::string info = std::string("Zorv ") + kProductVersion +
                                    " You may find lastest version of Zorv at Zorv homepage " + kHomePage;
    Answer(d, l.nick, "CLIENTINFO", info);
  }
  return shown(c.text);
}

// :nick!user@host NOTICE target :\1KEYWORD argument\1
Output CtcpReply(Dispatcher& d, const InboundLine& l, sv message) {
  const Ctcp c = SplitCtcp(d, message);
  std::int32_t sent = 0;
  if (equalsIgnoreAsciiCase(c.keyword, "PING") && ParseInt32(trimControls(c.argument), &sent)) {
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits, PingSeconds(sent, d.frame.TimeOfDayMs()));
    return Show(kServerWindow,
                d.Compose({"*** CTCP PING reply from ", l.nick, " : ", sv(digits, r.ptr - digits), " secs"}));
  }
  // Other replies, and a PING reply whose argument is not a 32-bit decimal
  // number, are shown as they came.
  return Show(kServerWindow, d.Compose({"*** CTCP ", c.keyword, " reply from ", l.nick, " ", c.argument}));
}

}  // namespace zorv
