#include "Interpreter.h"

#include <algorithm>

#include "Product.h"
#include "Text.h"
#include "WindowNames.h"

namespace zorv {

namespace {

constexpr char kCtcp = '\x01';
constexpr char kNotOnChannel[] = "*** You are not on any channel!";
constexpr char kQueryUsage[] = "*** USAGE: /QUERY <nick> [text]";
constexpr std::size_t kAssumedUser = 10;   // longest user name servers usually allow
constexpr std::size_t kAssumedHost = 63;   // longest host name
constexpr std::size_t kNearBlank = 64;     // how far back from a cut a blank is looked for
constexpr std::size_t kLongestSequence = 4;  // bytes of the longest UTF-8 sequence

// Args split at its first blank: w1 is up to and including the blank, r1
// what follows. Without a blank, w1 is empty and r1 is all of args.
struct Split {
  std::string w1;
  std::string r1;
};

Split splitFirst(std::string_view args) {
  const auto blank = args.find(' ');
  if (blank == std::string_view::npos) return {std::string(), std::string(args)};
  return {std::string(args.substr(0, blank + 1)), std::string(args.substr(blank + 1))};
}

void usage(InterpretResult& r, std::string& out, const char* text) {
  out.clear();
  r.writes.emplace_back(text);
}

bool isServerWindow(std::string_view name) { return equalsIgnoreAsciiCase(name, kServerWindow); }

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string tooLong(std::size_t size, std::size_t limit) {
  return "*** Not sent: the line is " + std::to_string(size) + " bytes long, a server takes " +
         std::to_string(limit) + " at most";
}

// The text that a message command carries, sent as head + piece + tail for
// each piece that fits the relay limit; every piece is echoed as echo + piece.
struct Message {
  std::string head;
  std::string text;
  std::string tail;
  std::string echo;  // "" = no echo
};

void sendMessage(const Message& m, std::string_view nick, std::vector<std::string>& writes, InterpretResult& r,
                 std::string& out) {
  const std::size_t limit = RelayLimit(nick);
  const std::vector<std::string> pieces = SplitMessage(m.head, m.text, m.tail, limit);
  if (pieces.empty()) {
    out.clear();
    r.writes.push_back(tooLong(m.head.size() + m.text.size() + m.tail.size(), limit));
    return;
  }
  out = m.head + pieces.front() + m.tail;
  for (std::size_t i = 1; i < pieces.size(); ++i) r.sendMore.push_back(m.head + pieces[i] + m.tail);
  if (m.echo.empty() || r.serverEchoes) return;
  for (const std::string& piece : pieces) writes.push_back(m.echo + piece);
}

// A command word alone (a slash and one word).
void commandAlone(const std::string& command, std::string_view name, std::string_view nick, InterpretResult& r,
                  std::string& out) {
  if (command == "QUIT") {
    out = std::string("QUIT  ") + kHomePage;
  } else if (command == "PART") {
    out.clear();
    r.closeSelf = true;
  } else if (command == "JOIN") {
    usage(r, out, "*** USAGE: /JOIN <channel>");
  } else if (command == "MSG" || command == "PRIVMSG") {
    usage(r, out, "*** USAGE: /MSG <target> <parameter>");
  } else if (command == "INVITE") {
    usage(r, out, "*** USAGE: /INVITE <nick> <channel>");
  } else if (command == "NOTICE") {
    usage(r, out, "*** USAGE: /NOTICE <target> <parameter>");
  } else if (command == "KICK") {
    usage(r, out, "*** USAGE: /KICK <channel> <nick> <reason>");
  } else if (command == "MODE") {
    usage(r, out, "*** USAGE: /MODE <channel> <mode> <parameter>");
  } else if (command == "NAMES") {
    usage(r, out, "*** USAGE: /NAMES <channel>");
  } else if (command == "TOPIC") {
    usage(r, out, "*** USAGE: /TOPIC <channel> [new topic]");
  } else if (command == "CTCP") {
    usage(r, out, "*** USAGE: /CTCP <target> <ctcp command> <parameter>");
  } else if (command == "QUERY") {
    usage(r, out, kQueryUsage);
  } else if (command == "ME") {
    if (isServerWindow(name)) {
      usage(r, out, kNotOnChannel);
    } else {
      const std::string invitation = std::string("invite you to visit Zorv homepage at ") + kHomePage;
      out = "PRIVMSG " + std::string(name) + " :" + kCtcp + "ACTION " + invitation + kCtcp;
      if (!r.serverEchoes) r.writes.push_back("* " + std::string(nick) + " " + invitation);
    }
  }
  // Any other word is sent as it stands, upper-cased.
}

// /QUERY nick [text]: opens the private window of nick and brings it to the
// front; text, if any, goes to nick as plain text does, echoed in that window.
void query(std::string_view args, std::string_view nick, InterpretResult& r, std::string& out) {
  const auto start = args.find_first_not_of(' ');
  const Split s = splitFirst(args.substr(start == std::string_view::npos ? args.size() : start));
  const std::string target = s.w1.empty() ? s.r1 : s.w1.substr(0, s.w1.size() - 1);
  // A channel is joined, not queried; a blank name opens nothing.
  if (target.empty() || target.front() == '#' || target.front() == '&') {
    usage(r, out, kQueryUsage);
    return;
  }
  r.query = target;
  out.clear();
  if (s.w1.empty()) return;
  sendMessage({"PRIVMSG " + target + " :", s.r1, "", "<" + std::string(nick) + ">"}, nick, r.queryWrites, r, out);
  // A refusal is written where the user typed, not into the new window.
}

// A command word followed by arguments (args is never empty).
void commandWithArgs(const std::string& command, std::string args, std::string_view name, std::string_view nick,
                     int timeOfDayMs, InterpretResult& r, std::string& out) {
  if (command == "MSG") {
    const Split s = splitFirst(args);
    sendMessage({"PRIVMSG " + s.w1 + ":", s.r1, "", ""}, nick, r.writes, r, out);
  } else if (command == "NOTICE") {
    const Split s = splitFirst(args);
    sendMessage({"NOTICE " + s.w1 + ":", s.r1, "", "-NOTICE- " + s.w1}, nick, r.writes, r, out);
  } else if (command == "AWAY") {
    out = "AWAY :" + args;
  } else if (command == "QUERY") {
    query(args, nick, r, out);
  } else if (command == "PART") {
    r.closeNames.push_back(args);
  } else if (command == "TOPIC") {
    if (args.find(' ') != std::string::npos) {
      const Split s = splitFirst(args);
      args = s.w1 + ":" + s.r1;
    }
    out = "TOPIC " + args;
  } else if (command == "KICK") {
    if (args.find(' ') == std::string::npos) {
      usage(r, out, "*** USAGE: /KICK <channel> <nick> <reason>");
      return;
    }
    const Split s = splitFirst(args);
    std::string rest = s.r1;
    if (rest.find(' ') != std::string::npos) {
      const Split rs = splitFirst(rest);
      rest = rs.w1 + ":" + rs.r1;
    }
    out = "KICK " + s.w1 + rest;
  } else if (command == "ME") {
    if (isServerWindow(name)) {
      usage(r, out, kNotOnChannel);
    } else {
      const std::string head = "PRIVMSG " + std::string(name) + " :" + kCtcp + "ACTION ";
      sendMessage({head, args, std::string(1, kCtcp), "* " + std::string(nick) + " "}, nick, r.writes, r, out);
    }
  } else if (command == "CTCP") {
    if (args.find(' ') == std::string::npos) {
      usage(r, out, "*** USAGE: /CTCP <target> <ctcp command> <parameter>");
      return;
    }
    if (upperAscii(splitFirst(args).r1) == "PING") args += " " + std::to_string(timeOfDayMs);
    const auto blank = args.find(' ');
    // Every piece of a long request carries its CTCP word, as every piece of
    // an action does.
    const Split request = splitFirst(upperAscii(args.substr(blank + 1)));
    const std::string head = "PRIVMSG " + args.substr(0, blank) + " :" + kCtcp + request.w1;
    sendMessage({head, request.r1, std::string(1, kCtcp), ""}, nick, r.writes, r, out);
  }
  // Every other word passes with its arguments as typed.
}

}  // namespace

std::string CleanInput(std::string_view typed) {
  std::string text;
  text.reserve(typed.size());
  for (std::size_t i = 0; i < typed.size(); ++i) {
    const char c = typed[i];
    if (c == '\r' || c == '\n' || c == '\0') {
      if (c == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n') ++i;
      text.push_back(' ');
    } else {
      text.push_back(c);
    }
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.pop_back();
  return text;
}

namespace {

InterpretResult interpretLine(std::string_view typed, std::string_view windowName, std::string_view nick,
                              int timeOfDayMs, bool serverEchoes) {
  InterpretResult r;
  r.serverEchoes = serverEchoes;
  const std::string text = CleanInput(typed);
  if (text.empty()) return r;

  if (text.front() != '/') {
    if (windowName == "Server") {
      r.writes.emplace_back(kNotOnChannel);
    } else {
      const std::string head = "PRIVMSG " + std::string(windowName) + " :";
      sendMessage({head, text, "", "<" + std::string(nick) + ">"}, nick, r.writes, r, r.send);
      r.sendBeforeWrites = true;
    }
    return r;
  }

  std::string out;
  const auto blank = text.find(' ');
  if (blank == std::string::npos) {
    const std::string command = upperAscii(std::string_view(text).substr(1));
    out = command;
    commandAlone(command, windowName, nick, r, out);
  } else {
    const std::string command = upperAscii(std::string_view(text).substr(1, blank - 1));
    std::string args = text.substr(blank + 1);
    out = command + " " + args;
    commandWithArgs(command, std::move(args), windowName, nick, timeOfDayMs, r, out);
  }
  // Message commands have been cut into pieces that fit; any other line
  // that a server would not take is not sent at all.
  if (out.size() > kMaxLineBytes) {
    r.writes.push_back(tooLong(out.size(), kMaxLineBytes));
    out.clear();
  }
  r.send = std::move(out);
  return r;
}

}  // namespace

InterpretResult Interpret(std::string_view typed, std::string_view windowName, std::string_view nick,
                          int timeOfDayMs, bool connected, bool serverEchoes) {
  InterpretResult r = interpretLine(typed, windowName, nick, timeOfDayMs, serverEchoes);
  if (connected || r.send.empty()) return r;
  // Shown as said, the line would tell the user a lie.
  InterpretResult notSent;
  notSent.writes.emplace_back("*** Not sent: not connected");
  return notSent;
}

std::size_t RelayLimit(std::string_view nick, std::string_view userAtHost) {
  const std::size_t address = userAtHost.empty() ? kAssumedUser + 1 + kAssumedHost : userAtHost.size();
  const std::size_t prefix = 1 + nick.size() + 1 + address + 1;  // ":" nick "!" user@host " "
  return prefix >= kMaxLineBytes ? 0 : kMaxLineBytes - prefix;
}

std::vector<std::string> SplitMessage(std::string_view head, std::string_view text, std::string_view tail,
                                      std::size_t limit) {
  std::vector<std::string> pieces;
  const std::size_t frame = head.size() + tail.size();
  // Room for at least one whole UTF-8 sequence, or there is no way to go on.
  if (frame + kLongestSequence > limit && frame + text.size() > limit) return pieces;
  const std::size_t room = limit - frame;
  while (text.size() > room) {
    // The next piece must not begin inside a UTF-8 sequence: back off to the
    // sequence's first byte. Bytes that are not UTF-8 are cut where they fall.
    std::size_t cut = room;
    for (std::size_t back = 0; back < kLongestSequence && back < cut; ++back) {
      if (!isContinuationByte(text[cut - back])) {
        cut -= back;
        break;
      }
    }
    const std::size_t near = std::min(kNearBlank, cut / 2);
    // The blank begins the next piece: servers drop blanks at the end of a
    // line, and so the pieces join to the text exactly.
    const auto blank = text.substr(0, cut + 1).rfind(' ');
    if (blank != std::string_view::npos && blank > 0 && blank >= cut - near) cut = blank;
    pieces.emplace_back(text.substr(0, cut));
    text.remove_prefix(cut);
  }
  if (!text.empty() || pieces.empty()) pieces.emplace_back(text);
  return pieces;
}

}  // namespace zorv
