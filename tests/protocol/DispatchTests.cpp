// What each kind of received line does (texts, target windows, create flags,
// lines sent, channel operations), checked against a recording Frame.
#include <gtest/gtest.h>

#include "ProtocolFixtures.h"

using protocoltest::Calls;
using protocoltest::RecordingFrame;

#define B1 "\x01"
#define REQ(to, ctcp) ":bob!b PRIVMSG " to " :" B1 ctcp B1
#define REPLY(ctcp) ":bob!b NOTICE me :" B1 ctcp B1
#define ANSWER(ctcp) "SendMsg NOTICE bob :" B1 ctcp B1

namespace {

struct Case {
  const char* name;
  Calls lines;  // raw lines as the engine gets them
  Calls calls;  // expected Frame calls, in order
  int nowMs = 0;
  Calls open = {};               // the open windows
  std::string active = "";       // the active window
  Frame::LastCommand typed = {};  // where and when the user last typed a command
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    RecordingFrame frame;
    frame.nowMs = c.nowMs;
    frame.open = c.open;
    frame.active = c.active;
    frame.typed = c.typed;
    InboundEngine engine(frame);
    for (const auto& line : c.lines) engine.ProcessLine(line);
    EXPECT_EQ(frame.calls, c.calls) << c.name;
  }
}

const char kPong[] = "AddText Server|Ping!! Pong!!|1";
std::string PingReply(const char* shown) {
  return std::string("AddText Server|*** CTCP PING reply from bob") + shown + "|0";
}

TEST(Dispatch, ServerLinesMessagesAndNotices) {
  RunCases({
      {"ping answered, trimmed", {"PING :a b\xe9 \t \r"}, {"SendMsg PONG :a b\xe9", kPong}},
      {"not a keep-alive",
       {"PING abc\r", "ping :abc", " PING :x"},
       {"AddText Server|<PING>abc |0", "AddText Server|<ping>:abc |0", "AddText Server|<PING>:x |0"}},
      {"notice auth", {"NOTICE AUTH :*** Looking up\r"}, {"AddText Server|Looking up|0"}},
      {"numerics",
       {":srv 001 me :Welcome here\r", ":srv 001 me :Welcome", ":srv 0353 me = #c :a b"},
       {"AddText Server|Welcome here|0", "AddText Server|<srv>001 me :Welcome|0", "AddText Server|= #c :a b|0"}},
      {"server notice, error, one word",
       {":srv NOTICE me :*** hi there", "ERROR :Closing link", "FOO"},
       {"AddText Server|*** hi there|0", "AddText Server|<ERROR>:Closing link|0", "AddText Server|<>FOO |0"}},
      {"empty lines ignored", {"", "\r", " \t\r", "\x01"}, {}},
      {"names",
       {":srv 353 me = #chat :@alice bob", ":srv 366 me #chat :End of list"},
       {"FillNames = #chat :@alice bob", "AddText Server|= #chat :@alice bob|0", "EndNames #chat :End of list",
        "AddText Server|#chat :End of list|0"}},
      {"topic on join",
       {":srv 332 me #chat :the topic", ":srv 332 me #chat topic"},
       {"SetTopic #chat|the topic|0", "AddText Server|#chat :the topic|0", "SetTopic #chat|#chat topic|0",
        "AddText Server|#chat topic|0"}},
      {"channel list",
       {":srv 321 me Channel :Users  Name", ":srv 322 me #chat 12 :talk", ":srv 323 me :End of LIST",
        ":srv 323 me :End"},
       {"ChannelListStart", "AddChannelRow #chat 12 :talk", "ChannelListEnd", "AddText Server|<srv>323 me :End|0"}},
      {"channel message",
       {":bob!b privmsg #chat :hi", ":bob!b PRIVMSG #chat :a" B1 "b"},
       {"AddText #chat|<bob>hi|0", "AddText #chat|<bob>a" B1 "b|0"}},
      {"private message opens the sender's window",
       {":bob!b@host PRIVMSG ME :hi there\r"},
       {"AddText bob|<bob>hi there|1"}},
      {"malformed messages keep the default",
       {":bob!b PRIVMSG #c hi", ":bob!b PRIVMSG #c :", ":bob!b PRIVMSG :hi"},
       {"AddText Server|<bob>PRIVMSG #c hi|0", "AddText Server|<bob>PRIVMSG #c :|0",
        "AddText Server|<bob>PRIVMSG hi|0"}},
      {"notices",
       {":bob!b NOTICE me :hi", ":bob!b notice #c :hi there", ":bob!b NOTICE me hi"},
       {"AddText CURRENTMDICHILDWINDOW|--bob-- hi|0", "AddText CURRENTMDICHILDWINDOW|--bob-- hi there|0",
        "AddText Server|<bob>NOTICE me hi|0"}},
      {"other user command", {":bob!b INVITE me :#secret"}, {"AddText Server|<bob>INVITE me :#secret|0"}},
      {"a nameless sender opens no window", {":!x PRIVMSG me :hi"}, {"AddText |<>hi|0"}},
  });
}

// Answers to what the user just did are shown where the user is, besides Server.
TEST(Dispatch, AnswersAreShownWhereTheUserIs) {
  auto twice = [](const std::string& window, std::initializer_list<std::string> texts) {
    Calls all;
    for (const auto& t : texts)
      all.insert(all.end(), {"AddText Server|" + t + "|0", "AddText " + window + "|" + t + "|0"});
    return all;
  };
  const Calls welcome = {":srv 001 me :Hi there", ":srv 433 me bob :Nickname is already in use"};
  auto welcomed = [](Calls more) { return more.insert(more.begin(), "AddText Server|Hi there|0"), more; };
  const std::string inUse = "bob :Nickname is already in use";
  RunCases({
      {"in the window the target names",
       {":srv 401 me bob :No such nick/channel"},
       twice("bob", {"bob :No such nick/channel"}),
       0,
       {"bob", "#a"},
       "#a"},
      {"else in the active window",
       {":srv 403 me #x :No such channel", ":srv 404 me #x :Cannot send", ":srv 442 me #x :Not on it",
        ":srv 482 me #x :Not an operator"},
       twice("#a", {"#x :No such channel", "#x :Cannot send", "#x :Not on it", "#x :Not an operator"}),
       0,
       {"#a"},
       "#a"},
      {"no window, or Server itself: Server only",
       {":srv 401 me bob :No such", ":srv 401 me bob :No such"},
       {"AddText Server|bob :No such|0", "AddText Server|bob :No such|0"},
       0,
       {"Server"},
       ""},
      {"a short reply as it came", {":srv 482 me"}, {"AddText Server|<srv>482 me|0"}, 0, {}, "#a"},
      {"433 within 10 s of a command", welcome, welcomed(twice("#b", {inUse})), 11000, {}, "#a", {"#b", 1000}},
      {"433 later", welcome, welcomed({"AddText Server|" + inUse + "|0"}), 11001, {}, "#a", {"#b", 1000}},
      {"433 while registering: Server only",
       {":srv 433 * me :Nickname is already in use"},
       {"AddText Server|me :Nickname is already in use|0", "SendMsg NICK me_",
        "AddText Server|*** Nickname me is in use, trying me_|0"},
       1000,
       {},
       "#a",
       {"#b", 1000}},
      {"305 and 306 across midnight",
       {":srv 305 me :You are back", ":srv 306 me :You are away"},
       twice("#b", {"You are back", "You are away"}),
       4000,
       {},
       "#a",
       {"#b", 86395000}},
      {"306 with no command typed", {":srv 306 me :You are away"}, {"AddText Server|You are away|0"}, 4000},
  });
}

TEST(Dispatch, Ctcp) {
  auto from = [](const char* what, bool create) {
    return std::string("AddText Server|*** CTCP ") + what + " from bob|" + (create ? "1" : "0");
  };
  RunCases({
      {"actions",
       {REQ("#chat", "ACTION waves"), REQ("me", "action"), ":bob!b PRIVMSG #chat :" B1 "ACTION jumps"},
       {"AddText #chat|* bob waves|0", "AddText bob|* bob action|1", "AddText #chat|* bob jumps|0"}},
      {"ping answered to the nick", {REQ("#chat", "PING   77 \t") "\r"}, {ANSWER("PING 77"), from("PING", false)}},
      {"bare ping to own nick", {REQ("me", "PING")}, {ANSWER("PING PING"), from("PING", true)}},
      {"CR inside stays one reply", {REQ("#c", "PING a\rQUIT :x")}, {ANSWER("PING a\rQUIT :x"), from("PING", false)}},
      {"time", {REQ("#c", "TIME")}, {ANSWER("TIME 05.03.2024 13:14:15"), from("TIME", false)}},
      {"version in any case",
       {REQ("me", "version")},
       {ANSWER("VERSION Zorv 2.9.22R [Win95/98/NT]"), from("version", true)}},
      {"clientinfo",
       {REQ("#c", "CLIENTINFO")},
       {ANSWER("CLIENTINFO Zorv 2.9.22R You may find lastest version of Zorv at Zorv homepage "
               "http://zorv.sourceforge.net/"),
        from("CLIENTINFO", false)}},
      {"unknown only shown", {REQ("#c", "FINGER x")}, {from("FINGER x", false)}},
      {"only framing", {REQ("#c", " ")}, {"AddText Server|<bob>PRIVMSG #c :|0"}},
      {"every byte 1 removed", {REQ("#c", "PING 1") B1 "VERSION" B1}, {ANSWER("PING 1VERSION"), from("PING", false)}},
      {"nameless sender gets no reply",
       {":!x PRIVMSG #c :" B1 "VERSION" B1},
       {"AddText Server|*** CTCP VERSION from |0"}},
      {"ping reply", {REPLY("PING 1000"), REPLY("PING +1000")}, {PingReply(" : 3 secs"), PingReply(" : 3 secs")}, 3500},
      {"ping reply across midnight", {REPLY("PING 86399000")}, {PingReply(" : 2 secs")}, 500},
      {"ping reply just before midnight", {REPLY("PING 0")}, {PingReply(" : 86400 secs")}, 86399999},
      {"32-bit wrap-around",
       {REPLY("PING 2147483647"), REPLY("PING -2147483648")},
       {PingReply(" : -73882 secs"), PingReply(" : -73882 secs")}},
      {"ping reply not a 32-bit number",
       {REPLY("PING abc"), REPLY("PING 12x"), REPLY("PING 2147483648"), REPLY("PING"), REPLY("PING +-5")},
       {PingReply(" abc"), PingReply(" 12x"), PingReply(" 2147483648"), PingReply(" PING"), PingReply(" +-5")}},
      {"other replies only shown",
       {REPLY("VERSION Some 1.0"), REPLY("TIME")},
       {"AddText Server|*** CTCP VERSION reply from bob Some 1.0|0",
        "AddText Server|*** CTCP TIME reply from bob TIME|0"}},
  });
}

TEST(Dispatch, ChannelEvents) {
  const std::string kicked = "AddText #chat|*** KICK: bob has been kicked from #chat by alice because ";
  RunCases({
      {"join",
       {":bob!~b@h.example JOIN :#chat"},
       {"AddNick #chat|bob", "AddText #chat|*** JOIN: bob (~b@h.example) #chat|0"}},
      {"own join opens the window",
       {":Me!m JOIN :#new\r", ":me!m JOIN"},
       {"AddText #new|*** JOIN: Me (m) #new|1", "AddText |*** JOIN: me (m) |0"}},
      {"part",
       {":bob!b PART #chat", ":ME!m PART #chat", ":bob!b PART #c :bye"},
       {"DelNick #chat|bob", "AddText #chat|*** PART: bob (b) #chat|0", "AddText #chat|*** PART: ME (m) #chat|0",
        "DelNick #c :bye|bob", "AddText #c :bye|*** PART: bob (b) #c :bye|0"}},
      {"topic",
       {":alice!a TOPIC #chat :new topic", ":alice!a TOPIC #chat"},
       {"SetTopic #chat|new topic|0", "AddText #chat|*** TOPIC: changed to \"new topic\" by alice (a)|0",
        "SetTopic #chat|#chat|0", "AddText #chat|*** TOPIC: changed to \"#chat\" by alice (a)|0"}},
      {"kicks",
       {":alice!a KICK #chat bob :two words", ":alice!a KICK #chat bob"},
       {"DelNick #chat|bob", kicked + "two words.|0", "DelNick #chat|bob", kicked + "nothing.|0"}},
      {"kick of own nick resets, alerts and rejoins",
       {":alice!a KICK #chat ME :bye\r"},
       {"DelNick #chat|ME", "ResetNames #chat", "Alert", "SendMsg JOIN #chat",
        "AddText #chat|*** KICK: ME has been kicked from #chat by alice because bye.|0"}},
      {"own kick from no channel sends nothing",
       {":alice!a KICK \r me :bye"},
       {"DelNick \r|me", "ResetNames \r", "Alert",
        "AddText \r|*** KICK: me has been kicked from \r by alice because bye.|0"}},
      {"kick without victim",
       {":alice!a KICK #chat"},
       {"DelNick #chat|", "AddText #chat|*** KICK:  has been kicked from #chat by alice because nothing.|0"}},
      {"quit", {":bob!b QUIT :gone away"}, {"QuitNick bob|*** QUIT: bob (b) gone away"}},
      {"nick changes",
       {":bob!b NICK :robert", ":ME!m NICK :newme", ":newme!m PRIVMSG NEWME :x", ":bob!b NICK", ":b!b NICK :"},
       {"ChangeNick bob|robert", "SetOwnNick newme", "ChangeNick ME|newme", "AddText newme|<newme>x|1"}},
  });
}

TEST(Dispatch, ModeArgumentWalk) {
  auto mode = [](const char* m) { return std::string(":alice!a MODE #chat ") + m; };
  auto shown = [](const char* m) {
    return std::string("AddText #chat|*** Mode change #chat \"") + m + "\" by alice (a) |0";
  };
  auto op = [](const char* n, bool give) { return std::string("ModeNick #chat|") + n + (give ? "|1" : "|0"); };
  RunCases({
      {"deop two", {mode("-oo bob carol")}, {op("bob", false), op("carol", false), shown("-oo bob carol")}},
      {"the last in trailing form", {mode("-oo bob :carol")}, {op("bob", false), op("carol", false), shown("-oo bob :carol")}},
      {"voice argument consumed", {mode("+vo bob carol")}, {op("carol", true), shown("+vo bob carol")}},
      {"later sign not read", {mode("+b-o mask bob")}, {op("bob", true), shown("+b-o mask bob")}},
      {"key and limit consumed", {mode("+klO key 10 BOB")}, {op("BOB", true), shown("+klO key 10 BOB")}},
      {"letters without argument", {mode("+nto bob")}, {op("bob", true), shown("+nto bob")}},
      {"more letters than arguments", {mode("+oo bob")}, {op("bob", true), shown("+oo bob")}},
      {"no op letter, no sign", {mode("+n bob carol"), mode("o bob")}, {shown("+n bob carol"), shown("o bob")}},
      {"letters alone are their own argument", {mode("+o")}, {op("+o", true), shown("+o")}},
      {"user mode, no target",
       {":me!m MODE me :+i", ":alice!a MODE #chat"},
       {"AddText me|*** Mode change me \":+i\" by me (m) |0", "AddText |*** Mode change  \"#chat\" by alice (a) |0"}},
  });
}

// Commands are found ignoring ASCII case, and only as whole words; numerics
// only as the three digits.
TEST(Dispatch, CommandTableLookup) {
  RunCases({
      {"any case",
       {":bob!b@h jOiN :#c", ":bob!b@h Quit :bye"},
       {"AddNick #c|bob", "AddText #c|*** JOIN: bob (b@h) #c|0", "QuitNick bob|*** QUIT: bob (b@h) bye"}},
      {"no prefix or longer word",
       {":bob!b@h JOI :#c", ":bob!b@h JOINS :#c", ":bob!b@h " + std::string(40, 'J') + " x"},
       {"AddText Server|<bob>JOI #c|0", "AddText Server|<bob>JOINS #c|0",
        "AddText Server|<bob>" + std::string(40, 'J') + " x|0"}},
      {"numerics whole",
       {":srv 3530 me = #c :a b", ":srv 35 me = #c :a b", ":srv 322x me #c 1 :t"},
       {"AddText Server|= #c :a b|0", "AddText Server|= #c :a b|0", "AddText Server|#c 1 :t|0"}},
      {"user commands only from users",
       {":srv JOIN me :#c x", ":srv KICK me #c me :x"},
       {"AddText Server|#c x|0", "AddText Server|#c me :x|0"}},
  });
}

// Replies come in a burst of 8, then about one a second (also across midnight,
// never refilled by a clock set back); every request is still shown.
TEST(Dispatch, CtcpReplyRateLimit) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  const struct { int nowMs, requests, sendsSoFar;
  } steps[] = {{10000, 9, 8}, {10999, 1, 8}, {11000, 2, 9}, {86399500, 20, 17},
               {400, 1, 17},  {500, 1, 18},  {300, 1, 18},  {1300, 1, 19}};
  int requests = 0;
  for (const auto& s : steps) {
    frame.nowMs = s.nowMs;
    for (int i = 0; i < s.requests; ++i, ++requests)
      engine.ProcessLine(":n" + std::to_string(i) + "!u PRIVMSG #c :" B1 "VERSION" B1);
    int sends = 0, shown = 0;
    for (const auto& c : frame.calls) {
      sends += c.rfind("SendMsg NOTICE n", 0) == 0;
      shown += c.rfind("AddText Server|*** CTCP VERSION from n", 0) == 0;
    }
    EXPECT_EQ(sends, s.sendsSoFar) << "at " << s.nowMs;
    EXPECT_EQ(shown, requests);
  }
}

}  // namespace
