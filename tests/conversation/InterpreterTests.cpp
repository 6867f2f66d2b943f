// The command interpreter of the input line, checked as a plain function.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Interpreter.h"

namespace {

const std::string C1 = "\x01";
const std::string kHome = "http://zorv.sourceforge.net/";
const std::string kInvite = "invite you to visit Zorv homepage at " + kHome;

struct Case {
  std::string window;
  std::string typed;
  std::string sent;
  std::vector<std::string> written;
  std::vector<std::string> closed = {};
  bool closeSelf = false;
  int timeMs = 0;
};

void PrintTo(const Case& c, std::ostream* os) { *os << "[" << c.window << "] " << c.typed; }

class InterpretTable : public ::testing::TestWithParam<Case> {};

TEST_P(InterpretTable, SendsWritesAndCloses) {
  const Case& c = GetParam();
  const auto r = zorv::Interpret(c.typed, c.window, "bob", c.timeMs);
  EXPECT_EQ(r.send, c.sent);
  EXPECT_EQ(r.writes, c.written);
  EXPECT_EQ(r.closeNames, c.closed);
  EXPECT_EQ(r.closeSelf, c.closeSelf);
}

// The worked examples (the nickname is bob).
INSTANTIATE_TEST_SUITE_P(WorkedExamples, InterpretTable, ::testing::Values(
    Case{"#a", "hello", "PRIVMSG #a :hello", {"<bob>hello"}},
    Case{"#a", "/join", "", {"*** USAGE: /JOIN <channel>"}},
    Case{"#a", "/join #b", "JOIN #b", {}},
    Case{"#a", "/quit", "QUIT  " + kHome, {}},
    Case{"#a", "/quit bye now", "QUIT bye now", {}},
    Case{"#a", "/Msg carol hi there", "PRIVMSG carol :hi there", {}},
    Case{"#a", "/msg carol", "PRIVMSG :carol", {}},
    Case{"#a", "/notice carol hi", "NOTICE carol :hi", {"-NOTICE- carol hi"}},
    Case{"#a", "/topic #a", "TOPIC #a", {}},
    Case{"#a", "/topic #a new text", "TOPIC #a :new text", {}},
    Case{"#a", "/kick #a", "", {"*** USAGE: /KICK <channel> <nick> <reason>"}},
    Case{"#a", "/kick #a carol", "KICK #a carol", {}},
    Case{"#a", "/kick #a carol go away", "KICK #a carol :go away", {}},
    Case{"#a", "/mode #a +o carol", "MODE #a +o carol", {}},
    Case{"#a", "/ctcp carol version", "PRIVMSG carol :" + C1 + "VERSION" + C1, {}},
    Case{"#a", "/ctcp carol ping", "PRIVMSG carol :" + C1 + "PING 250" + C1, {}, {}, false, 250},
    Case{"#a", "/ctcp carol ping 7", "PRIVMSG carol :" + C1 + "PING 7" + C1, {}, {}, false, 250},
    Case{"#a", "/ctcp carol", "", {"*** USAGE: /CTCP <target> <ctcp command> <parameter>"}},
    Case{"carol", "/me waves", "PRIVMSG carol :" + C1 + "ACTION waves" + C1, {"* bob waves"}},
    Case{"#a", "/me", "PRIVMSG #a :" + C1 + "ACTION " + kInvite + C1, {"* bob " + kInvite}},
    Case{"Server", "/me waves", "", {"*** You are not on any channel!"}},
    Case{"#a", "/part #a", "PART #a", {}, {"#a"}},
    Case{"#a", "/part #a bye", "PART #a bye", {}, {"#a bye"}},
    Case{"Server", "/part", "", {}, {}, true}));

// The rest of the usage answers, refusals and pass-through rules.
INSTANTIATE_TEST_SUITE_P(MoreRules, InterpretTable, ::testing::Values(
    Case{"#a", "", "", {}},
    Case{"#a", "    ", "", {}},
    Case{"#a", "\t \x1f", "", {}},
    Case{"#a", "  two leading", "PRIVMSG #a :  two leading", {"<bob>  two leading"}},
    Case{"#a", "/join   ", "", {"*** USAGE: /JOIN <channel>"}},
    Case{"#a", "/", "", {}},
    Case{"#a", "/list", "LIST", {}},
    Case{"#a", "/privmsg", "", {"*** USAGE: /MSG <target> <parameter>"}},
    Case{"#a", "/msg", "", {"*** USAGE: /MSG <target> <parameter>"}},
    Case{"#a", "/invite", "", {"*** USAGE: /INVITE <nick> <channel>"}},
    Case{"#a", "/notice", "", {"*** USAGE: /NOTICE <target> <parameter>"}},
    Case{"#a", "/mode", "", {"*** USAGE: /MODE <channel> <mode> <parameter>"}},
    Case{"#a", "/names", "", {"*** USAGE: /NAMES <channel>"}},
    Case{"#a", "/topic", "", {"*** USAGE: /TOPIC <channel> [new topic]"}},
    Case{"#a", "/ctcp", "", {"*** USAGE: /CTCP <target> <ctcp command> <parameter>"}},
    Case{"#a", "/kick", "", {"*** USAGE: /KICK <channel> <nick> <reason>"}},
    Case{"#a", "/part", "", {}, {}, true},
    // PRIVMSG with arguments passes unchanged; only MSG is rewritten.
    Case{"#a", "/privmsg carol :hi", "PRIVMSG carol :hi", {}},
    Case{"#a", "/whois Carol", "WHOIS Carol", {}},
    Case{"#a", "/nick  Robert", "NICK  Robert", {}},
    Case{"#a", "/topic #a  spaced", "TOPIC #a : spaced", {}},
    Case{"#a", "/kick #a carol  two", "KICK #a carol : two", {}},
    Case{"#a", "/ctcp carol Ping", "PRIVMSG carol :" + C1 + "PING 86399999" + C1, {}, {}, false, 86399999},
    Case{"#a", "/ctcp carol clientinfo x y", "PRIVMSG carol :" + C1 + "CLIENTINFO X Y" + C1, {}},
    Case{"#a", "/notice carol", "NOTICE :carol", {"-NOTICE- carol"}},
    // Refusals: plain text only in the window named exactly "Server"; ME in
    // any window whose name is server in any case.
    Case{"Server", "hello", "", {"*** You are not on any channel!"}},
    Case{"Server", "/me", "", {"*** You are not on any channel!"}},
    Case{"server", "/me waves", "", {"*** You are not on any channel!"}},
    Case{"SERVER", "hi", "PRIVMSG SERVER :hi", {"<bob>hi"}},
    // Pasted line breaks become blanks: never more than one protocol line.
    Case{"#a", "one\r\ntwo\nthree\rfour", "PRIVMSG #a :one two three four", {"<bob>one two three four"}},
    Case{"#a", "/join #b\r\nPRIVMSG x :y\r\n", "JOIN #b PRIVMSG x :y", {}},
    Case{"#a", std::string("a\0b", 3), "PRIVMSG #a :a b", {"<bob>a b"}}));

TEST(Interpret, PlainTextIsSentBeforeItsEchoAndCommandsWriteFirst) {
  EXPECT_TRUE(zorv::Interpret("hello", "#a", "bob", 0).sendBeforeWrites);
  EXPECT_FALSE(zorv::Interpret("/notice carol hi", "#a", "bob", 0).sendBeforeWrites);
  EXPECT_FALSE(zorv::Interpret("/me waves", "#a", "bob", 0).sendBeforeWrites);
}

TEST(CleanInput, TrimsTheEndOnlyAndFoldsLineBreaks) {
  struct {
    std::string in, out;
  } cases[] = {
      {"  x  ", "  x"}, {"x\r\n", "x"}, {"a\r\r\nb", "a  b"}, {"a\n\nb", "a  b"}, {"\x01\x01", ""}, {"é ", "é"}};
  for (const auto& c : cases) EXPECT_EQ(zorv::CleanInput(c.in), c.out) << c.in;
}

}  // namespace
