// Lines from the server (a source without "!"): one handler per numeric reply.
// A reply's first parameter is the nick it is addressed to; what follows it
// is shown in the Server window when it holds a blank, and the line as it
// came otherwise.
#include <algorithm>
#include <string>

#include "Bytes.h"
#include "Dispatch.h"
#include "Inbound.h"
#include "WindowNames.h"

namespace zorv {

namespace {

using sv = std::string_view;

// Nicks tried after "in use" before the welcome: the nick with "_", then "__".
constexpr int kNickTries = 2;

// An answer this long after a command is taken to be its answer.
constexpr int kAnswerWindowMs = 10000;
constexpr int kDayMs = 86400000;

constexpr size_t kReplyWords = 3;

bool IsNumeric(sv command) {
  return command.size() == 3 && std::all_of(command.begin(), command.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A nick the server may address the own client by: one word of visible
// bytes, not "*" (no nick yet) and not a channel or a trailing text.
bool IsAddressedNick(sv nick) {
  if (nick.empty() || nick == "*" || nick.front() == ':' || nick.front() == '#' || nick.front() == '&') return false;
  return std::none_of(nick.begin(), nick.end(), [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

// The nick a numeric is addressed to is the own nick, in the server's spelling.
void FollowAddressedNick(Dispatcher& d, const InboundLine& l) {
  const sv nick = l.Word(0);
  if (IsAddressedNick(nick) && nick != d.frame.OwnNick()) d.frame.SetOwnNick(d.Pass(0, nick));
}

// The reply's text in Server, and also in `window` (unless that is none or
// Server itself): the user sees the answer where the question was asked.
Output AlsoIn(Dispatcher& d, const Output& text, const std::string& window) {
  if (window.empty() || equalsIgnoreAsciiCase(window, kServerWindow)) return text;
  d.Emit(text);
  return Show(d.Pass(1, window), text.text);
}

// The window where the user typed a command within the last few seconds, or "".
std::string RecentCommandWindow(Dispatcher& d) {
  Frame::LastCommand typed = d.frame.LastCommandTyped();
  if (typed.window.empty()) return {};
  const int since = ((d.frame.TimeOfDayMs() - typed.atMs) % kDayMs + kDayMs) % kDayMs;
  return since <= kAnswerWindowMs ? std::move(typed.window) : std::string();
}

// :server 401 me bob :No such nick/channel (and 403, 404, 442, 482): also in
// the window of the nick or channel named, else in the active window.
Output OnTargetError(Dispatcher& d, const InboundLine& l) {
  const std::string& target = d.Pass(0, l.Word(1));
  return AlsoIn(d, ReplyText(d, l), d.frame.HasWindow(target) ? target : d.frame.ActiveWindow());
}

// :server 305 me :You are no longer marked as being away (and 306)
Output OnAway(Dispatcher& d, const InboundLine& l) { return AlsoIn(d, ReplyText(d, l), RecentCommandWindow(d)); }

// :server 001 me :Welcome to the network, me
Output OnWelcome(Dispatcher& d, const InboundLine& l) {
  d.registration.welcomed = true;
  d.caps.Welcomed(d);
  FollowAddressedNick(d, l);
  d.frame.Registered();
  return ReplyText(d, l);
}

// :server 321 me Channel :Users  Name
Output OnListStart(Dispatcher& d, const InboundLine&) {
  d.frame.ChannelListStart();
  return kNothing;
}

// :server 322 me #chan 12 :topic
Output OnListRow(Dispatcher& d, const InboundLine& l) {
  d.frame.AddChannelRow(d.Pass(0, l.From(1)));
  return kNothing;
}

// :server 323 me :End of LIST
Output OnListEnd(Dispatcher& d, const InboundLine&) {
  d.frame.ChannelListEnd();
  return kNothing;
}

// :server 332 me #chan :topic
Output OnTopic(Dispatcher& d, const InboundLine& l) {
  d.frame.SetTopic(d.Pass(0, l.Word(1)), d.Pass(1, AfterColonOrWhole(l.From(1))), false);
  return ReplyText(d, l);
}

// :server 353 me = #chan :@alice bob   (with userhost-in-names: @alice!a@host)
Output OnNames(Dispatcher& d, const InboundLine& l) {
  if (!d.caps.Has(kUserhostInNames)) {
    d.frame.FillNames(d.Pass(0, l.From(1)));
  } else {
    // The nick list takes nicks: every "!user@host" goes.
    sv p = l.From(1);
    const size_t colon = std::min(p.find(" :"), p.size());
    std::string names(p.substr(0, colon));
    p.remove_prefix(colon);
    for (size_t i = 0; i < p.size();) {
      const size_t end = std::min(p.find(' ', i), p.size());
      const sv word = p.substr(i, end - i);
      names.append(word.substr(0, word.find('!')));
      if (end < p.size()) names.push_back(' ');
      i = end + 1;
    }
    d.frame.FillNames(d.Pass(0, names));
  }
  return ReplyText(d, l);
}

// :server 366 me #chan :End of NAMES list
Output OnEndOfNames(Dispatcher& d, const InboundLine& l) {
  d.frame.EndNames(d.Pass(0, l.From(1)));
  return ReplyText(d, l);
}

// :server 433 * nick :Nickname is already in use
Output OnNickInUse(Dispatcher& d, const InboundLine& l) {
  const Output text = ReplyText(d, l);
  Registration& r = d.registration;
  // Once registered, the answer to the user's own NICK.
  if (r.welcomed) return AlsoIn(d, text, RecentCommandWindow(d));
  if (r.nickTries >= kNickTries) return text;
  // Registering: try the nick with one more "_", saying so after the server's text.
  const std::string nick = d.frame.OwnNick();
  if (nick.empty()) return text;
  d.Emit(text);
  const std::string taken = nick + std::string(static_cast<size_t>(r.nickTries), '_');
  const std::string next = taken + '_';
  ++r.nickTries;
  d.Send({"NICK ", next});
  return Show(kServerWindow, d.Compose({"*** Nickname ", taken, " is in use, trying ", next}));
}

// Logging in while registering: the exchange decides (see Sasl.h).
Output OnCap(Dispatcher& d, const InboundLine& l) { return d.caps.Cap(d, l); }
Output OnAuthenticate(Dispatcher& d, const InboundLine& l) { return d.caps.Authenticate(d, l); }
Output OnSaslSuccess(Dispatcher& d, const InboundLine& l) { return d.caps.Succeeded(d, l); }
Output OnSaslFailure(Dispatcher& d, const InboundLine& l) { return d.caps.Failed(d, l); }
Output OnUnknownCommand(Dispatcher& d, const InboundLine& l) { return d.caps.UnknownCommand(d, l); }
Output OnNotRegistered(Dispatcher& d, const InboundLine& l) { return d.caps.NotRegistered(d, l); }

// Rows marked kReplyWords act only on a reply with a text.
constexpr Row kServerReplies[] = {
    {"001", OnWelcome},
    {"321", OnListStart, kReplyWords},
    {"322", OnListRow, kReplyWords},
    {"323", OnListEnd, kReplyWords},
    {"332", OnTopic, kReplyWords},
    {"353", OnNames, kReplyWords},
    {"366", OnEndOfNames, kReplyWords},
    {"305", OnAway, kReplyWords},
    {"306", OnAway, kReplyWords},
    {"401", OnTargetError, kReplyWords},
    {"403", OnTargetError, kReplyWords},
    {"404", OnTargetError, kReplyWords},
    {"433", OnNickInUse},
    {"442", OnTargetError, kReplyWords},
    {"482", OnTargetError, kReplyWords},
    {"421", OnUnknownCommand},
    {"451", OnNotRegistered},
    {"902", OnSaslFailure},
    {"903", OnSaslSuccess},
    {"904", OnSaslFailure},
    {"905", OnSaslFailure},
    {"906", OnSaslFailure},
    {"908", OnSaslFailure},
    {"CAP", OnCap},
    {"AUTHENTICATE", OnAuthenticate},
};

}  // namespace

// The reply's text: the parameters after the first, less one leading ":".
Output ReplyText(Dispatcher& d, const InboundLine& l) {
  if (l.Count() < kReplyWords) return d.Plain(l);
  sv p = l.From(1);
  if (p.front() == ':') p.remove_prefix(1);
  return Show(kServerWindow, p);
}

Output ServerLine(Dispatcher& d, const InboundLine& l) {
  if (d.registration.welcomed && IsNumeric(l.command)) FollowAddressedNick(d, l);
  const Row* row = FindRow(kServerReplies, l.command);
  if (row && l.Count() >= row->minWords) return row->handler(d, l);
  return ReplyText(d, l);
}

}  // namespace zorv
