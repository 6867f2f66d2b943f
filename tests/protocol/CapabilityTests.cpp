// Capabilities: which ones are asked for, the message tags they bring, the
// negotiation against a scripted server, and what each one changes, checked
// against a recording Frame.
#include <gtest/gtest.h>

#include "Caps.h"
#include "ProtocolFixtures.h"

using protocoltest::Calls;
using protocoltest::RecordingFrame;

namespace {

using sv = std::string_view;

TEST(CapRules, Choice) {
  const struct { sv offered; std::uint32_t have; sv asked; } cases[] = {
      {"multi-prefix sasl=PLAIN,EXTERNAL foo away-notify", 0, "multi-prefix away-notify"},
      {"SERVER-TIME=x message-tags batch znc.in/self-message draft/chathistory", 0,
       "SERVER-TIME message-tags batch znc.in/self-message"},
      {"multi-prefix away-notify multi-prefix", zorv::kAwayNotify, "multi-prefix"},  // had, or offered twice
      {"sasl  foo= =x", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::ChooseCapabilities(c.offered, c.have), c.asked) << c.offered;
}

TEST(CapRules, TagsAndTimes) {
  const struct { sv tags, key; bool found; std::string value; } tags[] = {
      {"time=2024;batch=x", "batch", true, "x"},
      {"a=\\:\\s\\\\\\r\\n\\x;b", "a", true, "; \\\r\nx"},
      {"a=end\\", "a", true, "end"},
      {"flag;a=1", "flag", true, ""},
      {"+time=1;+a=2", "+a", false, ""},  // client-only tags are not read
      {"+time=1", "time", false, ""},
      {"timex=1;xtime=2;=3", "time", false, ""},
      {"", "time", false, ""},
  };
  for (const auto& c : tags) {
    std::string value = "unset";
    EXPECT_EQ(zorv::FindTag(c.tags, c.key, &value), c.found) << c.tags;
    if (c.found) EXPECT_EQ(value, c.value) << c.tags;
  }
  const struct { sv text; long long ms; } times[] = {
      {"2024-03-05T13:14:15.123Z", 1709644455123}, {"2024-03-05T13:14:15.1234567Z", 1709644455123},
      {"1999-12-31T23:59:59Z", 946684799000},      {"1999-12-31T23:59:59", -1},
      {"1999-12-31 23:59:59Z", -1},                {"1999-13-31T23:59:59Z", -1},
      {"1969-12-31T23:59:59Z", -1},                {"2024-03-05T13:14:15.Z1", -1},
      {"", -1},
  };
  for (const auto& c : times) EXPECT_EQ(zorv::ParseServerTime(c.text), c.ms) << c.text;
}

// Records what the capabilities add to Frame, too.
struct CapFrame : RecordingFrame {
  void AwayNick(S n, bool a) override { calls.push_back("AwayNick " + n + (a ? "|1" : "|0")); }
  void NickAccount(S n, S a) override { calls.push_back("NickAccount " + n + "|" + a); }
  void SaidAt(long long ms) override { calls.push_back("SaidAt " + std::to_string(ms)); }
  void Batch(bool open) override { calls.push_back(open ? "Batch open" : "Batch closed"); }
};

struct Case {
  const char* name;
  Calls lines;
  Calls calls;
  zorv::SaslConfig login = {"", "", "", true};
};

void RunCases(const std::vector<Case>& cases, sv enable = {}) {
  for (const Case& c : cases) {
    CapFrame frame;
    frame.login = c.login;
    InboundEngine engine(frame);
    engine.Register("me");
    if (!enable.empty()) {
      engine.ProcessLine(":srv CAP * LS :" + std::string(enable));
      engine.ProcessLine(":srv CAP me ACK :" + std::string(enable));
    }
    frame.calls.clear();
    for (const auto& line : c.lines) engine.ProcessLine(line);
    EXPECT_EQ(frame.calls, c.calls) << c.name;
  }
}

const std::string kFailed = "AddText Server|*** SASL login failed; going on without logging in|0";

TEST(Capabilities, Negotiation) {
  RunCases({
      {"one request, CAP END after its answer, nothing shown",
       {":srv CAP * LS * :multi-prefix sasl", ":srv CAP * LS :away-notify",
        ":srv CAP me ACK :multi-prefix away-notify"},
       {"SendMsg CAP REQ :multi-prefix away-notify", "SendMsg CAP END"}},
      {"refused: CAP END all the same",
       {"CAP * LS :batch", "CAP * NAK :batch"},
       {"SendMsg CAP REQ :batch", "SendMsg CAP END"}},
      {"nothing wanted offered", {":srv CAP * LS :foo sasl"}, {"SendMsg CAP END"}},
      {"the answer already tagged (inspircd, znc)",
       {":srv CAP * LS :server-time", "@time=2026-01-01T00:00:00.000Z :srv CAP me ACK :server-time"},
       {"SendMsg CAP REQ :server-time", "SendMsg CAP END"}},
      {"an answer to nothing asked ends nothing",
       {":srv CAP * LS :batch", ":srv CAP me ACK :foo"},
       {"SendMsg CAP REQ :batch"}},
      {"421: nothing more",
       {":srv 421 me CAP :Unknown command", ":srv CAP * LS :batch", ":srv 001 me :Hi there"},
       {"AddText Server|CAP :Unknown command|0", "AddText Server|LS :batch|0", "AddText Server|Hi there|0"}},
      {"451: nothing more",
       {":srv 451 * :You have not registered", ":srv 001 me :Hi there"},
       {"AddText Server|You have not registered|0", "AddText Server|Hi there|0"}},
      {"welcome before any reply: nothing more",
       {":srv 001 me :Hi there", ":srv CAP * LS :batch"},
       {"AddText Server|Hi there|0", "AddText Server|LS :batch|0"}},
      {"welcome during the negotiation ends it",
       {":srv CAP * LS :batch", ":srv 001 me :Hi there"},
       {"SendMsg CAP REQ :batch", "SendMsg CAP END", "AddText Server|Hi there|0"}},
      {"sasl asked alone: its refusal costs nothing else",
       {":srv CAP * LS :multi-prefix sasl", ":srv CAP me ACK :multi-prefix", ":srv CAP me NAK :sasl"},
       {"SendMsg CAP REQ :multi-prefix", "SendMsg CAP REQ :sasl", "SendMsg CAP END", kFailed},
       {"", "", "pw", true}},
      {"login waits for the other answer",
       {":srv CAP * LS :sasl batch", ":srv CAP me ACK :sasl", ":srv CAP me ACK :batch"},
       {"SendMsg CAP REQ :batch", "SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN"},
       {"", "", "pw", true}},
  });
}

TEST(Capabilities, NewAndDel) {
  RunCases({
      {"new: asked once until answered; del: gone",
       {":srv CAP me NEW :away-notify foo", ":srv CAP me NEW :away-notify", ":srv CAP me ACK :away-notify",
        ":b!b@h AWAY :out", ":srv CAP me DEL :away-notify", ":b!b@h AWAY :out", ":srv CAP me NEW :multi-prefix"},
       {"SendMsg CAP REQ :away-notify", "AwayNick b|1", "AddText Server|<b>AWAY out|0"}},
  }, "multi-prefix");
}

const char kAll[] =
    "multi-prefix away-notify account-notify extended-join server-time message-tags batch echo-message chghost "
    "setname userhost-in-names invite-notify";

TEST(Capabilities, WhatTheyChange) {
  RunCases(
      {
          {"names with user and host",
           {":srv 353 me = #c :@+a!u@h b!v@w", ":srv 353 me = #c :c"},
           {"FillNames = #c :@+a b", "AddText Server|= #c :@+a!u@h b!v@w|0", "FillNames = #c :c",
            "AddText Server|= #c :c|0"}},
          {"away and back, accounts",
           {":b!b@h AWAY :lunch", ":b!b@h AWAY", ":b!b@h ACCOUNT acc", ":b!b@h ACCOUNT *"},
           {"AwayNick b|1", "AwayNick b|0", "NickAccount b|acc", "NickAccount b|"}},
          {"extended join",
           {":b!b@h JOIN #c acc :Real Name", ":b!b@h JOIN #c * :Real"},
           {"AddNick #c|b", "NickAccount b|acc", "AddText #c|*** JOIN: b (b@h) #c|0", "AddNick #c|b", "NickAccount b|",
            "AddText #c|*** JOIN: b (b@h) #c|0"}},
          {"the time a line was said",
           {"@time=2024-03-05T13:14:15.123Z;+x=y :b!b@h PRIVMSG #c :hi", "@time=bad :b!b@h PRIVMSG #c :ho",
            "@+time=2024-03-05T13:14:15Z :b!b@h PRIVMSG #c :hu", "@a=b PING :x"},
           {"SaidAt 1709644455123", "AddText #c|<b>hi|0", "SaidAt 0", "AddText #c|<b>ho|0", "AddText #c|<b>hu|0",
            "SendMsg PONG :x", "AddText Server|Ping!! Pong!!|1"}},
          {"own lines echoed, once, never answered",
           {":me!m@h PRIVMSG #c :hi", ":me!m@h PRIVMSG bob :yo",
            ":me!m@h PRIVMSG #c :\x01"
            "ACTION waves\x01",
            ":me!m@h PRIVMSG me :\x01VERSION\x01", ":me!m@h NOTICE bob :psst", ":me!m@h NOTICE bob :\x01VERSION x\x01"},
           {"AddText #c|<me>hi|0", "AddText bob|<me>yo|1", "AddText #c|* me waves|0",
            "AddText CURRENTMDICHILDWINDOW|-NOTICE- bob psst|0"}},
          {"host and name changes are quiet", {":b!b@h CHGHOST u new.host", ":b!b@h SETNAME :New Name"}, {}},
          {"someone else's invite in the channel",
           {":a!a@h INVITE bob #c", ":a!a@h INVITE me :#c", ":a!a@h INVITE bob nochannel"},
           {"AddText #c|*** INVITE: a invites bob to #c|0", "AddText Server|<a>INVITE me :#c|0",
            "AddText Server|<a>INVITE bob nochannel|0"}},
          {"a batch is shown when it closes, keep-alives at once",
           {"BATCH +p chathistory #c", "@batch=p :b!b@h PRIVMSG #c :one", "PING :k", ":srv BATCH +q x",
            "@batch=q;time=2024-03-05T13:14:15.123Z :b!b@h PRIVMSG #c :two", ":srv BATCH -q", "BATCH -p",
            ":b!b@h PRIVMSG #c :after", "BATCH -p"},
           {"SendMsg PONG :k", "AddText Server|Ping!! Pong!!|1", "Batch open", "AddText #c|<b>one|0",
            "SaidAt 1709644455123", "AddText #c|<b>two|0", "SaidAt 0", "Batch closed", "AddText #c|<b>after|0"}},
      },
      kAll);
}

// Without the capabilities, the same lines do what they always did.
TEST(Capabilities, OffMeansAsBefore) {
  RunCases({
      {"as before",
       {":b!b@h AWAY :x", ":b!b@h JOIN #c acc :Real", "@time=2024-03-05T13:14:15Z :b!b PRIVMSG #c :hi",
        ":b!b@h CHGHOST u h", ":a!a@h INVITE bob #c", "BATCH +p x"},
       {"AddText Server|<b>AWAY x|0", "AddNick #c acc :Real|b", "AddText #c acc :Real|*** JOIN: b (b@h) #c acc :Real|0",
        "AddText Server|#c :hi|0", "AddText Server|<b>CHGHOST u h|0", "AddText Server|<a>INVITE bob #c|0",
        "AddText Server|<BATCH>+p x|0"},
       {}},
  });
}

// With message tags on, a line may carry 8191 bytes of tags; without, the
// line assembly keeps its old size.
TEST(Capabilities, LongTaggedLines) {
  const std::string tagged = "@a=" + std::string(8000, 'x') + " :b!b@h PRIVMSG #c :" + std::string(400, 'y') + "\r\n";
  for (const bool on : {false, true}) {
    CapFrame frame;
    frame.login.capabilities = true;
    InboundEngine engine(frame);
    engine.Register("me");
    engine.ProcessLine(":srv CAP * LS :message-tags");
    if (on) engine.ProcessLine(":srv CAP * ACK :message-tags");
    frame.calls.clear();
    protocoltest::FeedChunk(engine, tagged + tagged + "PING :end\r\n", 3000);
    const Calls shown(2, "AddText #c|<b>" + std::string(400, 'y') + "|0");
    Calls want = on ? shown : Calls{};
    want.insert(want.end(), {"SendMsg PONG :end", "AddText Server|Ping!! Pong!!|1"});
    EXPECT_EQ(frame.calls, want) << on;
  }
}

}  // namespace
