#include "Inbound.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "Names.h"
#include "Product.h"

namespace {

using sv = std::string_view;
constexpr auto npos = sv::npos;
constexpr char kCtcpMark = '\x01';
constexpr int kDayMs = 86400000;

const std::string kServer = "Server";
const std::string kActiveWindow = "CURRENTMDICHILDWINDOW";
const std::string kPingPong = "Ping!! Pong!!";

inline bool IsControl(char c) { return static_cast<unsigned char>(c) <= 32; }
inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Equal ignoring the case of the ASCII letters a to z only.
bool SameText(sv a, sv b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// s up to its first blank (the whole s without one).
sv UpToBlank(sv s) {
  const auto b = s.find(' ');
  return b == npos ? s : s.substr(0, b);
}

// s after its first occurrence of c (the whole s without one).
sv AfterOrWhole(sv s, char c) {
  const auto p = s.find(c);
  return p == npos ? s : s.substr(p + 1);
}

// Target and message of a PRIVMSG or NOTICE: both empty unless the
// parameter text holds a blank and a ":".
void SplitMessage(sv params, sv* target, sv* message) {
  *target = {};
  *message = {};
  if (params.find(' ') == npos) return;
  const auto colon = params.find(':');
  if (colon == npos) return;
  *target = UpToBlank(params);
  *message = params.substr(colon + 1);
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
  const auto sum = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(std::int64_t{kDayMs} - sent + now));
  return sum % kDayMs / 1000 + 1;
}

void Append(std::string& s, sv v) { s.append(v.data(), v.size()); }

}  // namespace

namespace zorv {

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && IsControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsControl(s.back())) s.remove_suffix(1);
  return s;
}

bool ParseInboundLine(std::string_view raw, InboundLine* out) {
  InboundLine l;
  l.text = TrimControls(raw);
  if (l.text.empty()) return false;

  sv rest = l.text;
  const auto blank = l.text.find(' ');
  if (blank != npos) {
    const size_t from = l.text.front() == ':' ? 1 : 0;
    l.source = l.text.substr(from, blank - from);
    rest = l.text.substr(blank + 1);
  }
  const auto blank2 = rest.find(' ');
  if (blank2 != npos) {
    l.command = rest.substr(0, blank2);
    l.params = rest.substr(blank2 + 1);
    if (!l.params.empty() && l.params.front() == ':') l.params.remove_prefix(1);
  } else {
    l.command = rest;
  }
  const auto bang = l.source.find('!');
  if (bang != npos) {
    l.nick = l.source.substr(0, bang);
    l.userAddress = l.source.substr(bang + 1);
  } else {
    l.nick = l.source;
    l.userAddress = l.source;
  }
  *out = l;
  return true;
}

}  // namespace zorv

using zorv::TrimControls;

InboundEngine::InboundEngine(Frame& frame) : frame_(frame) { LineBuf[0] = '\0'; }

void InboundEngine::ResetLineBuffer() {
  LineLen = 0;
  LineBuf[0] = '\0';
  skipping_ = false;
  interrupted_ = false;
}

void InboundEngine::DataAvailable(const std::function<int(char* buf, int room)>& receive) {
  if (busy_) return;
  // Complete lines left behind by a Frame operation that threw come first.
  if (interrupted_) {
    interrupted_ = false;
    SplitLines();
  }
  if (LineLen < 0 || LineLen >= kBufferSize - 1) ResetLineBuffer();  // never offer room 0

  const int room = kBufferSize - 1 - LineLen;
  int got = receive(LineBuf + LineLen, room);
  if (got <= 0) return;
  if (got > room) got = room;

  // Zero bytes are dropped: they carry nothing in this protocol, and dropping
  // them keeps the byte after the held data the only zero in the buffer.
  char* const fresh = LineBuf + LineLen;
  char* keep = static_cast<char*>(std::memchr(fresh, '\0', static_cast<size_t>(got)));
  if (keep) {
    for (const char* p = keep; p != fresh + got; ++p) {
      if (*p != '\0') *keep++ = *p;
    }
    got = static_cast<int>(keep - fresh);
  }

  if (skipping_) {
    // The rest of an over-long line is dropped up to and including its LF.
    const auto* lf = static_cast<const char*>(std::memchr(fresh, '\n', static_cast<size_t>(got)));
    if (!lf) {
      LineBuf[LineLen] = '\0';
      return;
    }
    skipping_ = false;
    const int after = static_cast<int>(fresh + got - (lf + 1));
    std::memmove(fresh, lf + 1, static_cast<size_t>(after));
    got = after;
  }
  LineLen += got;
  LineBuf[LineLen] = '\0';
  SplitLines();
}

void InboundEngine::SplitLines() {
  // Process every complete line, then move what is left to the front once.
  // The guard also does this when a Frame operation throws, so the buffer
  // stays consistent: the line in hand counts as consumed, the lines after it
  // wait for the next event.
  struct Consume {
    InboundEngine& e;
    int pos = 0;
    bool finished = false;
    ~Consume() {
      if (pos > 0) {
        std::memmove(e.LineBuf, e.LineBuf + pos, static_cast<size_t>(e.LineLen - pos));
        e.LineLen -= pos;
        e.LineBuf[e.LineLen] = '\0';
      }
      e.busy_ = false;
      e.interrupted_ = !finished;
      if (e.LineLen >= kBufferSize - 1 &&
          !std::memchr(e.LineBuf, '\n', static_cast<size_t>(e.LineLen))) {
        // Full and no LF: this line cannot be assembled. Drop it and skip
        // the rest of it, so the connection goes on with the next line.
        e.LineLen = 0;
        e.LineBuf[0] = '\0';
        e.skipping_ = true;
      }
    }
  } consume{*this};
  busy_ = true;
  for (;;) {
    const char* start = LineBuf + consume.pos;
    const auto* lf = static_cast<const char*>(
        std::memchr(start, '\n', static_cast<size_t>(LineLen - consume.pos)));
    if (!lf) break;
    consume.pos = static_cast<int>(lf + 1 - LineBuf);
    ProcessLine(sv(start, static_cast<size_t>(lf - start)));
  }
  consume.finished = true;
}

bool InboundEngine::IsOwnNick(std::string_view nick) const {
  return SameText(nick, frame_.OwnNick());
}

void InboundEngine::ProcessLine(std::string_view raw) {
  // The server's keep-alive is answered before anything else.
  if (raw.substr(0, 6) == "PING :") {
    out_.assign("PONG :");
    Append(out_, TrimControls(raw.substr(6)));
    frame_.SendMsg(out_);
    frame_.AddText(kServer, kPingPong, true);
    return;
  }

  InboundLine l;
  if (!zorv::ParseInboundLine(raw, &l)) return;

  window_.assign(kServer);
  create_ = false;
  text_.assign("<");
  Append(text_, l.nick);
  text_.push_back('>');
  Append(text_, l.command);
  text_.push_back(' ');
  Append(text_, l.params);

  if (l.source.find('!') != npos) {
    UserLine(l);
  } else {
    ServerLine(l);
  }

  if (text_.empty()) return;
  // Never open a window without a name (only malformed input asks for it).
  if (window_.empty()) create_ = false;
  frame_.AddText(window_, text_, create_);
}

void InboundEngine::UserLine(const InboundLine& l) {
  const sv cmd = l.command;
  const sv params = l.params;

  // "nick (address)": who did it, as every event line names them.
  auto appendWho = [&] {
    Append(text_, l.nick);
    text_.append(" (");
    Append(text_, l.userAddress);
    text_.push_back(')');
  };
  // "*** <what>: nick (address) " : the common head of several event lines.
  auto eventHead = [&](const char* what) {
    text_.assign("*** ");
    text_.append(what);
    text_.append(": ");
    appendWho();
    text_.push_back(' ');
  };

  if (SameText(cmd, "NICK")) {
    // The new nick is one word; a NICK line without one renames nothing.
    const sv newNick = UpToBlank(params);
    text_.clear();
    if (newNick.empty()) return;
    Str(arg2_, newNick);
    if (IsOwnNick(l.nick)) frame_.SetOwnNick(arg2_);
    frame_.ChangeNick(Str(arg1_, l.nick), arg2_);
  } else if (SameText(cmd, "PRIVMSG")) {
    sv target, message;
    SplitMessage(params, &target, &message);
    if (target.empty() || message.empty()) return;
    const bool toOwnNick = IsOwnNick(target);
    text_.assign("<");
    Append(text_, l.nick);
    text_.push_back('>');
    Append(text_, message);
    if (toOwnNick) {
      window_.assign(l.nick);
      create_ = true;
    } else {
      window_.assign(target);
    }
    if (message.front() == kCtcpMark) CtcpRequest(l, target, message, toOwnNick);
  } else if (SameText(cmd, "NOTICE")) {
    sv target, message;
    SplitMessage(params, &target, &message);
    if (target.empty() || message.empty()) return;
    text_.assign("--");
    Append(text_, l.nick);
    text_.append("-- ");
    Append(text_, message);
    window_.assign(kActiveWindow);
    if (message.front() == kCtcpMark) CtcpReply(l, message);
  } else if (SameText(cmd, "PART")) {
    eventHead("PART");
    Append(text_, params);
    window_.assign(params);
    if (!IsOwnNick(l.nick)) frame_.DelNick(window_, Str(arg1_, l.nick));
  } else if (SameText(cmd, "TOPIC")) {
    const sv topic = AfterOrWhole(params, ':');
    text_.assign("*** TOPIC: changed to \"");
    Append(text_, topic);
    text_.append("\" by ");
    appendWho();
    window_.assign(UpToBlank(params));
    frame_.SetTopic(window_, Str(arg1_, topic), false);
  } else if (SameText(cmd, "KICK")) {
    const auto blank = params.find(' ');
    const sv channel = blank == npos ? params : params.substr(0, blank);
    const sv rest = blank == npos ? sv() : params.substr(blank + 1);
    sv victim = rest;
    sv reason;
    const bool hasReason = rest.find(' ') != npos;
    if (hasReason) {
      victim = UpToBlank(rest);
      reason = AfterOrWhole(rest, ':');
    }
    text_.assign("*** KICK: ");
    Append(text_, victim);
    text_.append(" has been kicked from ");
    Append(text_, channel);
    text_.append(" by ");
    Append(text_, l.nick);
    if (hasReason) {
      text_.append(" because ");
      Append(text_, reason);
      text_.push_back('.');
    } else {
      text_.append(" because nothing.");
    }
    window_.assign(channel);
    frame_.DelNick(window_, Str(arg1_, victim));
    if (!victim.empty() && IsOwnNick(victim)) {
      // Kicked: empty the list for a fresh names listing, alert, rejoin.
      frame_.ResetNames(window_);
      frame_.Alert();
      if (zorv::isChannelName(channel)) {  // never a JOIN of something else
        out_.assign("JOIN ");
        Append(out_, channel);
        frame_.SendMsg(out_);
      }
    }
  } else if (SameText(cmd, "QUIT")) {
    eventHead("QUIT");
    Append(text_, params);
    frame_.QuitNick(Str(arg1_, l.nick), text_);
    text_.clear();
  } else if (SameText(cmd, "JOIN")) {
    eventHead("JOIN");
    Append(text_, params);
    window_.assign(params);
    if (!IsOwnNick(l.nick)) {
      frame_.AddNick(window_, Str(arg1_, l.nick));
    } else {
      create_ = true;  // the own join opens the channel window
    }
  } else if (SameText(cmd, "MODE")) {
    const auto blank = params.find(' ');
    const sv target = blank == npos ? sv() : params.substr(0, blank);
    const sv m = blank == npos ? params : params.substr(blank + 1);
    text_.assign("*** Mode change ");
    Append(text_, target);
    text_.append(" \"");
    Append(text_, m);
    text_.append("\" by ");
    appendWho();
    text_.push_back(' ');
    window_.assign(target);

    // Walk the mode letters; o takes a nick, b v k l take an argument that
    // is skipped, anything else takes none. Only the first character is a sign.
    const auto mBlank = m.find(' ');
    const sv modes = mBlank == npos ? TrimControls(m) : m.substr(0, mBlank);
    sv args = TrimControls(mBlank == npos ? m : m.substr(mBlank + 1));
    if (modes.empty() || (modes.front() != '+' && modes.front() != '-')) return;
    const bool give = modes.front() == '+';
    for (const char c : modes.substr(1)) {
      const char u = Upper(c);
      if (u != 'O' && u != 'B' && u != 'V' && u != 'K' && u != 'L') continue;
      if (args.find_first_not_of(' ') == npos) continue;
      const auto argBlank = args.find(' ');
      const sv arg = argBlank == npos ? args : args.substr(0, argBlank);
      args = argBlank == npos ? sv() : args.substr(argBlank + 1);
      if (u == 'O') frame_.ModeNick(window_, Str(arg1_, arg), give);
    }
  }
  // Any other command keeps the default text in "Server".
}

void InboundEngine::ServerLine(const InboundLine& l) {
  if (l.command == "001") frame_.Registered();
  // Drop the first parameter (in numeric replies the own nick).
  const auto blank = l.params.find(' ');
  const sv p = blank == npos ? l.params : l.params.substr(blank + 1);
  if (p.find(' ') == npos) return;  // the default text stands

  text_.assign(p.substr(!p.empty() && p.front() == ':' ? 1 : 0));
  const sv cmd = l.command;
  if (cmd == "353") {
    frame_.FillNames(Str(arg1_, p));
  } else if (cmd == "366") {
    frame_.EndNames(Str(arg1_, p));
  } else if (cmd == "332") {
    frame_.SetTopic(Str(arg1_, UpToBlank(p)), Str(arg2_, AfterOrWhole(p, ':')), false);
  } else if (cmd == "321") {
    frame_.ChannelListStart();
    text_.clear();
  } else if (cmd == "322") {
    frame_.AddChannelRow(Str(arg1_, p));
    text_.clear();
  } else if (cmd == "323") {
    frame_.ChannelListEnd();
    text_.clear();
  }
}

void InboundEngine::CtcpRequest(const InboundLine& l, std::string_view target,
                                std::string_view message, bool toOwnNick) {
  ctcp_.clear();
  for (const char c : message) {
    if (c != kCtcpMark) ctcp_.push_back(c);
  }
  const sv ctcp = TrimControls(ctcp_);

  text_.assign("*** CTCP ");
  Append(text_, ctcp);
  text_.append(" from ");
  Append(text_, l.nick);
  window_.assign(kServer);  // the create flag stays as the message set it

  const auto blank = ctcp.find(' ');
  const sv keyword = blank == npos ? ctcp : ctcp.substr(0, blank);
  const sv argument = blank == npos ? ctcp : ctcp.substr(blank + 1);

  if (SameText(keyword, "ACTION")) {
    text_.assign("* ");
    Append(text_, l.nick);
    text_.push_back(' ');
    Append(text_, argument);
    window_.assign(toOwnNick ? l.nick : target);
  } else if (SameText(keyword, "PING")) {
    text_.assign("*** CTCP PING from ");
    Append(text_, l.nick);
    SendCtcpReply(l.nick, "PING", TrimControls(argument));
  } else if (SameText(keyword, "TIME")) {
    text_.assign("*** CTCP TIME from ");
    Append(text_, l.nick);
    arg2_ = frame_.LocalShortDate();
    arg2_ += ' ';
    arg2_ += frame_.LocalLongTime();
    SendCtcpReply(l.nick, "TIME", arg2_);
  } else if (SameText(keyword, "VERSION")) {
    SendCtcpReply(l.nick, "VERSION", zorv::kVersionReply);
  } else if (SameText(keyword, "CLIENTINFO")) {
    static const std::string info =
        std::string("Zorv ") + zorv::kProductVersion +
        " You may find lastest version of Zorv at Zorv homepage " + zorv::kHomePage;
    SendCtcpReply(l.nick, "CLIENTINFO", info);
  }
}

// Sends "NOTICE nick :\1KEYWORD body\1" if the reply budget allows.
void InboundEngine::SendCtcpReply(std::string_view nick, std::string_view keyword,
                                  std::string_view body) {
  if (nick.empty()) return;  // nobody to answer
  if (!TakeReplyToken()) return;
  out_.assign("NOTICE ");
  Append(out_, nick);
  out_.append(" :\x01");
  Append(out_, keyword);
  out_.push_back(' ');
  Append(out_, body);
  out_.push_back(kCtcpMark);
  frame_.SendMsg(out_);
}

bool InboundEngine::TakeReplyToken() {
  const int now = frame_.TimeOfDayMs();
  if (!clockSeen_) {
    clockSeen_ = true;
  } else {
    std::int64_t elapsed = std::int64_t{now} - lastClockMs_;
    if (elapsed < 0) {
      // A jump back by more than half a day is midnight passing; a smaller
      // one is the clock being set back, which refills nothing.
      if (elapsed < -kDayMs / 2) elapsed += kDayMs;
      if (elapsed < 0) elapsed = 0;
    }
    budgetMs_ = std::min<std::int64_t>(budgetMs_ + elapsed,
                                       std::int64_t{kCtcpBurst} * kCtcpIntervalMs);
  }
  lastClockMs_ = now;
  if (budgetMs_ < kCtcpIntervalMs) return false;
  budgetMs_ -= kCtcpIntervalMs;
  return true;
}

void InboundEngine::CtcpReply(const InboundLine& l, std::string_view message) {
  ctcp_.clear();
  for (const char c : message) {
    if (c != kCtcpMark) ctcp_.push_back(c);
  }
  const sv ctcp = TrimControls(ctcp_);
  window_.assign(kServer);

  const auto blank = ctcp.find(' ');
  const sv keyword = blank == npos ? ctcp : ctcp.substr(0, blank);
  const sv argument = blank == npos ? ctcp : ctcp.substr(blank + 1);

  std::int32_t sent = 0;
  if (SameText(keyword, "PING") && ParseInt32(TrimControls(argument), &sent)) {
    char digits[16];
    const auto r = std::to_chars(digits, digits + sizeof digits,
                                 PingSeconds(sent, frame_.TimeOfDayMs()));
    text_.assign("*** CTCP PING reply from ");
    Append(text_, l.nick);
    text_.append(" : ");
    text_.append(digits, r.ptr);
    text_.append(" secs");
    return;
  }
  // Other replies, and a PING reply whose argument is not a 32-bit decimal
  // number, are shown as they came.
  text_.assign("*** CTCP ");
  Append(text_, keyword);
  text_.append(" reply from ");
  Append(text_, l.nick);
  text_.push_back(' ');
  Append(text_, argument);
}
