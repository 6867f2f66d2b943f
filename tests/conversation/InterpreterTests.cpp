// The command interpreter of the input line, checked as a plain function
// (the nickname is bob).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Interpreter.h"

namespace {

using Lines = std::vector<std::string>;
const std::string C1 = "\x01";
const std::string kInvite = "invite you to visit Zorv homepage at http://zorv.sourceforge.net/";
const std::string kNotOnChannel = "*** You are not on any channel!";

TEST(Interpret, SendsWritesAndCloses) {
  struct Case {
    std::string window, typed, sent;
    Lines written, closed = {};
    bool closeSelf = false;
    int timeMs = 250;
    std::string query = "";
    Lines queryWritten = {};
  };
  const Case cases[] = {
      // The worked examples.
      {"#a", "hello", "PRIVMSG #a :hello", {"<bob>hello"}},
      {"#a", "/join", "", {"*** USAGE: /JOIN <channel>"}},
      {"#a", "/join #b", "JOIN #b", {}},
      {"#a", "/quit", "QUIT  http://zorv.sourceforge.net/", {}},
      {"#a", "/quit bye now", "QUIT bye now", {}},
      {"#a", "/Msg carol hi there", "PRIVMSG carol :hi there", {}},
      {"#a", "/msg carol", "PRIVMSG :carol", {}},
      {"#a", "/notice carol hi", "NOTICE carol :hi", {"-NOTICE- carol hi"}},
      {"#a", "/topic #a", "TOPIC #a", {}},
      {"#a", "/topic #a new text", "TOPIC #a :new text", {}},
      {"#a", "/kick #a", "", {"*** USAGE: /KICK <channel> <nick> <reason>"}},
      {"#a", "/kick #a carol", "KICK #a carol", {}},
      {"#a", "/kick #a carol go away", "KICK #a carol :go away", {}},
      {"#a", "/mode #a +o carol", "MODE #a +o carol", {}},
      {"#a", "/ctcp carol version", "PRIVMSG carol :" + C1 + "VERSION" + C1, {}},
      {"#a", "/ctcp carol ping", "PRIVMSG carol :" + C1 + "PING 250" + C1, {}},
      {"#a", "/ctcp carol ping 7", "PRIVMSG carol :" + C1 + "PING 7" + C1, {}},
      {"#a", "/ctcp carol", "", {"*** USAGE: /CTCP <target> <ctcp command> <parameter>"}},
      {"carol", "/me waves", "PRIVMSG carol :" + C1 + "ACTION waves" + C1, {"* bob waves"}},
      {"#a", "/me", "PRIVMSG #a :" + C1 + "ACTION " + kInvite + C1, {"* bob " + kInvite}},
      {"Server", "/me waves", "", {kNotOnChannel}},
      {"#a", "/part #a", "PART #a", {}, {"#a"}},
      {"#a", "/part #a bye", "PART #a bye", {}, {"#a bye"}},
      {"Server", "/part", "", {}, {}, true},
      // Empty input, blanks kept and dropped, pass-through.
      {"#a", " \t\x1f", "", {}},
      {"#a", "/", "", {}},
      {"#a", "  two leading ", "PRIVMSG #a :  two leading", {"<bob>  two leading"}},
      {"#a", "/join   ", "", {"*** USAGE: /JOIN <channel>"}},
      {"#a", "/list", "LIST", {}},
      {"#a", "/privmsg carol :hi", "PRIVMSG carol :hi", {}},
      {"#a", "/nick  Robert", "NICK  Robert", {}},
      {"#a", "/kick #a carol  two", "KICK #a carol : two", {}},
      {"#a", "/ctcp carol clientinfo x", "PRIVMSG carol :" + C1 + "CLIENTINFO X" + C1, {}},
      // Refusals: plain text only in the window named exactly "Server"; ME in
      // any window whose name is server in any case.
      {"Server", "hello", "", {kNotOnChannel}},
      {"Server", "/me", "", {kNotOnChannel}},
      {"server", "/me waves", "", {kNotOnChannel}},
      {"SERVER", "hi", "PRIVMSG SERVER :hi", {"<bob>hi"}},
      // Away and query.
      {"#a", "/away", "AWAY", {}},
      {"#a", "/AWAY  ", "AWAY", {}},
      {"#a", "/away gone fishing", "AWAY :gone fishing", {}},
      {"#a", "/away :x", "AWAY ::x", {}},
      {"#a", "/query carol", "", {}, {}, false, 0, "carol"},
      {"#a", "/query   carol", "", {}, {}, false, 0, "carol"},
      {"#a", "/Query carol hi there", "PRIVMSG carol :hi there", {}, {}, false, 0, "carol", {"<bob>hi there"}},
      {"#a", "/query carol  two", "PRIVMSG carol : two", {}, {}, false, 0, "carol", {"<bob> two"}},
      {"#a", "/query", "", {"*** USAGE: /QUERY <nick> [text]"}},
      {"#a", "/query #a hi", "", {"*** USAGE: /QUERY <nick> [text]"}},
      {"#a", "/query &a", "", {"*** USAGE: /QUERY <nick> [text]"}},
      // Pasted line breaks and NULs become blanks: never more than one line.
      {"#a", "one\r\ntwo\nthree\rfour\r\n", "PRIVMSG #a :one two three four", {"<bob>one two three four"}},
      {"#a", "/join #b\r\nQUIT :x", "JOIN #b QUIT :x", {}},
      {"#a", std::string("a\0b", 3), "PRIVMSG #a :a b", {"<bob>a b"}},
  };
  for (const Case& c : cases) {
    const auto r = zorv::Interpret(c.typed, c.window, "bob", c.timeMs);
    EXPECT_EQ(r.send, c.sent) << c.window << " " << c.typed;
    EXPECT_EQ(r.writes, c.written) << c.window << " " << c.typed;
    EXPECT_EQ(r.closeNames, c.closed) << c.window << " " << c.typed;
    EXPECT_EQ(r.closeSelf, c.closeSelf) << c.window << " " << c.typed;
    EXPECT_EQ(r.query, c.query) << c.typed;
    EXPECT_EQ(r.queryWrites, c.queryWritten) << c.typed;
  }
  const std::pair<const char*, const char*> usages[] = {
      {"/msg", "MSG <target> <parameter>"},        {"/privmsg", "MSG <target> <parameter>"},
      {"/invite", "INVITE <nick> <channel>"},      {"/notice", "NOTICE <target> <parameter>"},
      {"/mode", "MODE <channel> <mode> <parameter>"}, {"/names", "NAMES <channel>"},
      {"/topic", "TOPIC <channel> [new topic]"},   {"/kick", "KICK <channel> <nick> <reason>"},
      {"/ctcp", "CTCP <target> <ctcp command> <parameter>"}};
  for (const auto& [typed, usage] : usages) {
    const auto r = zorv::Interpret(typed, "#a", "bob", 0);
    EXPECT_EQ(r.send, "") << typed;
    EXPECT_EQ(r.writes, Lines{std::string("*** USAGE: /") + usage}) << typed;
  }
  // Without a connection a line for the server is neither sent nor echoed,
  // and nothing it would do besides happens; what stays local goes on.
  const std::string kNotSent = "*** Not sent: not connected";
  const struct {
    std::string window, typed;
    Lines written;
    std::string query = "";
    bool closeSelf = false;
  } offline[] = {
      {"#a", "hello", {kNotSent}},
      {"#a", "/join #b", {kNotSent}},
      {"#a", "/notice carol hi", {kNotSent}},
      {"#a", "/part #a", {kNotSent}},
      {"#a", "/query carol hi", {kNotSent}},
      {"#a", "/join", {"*** USAGE: /JOIN <channel>"}},
      {"Server", "hello", {kNotOnChannel}},
      {"#a", "/query carol", {}, "carol"},
      {"Server", "/part", {}, "", true},
  };
  for (const auto& c : offline) {
    const auto r = zorv::Interpret(c.typed, c.window, "bob", 0, /*connected=*/false);
    EXPECT_EQ(r.send, "") << c.typed;
    EXPECT_TRUE(r.sendMore.empty() && r.closeNames.empty() && r.queryWrites.empty()) << c.typed;
    EXPECT_EQ(r.writes, c.written) << c.typed;
    EXPECT_EQ(r.query, c.query) << c.typed;
    EXPECT_EQ(r.closeSelf, c.closeSelf) << c.typed;
  }
  // Chat text is sent before its echo; a command's writes come first.
  EXPECT_TRUE(zorv::Interpret("hello", "#a", "bob", 0).sendBeforeWrites);
  EXPECT_FALSE(zorv::Interpret("/notice carol hi", "#a", "bob", 0).sendBeforeWrites);
}

// Long text for a query goes in pieces, each echoed in the private window.
TEST(Interpret, LongQueryTextInPieces) {
  const auto r = zorv::Interpret("/query carol " + std::string(500, 'q'), "Server", "bob", 0);
  EXPECT_EQ(r.send, "PRIVMSG carol :" + std::string(415, 'q'));
  EXPECT_EQ(r.sendMore, Lines{"PRIVMSG carol :" + std::string(85, 'q')});
  EXPECT_EQ(r.queryWrites, (Lines{"<bob>" + std::string(415, 'q'), "<bob>" + std::string(85, 'q')}));
  EXPECT_TRUE(r.writes.empty());
}

}  // namespace
