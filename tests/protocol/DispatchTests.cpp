// What each kind of received line does: the texts written, the windows they
// go to, the lines sent and the channel operations, checked against a
// recording Frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Inbound.h"
#include "ProtocolFixtures.h"

using protocoltest::RecordingFrame;

#define B1 "\x01"

namespace {

struct Case {
  const char* name;
  std::vector<std::string> lines;  // raw lines as the engine gets them
  std::vector<std::string> calls;  // expected Frame calls, in order
  int nowMs = 0;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingFrame frame;
    frame.nowMs = c.nowMs;
    InboundEngine engine(frame);
    for (const auto& line : c.lines) engine.ProcessLine(line);
    EXPECT_EQ(frame.calls, c.calls);
  }
}

TEST(Dispatch, KeepAliveAndServerTable) {
  RunCases({
      {"ping answered", {"PING :abc\r"}, {"SendMsg PONG :abc", "AddText Server|Ping!! Pong!!|1"}},
      {"ping reply trimmed", {"PING :irc.example.net \t \r"},
       {"SendMsg PONG :irc.example.net", "AddText Server|Ping!! Pong!!|1"}},
      {"ping keeps inner blanks and high bytes", {"PING :a b\xe9\r"},
       {"SendMsg PONG :a b\xe9", "AddText Server|Ping!! Pong!!|1"}},
      {"ping without colon is parsed", {"PING abc\r"}, {"AddText Server|<PING>abc |0"}},
      {"lower-case ping is parsed", {"ping :abc"}, {"AddText Server|<ping>:abc |0"}},
      {"leading blank is no keep-alive", {" PING :abc"}, {"AddText Server|<PING>:abc |0"}},
      {"notice auth drops first parameter", {"NOTICE AUTH :*** Looking up your hostname\r"},
       {"AddText Server|Looking up your hostname|0"}},
      {"numeric text", {":srv 001 me :Welcome to the network\r"},
       {"AddText Server|Welcome to the network|0"}},
      {"numeric with one word keeps default", {":srv 001 me :Welcome"},
       {"AddText Server|<srv>001 me :Welcome|0"}},
      {"server notice", {":srv NOTICE me :*** hello there"}, {"AddText Server|*** hello there|0"}},
      {"error line", {"ERROR :Closing link"}, {"AddText Server|<ERROR>:Closing link|0"}},
      {"single word", {"FOO"}, {"AddText Server|<>FOO |0"}},
      {"empty lines ignored", {"", "\r", " \t\r", "\x01"}, {}},
      {"names reply", {":srv 353 me = #chat :@alice bob me"},
       {"FillNames = #chat :@alice bob me", "AddText Server|= #chat :@alice bob me|0"}},
      {"end of names", {":srv 366 me #chat :End of /NAMES list."},
       {"EndNames #chat :End of /NAMES list.", "AddText Server|#chat :End of /NAMES list.|0"}},
      {"topic on join", {":srv 332 me #chat :the topic here"},
       {"SetTopic #chat|the topic here|0", "AddText Server|#chat :the topic here|0"}},
      {"topic on join without colon", {":srv 332 me #chat topic"},
       {"SetTopic #chat|#chat topic|0", "AddText Server|#chat topic|0"}},
      {"channel list", {":srv 321 me Channel :Users  Name", ":srv 322 me #chat 12 :talk here",
                        ":srv 323 me :End of /LIST"},
       {"ChannelListStart", "AddChannelRow #chat 12 :talk here", "ChannelListEnd"}},
      {"list end with one word is only shown", {":srv 323 me :End"},
       {"AddText Server|<srv>323 me :End|0"}},
      {"numeric command compared as text", {":srv 0353 me = #chat :a b"},
       {"AddText Server|= #chat :a b|0"}},
  });
}

TEST(Dispatch, MessagesAndNotices) {
  RunCases({
      {"channel message", {":bob!b PRIVMSG #chat :hi"}, {"AddText #chat|<bob>hi|0"}},
      {"private message, own nick in other case", {":bob!b@host PRIVMSG ME :hi there\r"},
       {"AddText bob|<bob>hi there|1"}},
      {"command word in any case", {":bob!b privmsg #chat :hi"}, {"AddText #chat|<bob>hi|0"}},
      {"message without colon", {":bob!b PRIVMSG #chat hi"},
       {"AddText Server|<bob>PRIVMSG #chat hi|0"}},
      {"message with empty text", {":bob!b PRIVMSG #chat :"},
       {"AddText Server|<bob>PRIVMSG #chat :|0"}},
      {"message without target", {":bob!b PRIVMSG :hi"}, {"AddText Server|<bob>PRIVMSG hi|0"}},
      {"byte 1 not first is plain text", {":bob!b PRIVMSG #chat :a" B1 "b"},
       {"AddText #chat|<bob>a" B1 "b|0"}},
      {"private then channel in order", {":bob!b PRIVMSG me :one", ":bob!b PRIVMSG #new :two"},
       {"AddText bob|<bob>one|1", "AddText #new|<bob>two|0"}},
      {"notice from user", {":bob!b NOTICE me :hi"},
       {"AddText CURRENTMDICHILDWINDOW|--bob-- hi|0"}},
      {"notice to channel", {":bob!b notice #chat :hi there"},
       {"AddText CURRENTMDICHILDWINDOW|--bob-- hi there|0"}},
      {"notice without colon", {":bob!b NOTICE me hi"}, {"AddText Server|<bob>NOTICE me hi|0"}},
      {"other user command", {":bob!b INVITE me :#secret"},
       {"AddText Server|<bob>INVITE me :#secret|0"}},
      {"user address is what follows the bang", {":bob!~b@h.example JOIN :#chat"},
       {"AddNick #chat|bob", "AddText #chat|*** JOIN: bob (~b@h.example) #chat|0"}},
      {"a nameless sender opens no window", {":!x PRIVMSG me :hi"}, {"AddText |<>hi|0"}},
  });
}

TEST(Dispatch, CtcpRequests) {
  RunCases({
      {"action in channel", {":bob!b PRIVMSG #chat :" B1 "ACTION waves" B1}, {"AddText #chat|* bob waves|0"}},
      {"action to own nick", {":bob!b PRIVMSG me :" B1 "ACTION waves" B1},
       {"AddText bob|* bob waves|1"}},
      {"action without argument", {":bob!b PRIVMSG #chat :" B1 "action" B1},
       {"AddText #chat|* bob action|0"}},
      {"ping to channel answered to nick", {":bob!b PRIVMSG #chat :" B1 "PING 12345" B1 "\r"},
       {"SendMsg NOTICE bob :" B1 "PING 12345" B1, "AddText Server|*** CTCP PING from bob|0"}},
      {"bare ping to own nick", {":bob!b PRIVMSG me :" B1 "PING" B1},
       {"SendMsg NOTICE bob :" B1 "PING PING" B1, "AddText Server|*** CTCP PING from bob|1"}},
      {"ping argument trimmed", {":bob!b PRIVMSG me :" B1 "PING   77 \t" B1},
       {"SendMsg NOTICE bob :" B1 "PING 77" B1, "AddText Server|*** CTCP PING from bob|1"}},
      {"ping with CR inside is one reply",
       {":bob!b PRIVMSG #chat :" B1 "PING a\rQUIT :x" B1},
       {"SendMsg NOTICE bob :" B1 "PING a\rQUIT :x" B1, "AddText Server|*** CTCP PING from bob|0"}},
      {"time", {":bob!b PRIVMSG #chat :" B1 "TIME" B1},
       {"SendMsg NOTICE bob :" B1 "TIME 05.03.2024 13:14:15" B1,
        "AddText Server|*** CTCP TIME from bob|0"}},
      {"version, keyword in any case", {":bob!b PRIVMSG me :" B1 "version" B1},
       {"SendMsg NOTICE bob :" B1 "VERSION Zorv 2.9.22R [Win95/98/NT]" B1,
        "AddText Server|*** CTCP version from bob|1"}},
      {"clientinfo", {":bob!b PRIVMSG #chat :" B1 "CLIENTINFO" B1},
       {"SendMsg NOTICE bob :" B1
        "CLIENTINFO Zorv 2.9.22R You may find lastest version of Zorv at Zorv homepage "
        "http://zorv.sourceforge.net/" B1,
        "AddText Server|*** CTCP CLIENTINFO from bob|0"}},
      {"unknown keyword only shown", {":bob!b PRIVMSG #chat :" B1 "FINGER x" B1},
       {"AddText Server|*** CTCP FINGER x from bob|0"}},
      // Byte 1 is a control byte, so it goes with the trimming of the line ends.
      {"ctcp of nothing but framing", {":bob!b PRIVMSG #chat :" B1 " " B1},
       {"AddText Server|<bob>PRIVMSG #chat :|0"}},
      {"every byte 1 removed, one request read", {":bob!b PRIVMSG #chat :" B1 "PING 1" B1 B1 "VERSION" B1},
       {"SendMsg NOTICE bob :" B1 "PING 1VERSION" B1, "AddText Server|*** CTCP PING from bob|0"}},
      {"unframed tail", {":bob!b PRIVMSG #chat :" B1 "ACTION jumps"}, {"AddText #chat|* bob jumps|0"}},
      {"nameless sender gets no reply", {":!x PRIVMSG #c :" B1 "VERSION" B1},
       {"AddText Server|*** CTCP VERSION from |0"}},
  });
}

TEST(Dispatch, CtcpReplies) {
  RunCases({
      {"ping reply", {":bob!b NOTICE me :" B1 "PING 1000" B1}, {"AddText Server|*** CTCP PING reply from bob : 3 secs|0"}, 3500},
      {"ping reply under a second", {":bob!b NOTICE me :" B1 "PING 1000" B1},
       {"AddText Server|*** CTCP PING reply from bob : 1 secs|0"}, 1200},
      {"ping reply across midnight", {":bob!b NOTICE me :" B1 "PING 86399000" B1},
       {"AddText Server|*** CTCP PING reply from bob : 2 secs|0"}, 500},
      {"ping reply just before midnight", {":bob!b NOTICE me :" B1 "PING 0" B1},
       {"AddText Server|*** CTCP PING reply from bob : 86400 secs|0"}, 86399999},
      {"signed stamp", {":bob!b NOTICE me :" B1 "PING -1000" B1, ":bob!b NOTICE me :" B1 "PING +1000" B1},
       {"AddText Server|*** CTCP PING reply from bob : 3 secs|0",
        "AddText Server|*** CTCP PING reply from bob : 1 secs|0"}, 1500},
      {"32-bit wrap-around", {":bob!b NOTICE me :" B1 "PING 2147483647" B1,
                              ":bob!b NOTICE me :" B1 "PING -2147483648" B1,
                              ":bob!b NOTICE me :" B1 "PING 100000000" B1},
       {"AddText Server|*** CTCP PING reply from bob : -73882 secs|0",
        "AddText Server|*** CTCP PING reply from bob : -73882 secs|0",
        "AddText Server|*** CTCP PING reply from bob : -13599 secs|0"}},
      {"ping reply not a number", {":bob!b NOTICE me :" B1 "PING abc" B1, ":bob!b NOTICE me :" B1 "PING 12x" B1,
                                   ":bob!b NOTICE me :" B1 "PING 2147483648" B1,
                                   ":bob!b NOTICE me :" B1 "PING" B1, ":bob!b NOTICE me :" B1 "PING -" B1,
                                   ":bob!b NOTICE me :" B1 "PING +-5" B1,
                                   ":bob!b NOTICE me :hi"},
       {"AddText Server|*** CTCP PING reply from bob abc|0",
        "AddText Server|*** CTCP PING reply from bob 12x|0",
        "AddText Server|*** CTCP PING reply from bob 2147483648|0",
        "AddText Server|*** CTCP PING reply from bob PING|0",
        "AddText Server|*** CTCP PING reply from bob -|0",
        "AddText Server|*** CTCP PING reply from bob +-5|0",
        "AddText CURRENTMDICHILDWINDOW|--bob-- hi|0"}},
      {"version reply", {":bob!b NOTICE me :" B1 "VERSION SomeClient 1.0" B1},
       {"AddText Server|*** CTCP VERSION reply from bob SomeClient 1.0|0"}},
      {"keyword-only reply", {":bob!b NOTICE me :" B1 "VERSION" B1},
       {"AddText Server|*** CTCP VERSION reply from bob VERSION|0"}},
      {"replies are never answered", {":bob!b NOTICE me :" B1 "TIME now" B1},
       {"AddText Server|*** CTCP TIME reply from bob now|0"}},
  });
}

TEST(Dispatch, ChannelEvents) {
  RunCases({
      {"join of another user", {":bob!b JOIN :#chat"},
       {"AddNick #chat|bob", "AddText #chat|*** JOIN: bob (b) #chat|0"}},
      {"own join opens the window", {":Me!m JOIN :#new\r"}, {"AddText #new|*** JOIN: Me (m) #new|1"}},
      {"own join without channel opens nothing", {":me!m JOIN"}, {"AddText |*** JOIN: me (m) |0"}},
      {"part", {":bob!b PART #chat"}, {"DelNick #chat|bob", "AddText #chat|*** PART: bob (b) #chat|0"}},
      {"own part changes no list", {":ME!m PART #chat"}, {"AddText #chat|*** PART: ME (m) #chat|0"}},
      {"part with message", {":bob!b PART #chat :bye"},
       {"DelNick #chat :bye|bob", "AddText #chat :bye|*** PART: bob (b) #chat :bye|0"}},
      {"topic", {":alice!a TOPIC #chat :new topic"},
       {"SetTopic #chat|new topic|0",
        "AddText #chat|*** TOPIC: changed to \"new topic\" by alice (a)|0"}},
      {"topic without colon", {":alice!a TOPIC #chat"},
       {"SetTopic #chat|#chat|0", "AddText #chat|*** TOPIC: changed to \"#chat\" by alice (a)|0"}},
      {"kick with reason", {":alice!a KICK #chat bob :flooding"},
       {"DelNick #chat|bob",
        "AddText #chat|*** KICK: bob has been kicked from #chat by alice because flooding.|0"}},
      {"kick with long reason", {":alice!a KICK #chat bob :two words"},
       {"DelNick #chat|bob",
        "AddText #chat|*** KICK: bob has been kicked from #chat by alice because two words.|0"}},
      {"kick without reason", {":alice!a KICK #chat bob"},
       {"DelNick #chat|bob",
        "AddText #chat|*** KICK: bob has been kicked from #chat by alice because nothing.|0"}},
      {"kick of own nick rejoins", {":alice!a KICK #chat ME :bye\r"},
       {"DelNick #chat|ME", "ResetNames #chat", "Alert", "SendMsg JOIN #chat",
        "AddText #chat|*** KICK: ME has been kicked from #chat by alice because bye.|0"}},
      {"kick of own nick from what is no channel sends nothing", {":alice!a KICK \r me :bye"},
       {"DelNick \r|me", "ResetNames \r", "Alert",
        "AddText \r|*** KICK: me has been kicked from \r by alice because bye.|0"}},
      {"kick without victim", {":alice!a KICK #chat"},
       {"DelNick #chat|", "AddText #chat|*** KICK:  has been kicked from #chat by alice because nothing.|0"}},
      {"quit", {":bob!b QUIT :gone away"}, {"QuitNick bob|*** QUIT: bob (b) gone away"}},
      {"nick change", {":bob!b NICK :robert"}, {"ChangeNick bob|robert"}},
      {"own nick change", {":ME!m NICK :newme", ":newme!m PRIVMSG NEWME :x"},
       {"SetOwnNick newme", "ChangeNick ME|newme", "AddText newme|<newme>x|1"}},
      {"nick change without a nick does nothing", {":bob!b NICK", ":bob!b NICK :"}, {}},
  });
}

TEST(Dispatch, ModeArgumentWalk) {
  auto mode = [](const char* m) { return std::string(":alice!a MODE #chat ") + m; };
  auto shown = [](const char* m) {
    return std::string("AddText #chat|*** Mode change #chat \"") + m + "\" by alice (a) |0";
  };
  RunCases({
      {"op", {mode("+o bob")}, {"ModeNick #chat|bob|1", shown("+o bob")}},
      {"deop two", {mode("-oo bob carol")},
       {"ModeNick #chat|bob|0", "ModeNick #chat|carol|0", shown("-oo bob carol")}},
      {"voice argument consumed", {mode("+ov bob carol")}, {"ModeNick #chat|bob|1", shown("+ov bob carol")}},
      {"ban then op, later sign not read", {mode("+b-o mask bob")},
       {"ModeNick #chat|bob|1", shown("+b-o mask bob")}},
      {"key and limit consumed", {mode("+kol key bob 10")}, {"ModeNick #chat|bob|1", shown("+kol key bob 10")}},
      {"letters without argument consume none", {mode("+nto bob")},
       {"ModeNick #chat|bob|1", shown("+nto bob")}},
      {"upper-case O", {mode("+O BOB")}, {"ModeNick #chat|BOB|1", shown("+O BOB")}},
      {"more letters than arguments", {mode("+oo bob")}, {"ModeNick #chat|bob|1", shown("+oo bob")}},
      {"arguments are not read as mode letters", {mode("+n bob carol")}, {shown("+n bob carol")}},
      {"no sign", {mode("o bob")}, {shown("o bob")}},
      {"plain modes", {mode("+nt")}, {shown("+nt")}},
      {"mode letters without blank are their own argument", {mode("+o")},
       {"ModeNick #chat|+o|1", shown("+o")}},
      {"own user mode", {":me!m MODE me :+i"}, {"AddText me|*** Mode change me \":+i\" by me (m) |0"}},
      {"no target", {":alice!a MODE #chat"}, {"AddText |*** Mode change  \"#chat\" by alice (a) |0"}},
  });
}

// CTCP replies are limited to a burst, then about one a second; every request
// is still shown.
TEST(Dispatch, CtcpReplyRateLimit) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  auto sends = [&] {
    int n = 0;
    for (const auto& c : frame.calls) n += c.rfind("SendMsg ", 0) == 0;
    return n;
  };
  auto request = [&](int i) {
    engine.ProcessLine(":n" + std::to_string(i) + "!u PRIVMSG #c :" B1 "VERSION" B1);
  };
  frame.nowMs = 10000;
  for (int i = 0; i < 8; ++i) request(i);
  EXPECT_EQ(sends(), 8) << "an ordinary burst is answered in full";
  request(8);
  EXPECT_EQ(sends(), 8);
  EXPECT_EQ(frame.calls.back(), "AddText Server|*** CTCP VERSION from n8|0");
  frame.nowMs = 10999;
  request(9);
  EXPECT_EQ(sends(), 8);
  frame.nowMs = 11000;
  request(10);
  request(11);
  EXPECT_EQ(sends(), 9) << "one more after a second";

  // Across midnight the elapsed time still counts.
  frame.nowMs = 86399500;
  for (int i = 0; i < 20; ++i) request(i);  // refill is capped at the burst
  EXPECT_EQ(sends(), 17);
  frame.nowMs = 400;
  request(0);
  EXPECT_EQ(sends(), 17);
  frame.nowMs = 500;
  request(0);
  EXPECT_EQ(sends(), 18);

  // A clock set back refills nothing, and counts on from the new time.
  frame.nowMs = 300;
  request(0);
  EXPECT_EQ(sends(), 18);
  frame.nowMs = 1300;
  request(0);
  EXPECT_EQ(sends(), 19);
}

TEST(Dispatch, CtcpFloodFromManyNicks) {
  RecordingFrame frame;
  frame.nowMs = 3600000;
  frame.nowStepMs = 1;  // 5000 requests within about five seconds
  InboundEngine engine(frame);
  const char* keywords[] = {"PING 1", "VERSION", "TIME", "CLIENTINFO"};
  for (int i = 0; i < 5000; ++i) {
    engine.ProcessLine(":n" + std::to_string(i % 500) + "!u PRIVMSG me :" B1 + keywords[i % 4] + B1);
  }
  int sent = 0, shown = 0;
  for (const auto& c : frame.calls) {
    sent += c.rfind("SendMsg NOTICE n", 0) == 0;
    shown += c.rfind("AddText Server|*** CTCP ", 0) == 0;
  }
  EXPECT_EQ(shown, 5000);
  EXPECT_GE(sent, 8);
  EXPECT_LE(sent, 8 + 6);
}

}  // namespace
