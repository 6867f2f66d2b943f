// The command interpreter of the input line, checked as a plain function
// (the nickname is bob), and long input cut into pieces a server can relay.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Interpreter.h"
#include "Text.h"

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
      {"#a", "/Msg carol hi there", "PRIVMSG carol :hi there", {}},
      {"#a", "/msg carol", "PRIVMSG :carol", {}},
      {"#a", "/notice carol hi", "NOTICE carol :hi", {"-NOTICE- carol hi"}},
      {"#a", "/topic #a new text", "TOPIC #a :new text", {}},
      {"#a", "/kick #a", "", {"*** USAGE: /KICK <channel> <nick> <reason>"}},
      {"#a", "/kick #a carol go away", "KICK #a carol :go away", {}},
      {"#a", "/mode #a +o carol", "MODE #a +o carol", {}},
      {"#a", "/ctcp carol version", "PRIVMSG carol :" + C1 + "VERSION" + C1, {}},
      {"#a", "/ctcp carol ping", "PRIVMSG carol :" + C1 + "PING 250" + C1, {}},
      {"#a", "/ctcp carol", "", {"*** USAGE: /CTCP <target> <ctcp command> <parameter>"}},
      {"carol", "/me waves", "PRIVMSG carol :" + C1 + "ACTION waves" + C1, {"* bob waves"}},
      {"#a", "/me", "PRIVMSG #a :" + C1 + "ACTION " + kInvite + C1, {"* bob " + kInvite}},
      {"Server", "/me waves", "", {kNotOnChannel}},
      {"#a", "/part #a bye", "PART #a bye", {}, {"#a bye"}},
      {"Server", "/part", "", {}, {}, true},
      // Empty input, blanks kept and dropped, pass-through.
      {"#a", " \t\x1f", "", {}},
      {"#a", "  two leading ", "PRIVMSG #a :  two leading", {"<bob>  two leading"}},
      {"#a", "/list", "LIST", {}},
      {"#a", "/nick  Robert", "NICK  Robert", {}},
      {"#a", "/kick #a carol  two", "KICK #a carol : two", {}},
      {"#a", "/ctcp carol clientinfo x", "PRIVMSG carol :" + C1 + "CLIENTINFO X" + C1, {}},
      // Refusals: plain text only in the window named exactly "Server"; ME in
      // any window whose name is server in any case.
      {"Server", "hello", "", {kNotOnChannel}},
      {"server", "/me waves", "", {kNotOnChannel}},
      {"SERVER", "hi", "PRIVMSG SERVER :hi", {"<bob>hi"}},
      // Away and query.
      {"#a", "/away", "AWAY", {}},
      {"#a", "/away gone fishing", "AWAY :gone fishing", {}},
      {"#a", "/away :x", "AWAY ::x", {}},
      {"#a", "/query carol", "", {}, {}, false, 0, "carol"},
      {"#a", "/Query carol hi there", "PRIVMSG carol :hi there", {}, {}, false, 0, "carol", {"<bob>hi there"}},
      {"#a", "/query carol  two", "PRIVMSG carol : two", {}, {}, false, 0, "carol", {"<bob> two"}},
      {"#a", "/query", "", {"*** USAGE: /QUERY <nick> [text]"}},
      {"#a", "/query #a hi", "", {"*** USAGE: /QUERY <nick> [text]"}},
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
  // Long text for a query goes in pieces, each echoed in the private window.
  const auto q = zorv::Interpret("/query carol " + std::string(500, 'q'), "Server", "bob", 0);
  EXPECT_EQ(q.sendMore, Lines{"PRIVMSG carol :" + std::string(85, 'q')});
  EXPECT_EQ(q.queryWrites, (Lines{"<bob>" + std::string(415, 'q'), "<bob>" + std::string(85, 'q')}));
  // Chat text is sent before its echo; a command's writes come first.
  EXPECT_TRUE(zorv::Interpret("hello", "#a", "bob", 0).sendBeforeWrites);
  EXPECT_FALSE(zorv::Interpret("/notice carol hi", "#a", "bob", 0).sendBeforeWrites);
}

const std::string kE2 = "\xC3\xA9";              // é
const std::string kE3 = "\xE2\x82\xAC";          // €
const std::string kE4 = "\xF0\x9F\x98\x80";      // 😀

std::string thai(int count) {
  std::string t;
  for (int i = 0; i < count; ++i) t += "\xE0\xB8\x81";  // ก
  return t;
}

std::string joined(const Lines& pieces) {
  std::string out;
  for (const auto& p : pieces) out += p;
  return out;
}

// The line as a server relays it to others, for the own nick bob with the
// longest user and host a server gives.
std::string relayed(const std::string& line) {
  return ":bob!" + std::string(10, 'u') + "@" + std::string(63, 'h') + " " + line + "\r\n";
}

TEST(SplitMessage, CutsAtTheLimitAtNearBlanksAndNeverInsideASequence) {
  struct Case {
    std::string head, text, tail;
    std::size_t limit;
    Lines pieces;
  };
  const Case cases[] = {
      // ASCII without a blank: cut where the room ends.
      {"H:", "abcdefghij", "", 6, {"abcd", "efgh", "ij"}},
      // Exactly the room, and one byte more.
      {"H:", "abcde", "", 6, {"abcd", "e"}},
      {"H:", "", "", 6, {""}},
      // A blank near the cut moves the cut back to it; one far back does not.
      {"", "aaaaaa bbbbbbb", "", 10, {"aaaaaa", " bbbbbbb"}},
      {"", "a bbbbbbbbbbbb", "", 10, {"a bbbbbbbb", "bbbb"}},
      {"", "aaaaaaaaaa bb", "", 10, {"aaaaaaaaaa", " bb"}},
      // A cut that would fall inside a 2-, 3- or 4-byte sequence moves before it.
      {"", "abc" + kE2, "", 4, {"abc", kE2}},
      {"", "abc" + kE3, "", 4, {"abc", kE3}},
      {"", "a" + kE4 + "b", "", 4, {"a", kE4, "b"}},
      {"", kE4 + kE4, "", 5, {kE4, kE4}},
      // Bytes that are not UTF-8 are cut where they fall.
      {"", std::string(7, '\x80'), "", 4, {std::string(4, '\x80'), std::string(3, '\x80')}},
      // The frame of a CTCP request stays around every piece.
      {"P :" + C1 + "ACTION ", "one two six", C1, 17, {"one", " two", " six"}},
      // No room for a whole sequence: nothing at all.
      {"PRIVMSG #a :", "xxxx", "", 15, {}},
  };
  for (const Case& c : cases) {
    const Lines pieces = zorv::SplitMessage(c.head, c.text, c.tail, c.limit);
    EXPECT_EQ(pieces, c.pieces) << c.head << "|" << c.text << "|" << c.limit;
  }
}

// Every piece fits, the pieces give the text back, and each one is valid
// UTF-8 on its own, for texts mixing blanks and sequences of every length.
TEST(SplitMessage, PiecesFitJoinBackAndStayValidUtf8) {
  const std::string parts[] = {"a", " ", kE2, kE3, kE4, "word "};
  for (int seed = 1; seed <= 40; ++seed) {
    std::string text;
    unsigned state = static_cast<unsigned>(seed);
    for (int i = 0; i < 120; ++i) {
      state = state * 1103515245u + 12345u;
      text += parts[(state >> 16) % 6];
    }
    for (std::size_t limit = 5; limit <= 60; limit += 5) {
      const Lines pieces = zorv::SplitMessage("H ", text, C1, limit + 3);
      ASSERT_FALSE(pieces.empty());
      EXPECT_EQ(joined(pieces), text) << seed << " " << limit;
      for (const auto& p : pieces) {
        EXPECT_LE(p.size() + 3, limit + 3) << seed << " " << limit;
        EXPECT_FALSE(p.empty());
        EXPECT_TRUE(zorv::isValidUtf8(p)) << seed << " " << limit;
      }
    }
  }
}

TEST(RelayLimit, LeavesRoomForTheSendersPrefix) {
  EXPECT_EQ(zorv::RelayLimit("bob"), 430u);  // 510 - len(":bob!" user10 "@" host63 " ")
  EXPECT_EQ(zorv::RelayLimit("bob", "b@h"), 510u - 9u);
  EXPECT_EQ(zorv::RelayLimit(std::string(600, 'n')), 0u);
}

// Long text typed into the input line (nick bob, so 430 bytes per line).
TEST(Interpret, SendsLongMessagesInPiecesAndEchoesEachPiece) {
  struct Case {
    std::string window, typed;
    Lines sent, written;
  };
  const std::string x418(418, 'x'), x184(184, 'x');
  const std::string act = "PRIVMSG #a :" + C1 + "ACTION ";
  const Case cases[] = {
      // 602 characters into a channel: two pieces, two echo lines.
      {"#a", std::string(602, 'x'), {"PRIVMSG #a :" + x418, "PRIVMSG #a :" + x184},
       {"<bob>" + x418, "<bob>" + x184}},
      {"#a", x418 + "y", {"PRIVMSG #a :" + x418, "PRIVMSG #a :y"}, {"<bob>" + x418, "<bob>y"}},
      // Words: the cut moves back to the last blank.
      {"carol", std::string(400, 'a') + " " + std::string(100, 'b'),
       {"PRIVMSG carol :" + std::string(400, 'a'), "PRIVMSG carol : " + std::string(100, 'b')},
       {"<bob>" + std::string(400, 'a'), "<bob> " + std::string(100, 'b')}},
      // An action keeps its frame in every piece.
      {"#a", "/me " + std::string(500, 'w'),
       {act + std::string(409, 'w') + C1, act + std::string(91, 'w') + C1},
       {"* bob " + std::string(409, 'w'), "* bob " + std::string(91, 'w')}},
      // A notice is echoed piece by piece, a private message not at all.
      {"#a", "/notice carol " + std::string(500, 'n'),
       {"NOTICE carol :" + std::string(416, 'n'), "NOTICE carol :" + std::string(84, 'n')},
       {"-NOTICE- carol " + std::string(416, 'n'), "-NOTICE- carol " + std::string(84, 'n')}},
      {"#a", "/msg carol " + std::string(500, 'm'),
       {"PRIVMSG carol :" + std::string(415, 'm'), "PRIVMSG carol :" + std::string(85, 'm')}, {}},
      {"#a", "/ctcp carol echo " + std::string(500, 'e'),
       {"PRIVMSG carol :" + C1 + "ECHO " + std::string(408, 'E') + C1,
        "PRIVMSG carol :" + C1 + "ECHO " + std::string(92, 'E') + C1},
       {}},
      // Three-byte characters (Thai) are never cut in the middle.
      {"#a", thai(150), {"PRIVMSG #a :" + thai(139), "PRIVMSG #a :" + thai(11)},
       {"<bob>" + thai(139), "<bob>" + thai(11)}},
      // Any other command too long for a server is refused, not sent.
      {"#a", "/join " + std::string(505, 'j'), {"JOIN " + std::string(505, 'j')}, {}},
      {"#a", "/join " + std::string(506, 'j'), {},
       {"*** Not sent: the line is 511 bytes long, a server takes 510 at most"}},
      {"#a", "/topic #a " + std::string(600, 't'), {},
       {"*** Not sent: the line is 610 bytes long, a server takes 510 at most"}},
      // A target so long that no text fits is refused too.
      {std::string(420, 'c'), "hi there", {},
       {"*** Not sent: the line is 438 bytes long, a server takes 430 at most"}},
  };
  for (const Case& c : cases) {
    const auto r = zorv::Interpret(c.typed, c.window, "bob", 0);
    Lines sent;
    if (!r.send.empty()) sent.push_back(r.send);
    sent.insert(sent.end(), r.sendMore.begin(), r.sendMore.end());
    EXPECT_EQ(sent, c.sent) << c.typed.substr(0, 30);
    EXPECT_EQ(r.writes, c.written) << c.typed.substr(0, 30);
    // Relayed messages fit the protocol's 512 bytes.
    for (const auto& line : sent) {
      if (line.rfind("JOIN", 0) == 0) continue;
      EXPECT_LE(relayed(line).size(), 512u) << line.substr(0, 30);
    }
  }
}

}  // namespace
