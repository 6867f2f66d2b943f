// Lines from a user (a "nick!user@host" source): one handler per command.
// A command without a row is shown as it came in the Server window.
#include "Bytes.h"
#include "Dispatch.h"
#include "Inbound.h"
#include "Names.h"
#include "WindowNames.h"

namespace zorv {

namespace {

using sv = std::string_view;
constexpr char kCtcpMark = '\x01';

// "*** WHAT: nick (address) params", the line of a channel event.
const std::string& EventText(Dispatcher& d, sv what, const InboundLine& l) {
  return d.Compose({"*** ", what, ": ", l.nick, " (", l.userAddress, ") ", l.params});
}

// Target and text of a PRIVMSG or NOTICE: both empty unless the parameter
// text holds a blank and a ":" (the text runs from the first ":" on).
struct Message {
  sv target;
  sv text;
};
Message SplitMessage(const InboundLine& l) {
  const auto colon = l.params.find(':');
  if (l.Count() < 2 || colon == sv::npos) return {};
  return {l.Word(0), l.params.substr(colon + 1)};
}

// :nick!user@host NICK :newnick
Output OnNick(Dispatcher& d, const InboundLine& l) {
  // The new nick is one word; a NICK line without one renames nothing.
  const sv newNick = l.Word(0);
  if (newNick.empty()) return kNothing;
  const std::string& to = d.Pass(1, newNick);
  if (d.IsOwnNick(l.nick)) d.frame.SetOwnNick(to);
  d.frame.ChangeNick(d.Pass(0, l.nick), to);
  return kNothing;
}

// A line the own nick sent, as the server echoes it or a bouncer relays it
// from another client of the user: shown once, as the own line is shown.
bool OwnEcho(Dispatcher& d, const InboundLine& l) {
  return (d.caps.Has(kEchoMessage) || d.caps.Has(kSelfMessage)) && d.IsOwnNick(l.nick);
}

// :nick!user@host PRIVMSG #chan :text   (or PRIVMSG ownnick :text)
Output OnPrivmsg(Dispatcher& d, const InboundLine& l) {
  const Message m = SplitMessage(l);
  if (m.target.empty() || m.text.empty()) return d.Plain(l);
  const bool toOwnNick = d.IsOwnNick(m.target);
  if (OwnEcho(d, l)) {
    // The own action as the window shows it; no other own request is
    // answered (that would answer oneself) or shown.
    if (m.text.front() == kCtcpMark) {
      const sv ctcp = d.CtcpText(m.text);
      if (!equalsIgnoreAsciiCase(upToBlank(ctcp), "ACTION")) return kNothing;
      return Show(m.target, d.Compose({"* ", l.nick, " ", afterBlank(ctcp)}), !isChannelName(m.target));
    }
    return Show(m.target, d.Compose({"<", l.nick, ">", m.text}), !isChannelName(m.target));
  }
  if (m.text.front() == kCtcpMark) return CtcpRequest(d, l, m.target, m.text, toOwnNick);
  // A private message goes to (and opens) the sender's window.
  return Show(toOwnNick ? l.nick : m.target, d.Compose({"<", l.nick, ">", m.text}), toOwnNick);
}

// :nick!user@host NOTICE target :text
Output OnNotice(Dispatcher& d, const InboundLine& l) {
  const Message m = SplitMessage(l);
  if (m.target.empty() || m.text.empty()) return d.Plain(l);
  if (OwnEcho(d, l)) {
    if (m.text.front() == kCtcpMark) return kNothing;  // the own CTCP reply
    return Show(kCurrentWindow, d.Compose({"-NOTICE- ", m.target, " ", m.text}));
  }
  if (m.text.front() == kCtcpMark) return CtcpReply(d, l, m.text);
  return Show(kCurrentWindow, d.Compose({"--", l.nick, "-- ", m.text}));
}

// :nick!user@host JOIN :#chan   (with extended-join: JOIN #chan account :real name)
Output OnJoin(Dispatcher& d, const InboundLine& l) {
  const bool own = d.IsOwnNick(l.nick);
  sv channel = l.params;
  const bool extended = d.caps.Has(kExtendedJoin) && l.Count() > 1;
  if (extended) channel = l.Word(0);
  if (!own) d.frame.AddNick(d.Pass(0, channel), d.Pass(1, l.nick));
  // The nick lists keep the account of a listed nick only: it is told once the nick is in.
  if (extended && !own) {
    const sv account = l.Word(1);
    d.frame.NickAccount(d.Pass(0, l.nick), d.Pass(1, account == "*" ? sv() : account));
  }
  // The own join opens the channel window.
  return Show(channel, d.Compose({"*** JOIN: ", l.nick, " (", l.userAddress, ") ", channel}), own);
}

// :nick!user@host AWAY :reason   (away-notify; without a reason: back)
Output OnAwayNotify(Dispatcher& d, const InboundLine& l) {
  if (!d.caps.Has(kAwayNotify)) return d.Plain(l);
  d.frame.AwayNick(d.Pass(0, l.nick), !l.params.empty());
  return kNothing;
}

// :nick!user@host ACCOUNT name   ("*": logged out)
Output OnAccount(Dispatcher& d, const InboundLine& l) {
  if (!d.caps.Has(kAccountNotify)) return d.Plain(l);
  const sv account = l.Word(0);
  d.frame.NickAccount(d.Pass(0, l.nick), d.Pass(1, account == "*" ? sv() : account));
  return kNothing;
}

// :nick!user@host CHGHOST user host, :nick!user@host SETNAME :real name: the
// nick stays where it is (no quit and join); nothing to show.
Output OnQuietChange(Dispatcher& d, const InboundLine& l) {
  return d.caps.Has(upperAscii(l.command.front()) == 'C' ? kChghost : kSetname) ? kNothing : d.Plain(l);
}

// :nick!user@host INVITE target #chan: an invite of someone else
// (invite-notify) is shown in the channel; the own invite as ever.
Output OnInvite(Dispatcher& d, const InboundLine& l) {
  const sv target = l.Word(0), channel = AfterColonOrWhole(l.Word(1));
  if (!d.caps.Has(kInviteNotify) || d.IsOwnNick(target) || !isChannelName(channel)) return d.Plain(l);
  return Show(channel, d.Compose({"*** INVITE: ", l.nick, " invites ", target, " to ", channel}));
}

// :nick!user@host PART #chan
Output OnPart(Dispatcher& d, const InboundLine& l) {
  if (!d.IsOwnNick(l.nick)) d.frame.DelNick(d.Pass(0, l.params), d.Pass(1, l.nick));
  return Show(l.params, EventText(d, "PART", l));
}

// :nick!user@host QUIT :reason
Output OnQuit(Dispatcher& d, const InboundLine& l) {
  // Shown in every window the nick was in, by the frame.
  d.frame.QuitNick(d.Pass(0, l.nick), EventText(d, "QUIT", l));
  return kNothing;
}

// :nick!user@host TOPIC #chan :new topic
Output OnTopic(Dispatcher& d, const InboundLine& l) {
  const sv channel = l.Word(0);
  const sv topic = AfterColonOrWhole(l.params);
  d.frame.SetTopic(d.Pass(0, channel), d.Pass(1, topic), false);
  return Show(channel, d.Compose({"*** TOPIC: changed to \"", topic, "\" by ", l.nick, " (", l.userAddress, ")"}));
}

// :nick!user@host KICK #chan victim :reason
Output OnKick(Dispatcher& d, const InboundLine& l) {
  const sv channel = l.Word(0);
  const sv victim = l.Word(1);
  const bool hasReason = l.Count() > 2;
  d.frame.DelNick(d.Pass(0, channel), d.Pass(1, victim));
  if (!victim.empty() && d.IsOwnNick(victim)) {
    // Kicked: empty the list for a fresh names listing, alert, rejoin.
    d.frame.ResetNames(d.Pass(0, channel));
    d.frame.Alert();
    if (isChannelName(channel)) d.Send({"JOIN ", channel});  // never a JOIN of something else
  }
  return Show(channel, d.Compose({"*** KICK: ", victim, " has been kicked from ", channel, " by ", l.nick,
                                  " because ", hasReason ? AfterColonOrWhole(l.From(1)) : "nothing",
                                  "."}));
}

// Calls op(nick, give) for every "o" of a mode change "+ov-b arg arg arg":
// o takes a nick, b v k l take an argument that is skipped, anything else
// takes none. Only the first character is a sign. Without a blank, the
// letters are their own arguments.
template <typename Op>
void ForEachOpChange(sv change, Op op) {
  const bool oneWord = change.find(' ') == sv::npos;
  const sv modes = oneWord ? trimControls(change) : upToBlank(change);
  sv args = trimControls(oneWord ? change : afterBlank(change));
  if (modes.empty() || (modes.front() != '+' && modes.front() != '-')) return;
  const bool give = modes.front() == '+';
  for (const char c : modes.substr(1)) {
    const char u = upperAscii(c);
    if (u != 'O' && u != 'B' && u != 'V' && u != 'K' && u != 'L') continue;
    if (args.find_first_not_of(' ') == sv::npos) continue;
    sv arg = upToBlank(args);
    args = afterBlank(args);
    // The last argument may come in the trailing form (":nick", as inspircd
    // sends it); no other argument can begin with a colon.
    if (arg.size() > 1 && arg.front() == ':') arg.remove_prefix(1);
    if (u == 'O') op(arg, give);
  }
}

// :nick!user@host MODE #chan +o-v nick1 nick2
Output OnMode(Dispatcher& d, const InboundLine& l) {
  // Without a blank there is no target: the whole text is the change.
  const sv target = l.Count() > 1 ? l.Word(0) : sv();
  const sv change = l.Count() > 1 ? l.From(1) : l.params;
  ForEachOpChange(change, [&](sv nick, bool give) { d.frame.ModeNick(d.Pass(0, target), d.Pass(1, nick), give); });
  return Show(target,
              d.Compose({"*** Mode change ", target, " \"", change, "\" by ", l.nick, " (", l.userAddress, ") "}));
}

constexpr Row kUserCommands[] = {
    {"JOIN", OnJoin},       {"KICK", OnKick},       {"MODE", OnMode},   {"NICK", OnNick},  {"NOTICE", OnNotice},
    {"PART", OnPart},       {"PRIVMSG", OnPrivmsg}, {"QUIT", OnQuit},   {"TOPIC", OnTopic},
    {"AWAY", OnAwayNotify}, {"ACCOUNT", OnAccount, 1}, {"CHGHOST", OnQuietChange, 2}, {"SETNAME", OnQuietChange, 1},
    {"INVITE", OnInvite, 2},
};

}  // namespace

Output UserLine(Dispatcher& d, const InboundLine& l) {
  const Row* row = FindRow(kUserCommands, l.command);
  return row && l.Count() >= row->minWords ? row->handler(d, l) : d.Plain(l);
}

}  // namespace zorv
