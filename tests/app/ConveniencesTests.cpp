// Everyday conveniences: the pacing of what is sent, the ignore list, the
// channels joined from the settings, /help and /ignore in the input line,
// and ignoring and the settings' channels through the main window.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTemporaryDir>
#include <utility>

#include "AppFixture.h"
#include "ConnectionDialog.h"
#include "ConnectionSettings.h"
#include "IgnoreList.h"
#include "Interpreter.h"
#include "Reconnect.h"
#include "SendPacer.h"
#include "Session.h"

using apptest::AppTest;
using apptest::hasLine;
using apptest::linesOf;
using apptest::window;
using testsupport::LoopbackServer;
using testsupport::waitFor;
using Lines = std::vector<std::string>;

namespace {

// Lines pushed at the given times of day; what leaves when, as "time line".
Lines paced(const std::vector<std::pair<int, std::string>>& pushes) {
  zorv::SendPacer pacer;
  Lines sent;
  auto take = [&](int now) {
    for (const std::string& line : pacer.Due(now)) sent.push_back(std::to_string(now) + " " + line);
  };
  long long now = pushes.front().first;
  for (std::size_t i = 0; i <= pushes.size(); ++i) {
    const long long next = i < pushes.size() ? pushes[i].first : now + 100000;
    // The clock runs to the next push, stopping wherever the pacer asks to be woken.
    for (int wait; (wait = pacer.WaitMs(static_cast<int>(now % zorv::RateBudget::kDayMs))) >= 0 && now + wait < next;) {
      now += wait;
      take(static_cast<int>(now % zorv::RateBudget::kDayMs));
    }
    if (i == pushes.size()) break;
    now = next;
    pacer.Push(pushes[i].second);
    take(static_cast<int>(now % zorv::RateBudget::kDayMs));
  }
  return sent;
}

// Lines L1..Lcount pushed from time at on, every ms apart; and as sent then.
std::vector<std::pair<int, std::string>> lines(int count, int at, int every = 0) {
  std::vector<std::pair<int, std::string>> out;
  for (int i = 1; i <= count; ++i) out.emplace_back(at + (i - 1) * every, "L" + std::to_string(i));
  return out;
}

Lines times(int count, int at, int every = 0, int first = 1) {
  Lines out;
  for (int i = 0; i < count; ++i) out.push_back(std::to_string(at + i * every) + " L" + std::to_string(first + i));
  return out;
}

template <class T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(Pacing, BurstThenOneLineASecondWithPongPingAndQuitFirst) {
  const int late = zorv::RateBudget::kDayMs - 300;  // midnight passes during the wait
  const struct {
    const char* what;
    std::vector<std::pair<int, std::string>> pushes;
    Lines sent;
  } cases[] = {
      {"a burst of ten, then one a second", lines(13, 5000), times(10, 5000) + times(3, 6000, 1000, 11)},
      {"typing at one line a second never waits", lines(25, 0, 1000), times(25, 0, 1000)},
      {"typing twice as fast waits once the burst is spent", lines(22, 0, 500),
       times(19, 0, 500) + Lines{"10000 L20", "11000 L21", "12000 L22"}},
      {"PONG, PING and QUIT jump the queue; the rest keep their order",
       lines(12, 0) + std::vector<std::pair<int, std::string>>{{100, "PONG :x"}, {200, "ping :y"}, {300, "QUIT :bye"}},
       times(10, 0) + Lines{"100 PONG :x", "200 ping :y", "300 QUIT :bye", "1000 L11", "2000 L12"}},
      {"the clock passing midnight", lines(11, late),
       times(10, late) + Lines{std::to_string(late + 1000 - zorv::RateBudget::kDayMs) + " L11"}},
  };
  for (const auto& c : cases) EXPECT_EQ(paced(c.pushes), c.sent) << c.what;

  zorv::SendPacer pacer;
  for (const auto& [at, line] : lines(12, 0)) pacer.Push(line);
  pacer.Due(0);
  EXPECT_EQ(pacer.WaitingBytes(), 6u);
  pacer.Reset();  // a new connection: nothing waits, the burst is whole again
  for (const auto& [at, line] : lines(10, 0)) pacer.Push(line);
  EXPECT_EQ(pacer.Due(0).size(), 10u);
}

TEST(IgnoreRules, CommandsMatchingAndTheSettingsValue) {
  zorv::IgnoreList list;
  const struct {
    const char* args;
    Lines said;
  } steps[] = {
      {"", {"*** Nobody is ignored"}},
      {"Troll", {"*** Ignoring Troll"}},
      {"troll  spam!u@h,#chan",
       {"*** troll is ignored already", "*** Ignoring spam", "*** Not a nick: #chan (USAGE: /IGNORE [-]<nick>)"}},
      {"", {"*** Ignored: Troll spam"}},
      {"-SPAM -nobody -",
       {"*** No longer ignoring SPAM", "*** nobody is not ignored", "*** Not a nick: - (USAGE: /IGNORE [-]<nick>)"}},
  };
  for (const auto& s : steps) EXPECT_EQ(list.Command(s.args), s.said) << s.args;
  for (const auto& [nick, ignored] : {std::pair{"troll", true}, {"TROLL", true}, {"spam", false}, {"trol", false},
                                      {"troll2", false}, {"", false}})
    EXPECT_EQ(list.Contains(nick), ignored) << nick;
  list.SetJoined(" a b,a c!x@y #d @e ");
  EXPECT_EQ(list.Joined(), "a b c");
}

TEST(ChannelsSetting, ReadAsJoinTakesThem) {
  const std::pair<const char*, const char*> cases[] = {  // the setting; its channels as "name=key"
      {"", ""},
      {"#a", "#a "},
      {"#a,#b,&c keyA,,keyC", "#a=keyA #b &c=keyC "},
      {"  #a, b ,,#c  k1 ignored", "#a=k1 #b #c "},
  };
  for (const auto& [text, channels] : cases) {
    std::string got;
    for (const auto& c : zorv::ChannelsSetting(text)) got += c.name + (c.key.empty() ? "" : "=" + c.key) + " ";
    EXPECT_EQ(got, channels) << text;
  }
}

TEST(InputLineCommands, HelpIgnoreAndPastedLines) {
  const std::tuple<const char*, bool, std::size_t, const char*, const char*> cases[] = {
      // typed, connected, lines written, the first one, the arguments for /ignore (null: none)
      {"/help", false, 19,
       "*** Commands of the input line (/help <command> for one); any other /word goes to the server as typed:",
       nullptr},
      {"/HELP join", true, 1, "*** /join #channel[,#more] [keys]: joins channels", nullptr},
      {"/help who", true, 1, "*** /who is not a command of Zorv: it goes to the server as typed", nullptr},
      {"/ignore", false, 0, "", ""},
      {"/unignore a  b", false, 0, "", "-a -b"},
      {"/unignore", true, 1, "*** USAGE: /UNIGNORE <nick>", nullptr},
  };
  for (const auto& [typed, connected, writes, first, ignoreArgs] : cases) {
    const zorv::InterpretResult r = zorv::Interpret(typed, "#c", "me", 0, connected);
    EXPECT_TRUE(r.send.empty()) << typed;
    ASSERT_EQ(r.writes.size(), writes) << typed;
    EXPECT_EQ(writes ? r.writes.front() : "", first) << typed;
    EXPECT_EQ(r.ignore ? r.ignoreArgs : "null", ignoreArgs ? ignoreArgs : "null") << typed;
  }
  EXPECT_EQ(zorv::PastedLines("one\r\ntwo\n\n  \rthree x\r\n"), (Lines{"one", "two", "three x"}));
  EXPECT_EQ(zorv::PastedLines(std::string_view("a\0b\n", 4)), (Lines{"a b"}));
}

// The settings' channels are joined after the welcome, with the open channel
// windows on a reconnect, each once; an ignored nick's private messages,
// notices and CTCP make no window and no answer, its channel lines are not
// shown; the channels and the ignore list are kept in the settings.
TEST_F(AppTest, SettingsChannelsJoinedOnceAndIgnoredNickDropped) {
  {
    ConnectionDialog dialog(*form->connectionSettings, form.get());
    dialog.EditChannels->setText(" #a,#B key\n");
    dialog.applyTo(*form->connectionSettings);
  }
  LoopbackServer server;
  for (const std::string joined : {"JOIN #a,#B key", "JOIN #a,#B,#other key"}) {
    form->nickField->setText("me");
    connectTo(server);
    server.clearReceived();
    testsupport::pumpFor(20);
    EXPECT_EQ(server.received(), "");  // nothing before the welcome
    server.send(":srv 001 me :Welcome\r\n");
    ASSERT_TRUE(server.waitReceived("\r\n"));
    testsupport::pumpFor(20);
    server.poll();
    EXPECT_EQ(server.received(), joined + "\r\n");
    server.send(":me!m@h JOIN :#a\r\n:me!m@h JOIN :#b\r\n:me!m@h JOIN :#other\r\n");
    ASSERT_TRUE(waitFor([&] { return window(*form, "#other") != nullptr; }));
    if (joined.size() > 15) break;
    form->OnDisconnectClicked();
    ASSERT_TRUE(waitFor([&] { return form->session->Socket().State() == wsClosed; }));
    server.closeClient();
  }
  TMDIChild* chan = window(*form, "#a");
  chan->inputLine->setText("/ignore Troll");
  chan->OnSendClicked();
  EXPECT_EQ(linesOf(*form, "#a").back(), "*** Ignoring Troll");
  server.clearReceived();
  server.send(":troll!x@elsewhere PRIVMSG me :hi\r\n:TROLL!a@b NOTICE me :psst\r\n"
              ":troll!u@h PRIVMSG me :\001VERSION\001\r\n:troll!u@h PRIVMSG #a :in the channel\r\n"
              ":troll!u@h NOTICE #a :notice in the channel\r\n:friend!u@h PRIVMSG #a :hello\r\n");
  ASSERT_TRUE(waitFor([&] { return hasLine(*form, "#a", "<friend>hello"); }));
  testsupport::pumpFor(50);
  for (const char* name : {"troll", "TROLL"}) EXPECT_EQ(window(*form, name), nullptr) << name;
  for (const std::string& line : linesOf(*form, "#a")) EXPECT_EQ(line.find("channel"), std::string::npos) << line;
  for (const std::string& line : linesOf(*form, "Server")) EXPECT_EQ(line.find("psst"), std::string::npos) << line;
  server.poll();
  EXPECT_EQ(server.received(), "");
  form->close();
  form.reset();
  const QByteArray ini = testsupport::readBytes(dir.filePath("ZORV.INI"));
  EXPECT_TRUE(ini.contains("Channels=#a,#B key\n")) << ini.toStdString();
  EXPECT_TRUE(ini.contains("[Ignore]\nNicks=Troll\n")) << ini.toStdString();
  form = std::make_unique<TMainForm>(dir.path());
  EXPECT_TRUE(form->session->Ignored().Contains("troll"));
}
