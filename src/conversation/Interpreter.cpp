#include "Interpreter.h"

#include "Product.h"
#include "Text.h"

namespace zorv {

namespace {

constexpr char kCtcp = '\x01';
constexpr char kNotOnChannel[] = "*** You are not on any channel!";

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

bool isServerWindow(std::string_view name) { return upperAscii(name) == "SERVER"; }

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
  } else if (command == "ME") {
    if (isServerWindow(name)) {
      usage(r, out, kNotOnChannel);
    } else {
      const std::string invitation = std::string("invite you to visit Zorv homepage at ") + kHomePage;
      out = "PRIVMSG " + std::string(name) + " :" + kCtcp + "ACTION " + invitation + kCtcp;
      r.writes.push_back("* " + std::string(nick) + " " + invitation);
    }
  }
  // Any other word is sent as it stands, upper-cased.
}

// A command word followed by arguments (args is never empty).
void commandWithArgs(const std::string& command, std::string args, std::string_view name, std::string_view nick,
                     int timeOfDayMs, InterpretResult& r, std::string& out) {
  if (command == "MSG") {
    const Split s = splitFirst(args);
    out = "PRIVMSG " + s.w1 + ":" + s.r1;
  } else if (command == "NOTICE") {
    const Split s = splitFirst(args);
    out = "NOTICE " + s.w1 + ":" + s.r1;
    r.writes.push_back("-NOTICE- " + s.w1 + s.r1);
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
      out = "PRIVMSG " + std::string(name) + " :" + kCtcp + "ACTION " + args + kCtcp;
      r.writes.push_back("* " + std::string(nick) + " " + args);
    }
  } else if (command == "CTCP") {
    if (args.find(' ') == std::string::npos) {
      usage(r, out, "*** USAGE: /CTCP <target> <ctcp command> <parameter>");
      return;
    }
    if (upperAscii(splitFirst(args).r1) == "PING") args += " " + std::to_string(timeOfDayMs);
    const auto blank = args.find(' ');
    out = "PRIVMSG " + args.substr(0, blank) + " :" + kCtcp + upperAscii(args.substr(blank + 1)) + kCtcp;
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

InterpretResult Interpret(std::string_view typed, std::string_view windowName, std::string_view nick,
                          int timeOfDayMs) {
  InterpretResult r;
  const std::string text = CleanInput(typed);
  if (text.empty()) return r;

  if (text.front() != '/') {
    if (windowName == "Server") {
      r.writes.emplace_back(kNotOnChannel);
    } else {
      r.send = "PRIVMSG " + std::string(windowName) + " :" + text;
      r.writes.push_back("<" + std::string(nick) + ">" + text);
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
  r.send = std::move(out);
  return r;
}

}  // namespace zorv
