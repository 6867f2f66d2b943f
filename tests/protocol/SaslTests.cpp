// Registering and logging in: the lines that open a registration, the own
// nick a numeric is addressed to, a nick in use retried before the welcome,
// and the CAP / AUTHENTICATE exchange against a scripted server, checked
// against a recording Frame.
#include <gtest/gtest.h>

#include "ProtocolFixtures.h"
#include "Sasl.h"

using protocoltest::Calls;
using protocoltest::RecordingFrame;

namespace {

constexpr char kReset[] = "<new connection>";  // InboundEngine::Reset, then Register

struct Case {
  const char* name;
  zorv::SaslConfig login;
  Calls lines;
  Calls calls;        // after the opening lines
  Calls opening = {};  // checked where given
  std::string nick = "me";
};

const zorv::SaslConfig kLogin{"", "acc", "secret"};
const std::string kAnswer = "SendMsg AUTHENTICATE YWNjAGFjYwBzZWNyZXQ=";
std::string Server(const std::string& text) { return "AddText Server|" + text + "|0"; }
const std::string kNotOffered = Server("*** The server does not offer SASL PLAIN; going on without logging in");
const std::string kFailed = Server("*** SASL login failed; going on without logging in");
const std::string kUnexpected = Server("*** Unexpected AUTHENTICATE from the server ignored");
const Calls kOpening = {"SendMsg CAP LS 302", "SendMsg NICK me", "SendMsg USER me * * :me"};
const std::string kInUse = " :Nickname is already in use";
std::string InUse(const std::string& to, const std::string& nick) { return ":srv 433 " + to + " " + nick + kInUse; }
std::string InUseShown(const std::string& nick) { return Server(nick + kInUse); }
std::string Trying(const std::string& taken, const std::string& next) {
  return Server("*** Nickname " + taken + " is in use, trying " + next);
}
Case Reg(const char* name, const std::string& nick, Calls lines, Calls calls) {
  return {name, {}, lines, calls, {}, nick};
}

// The lines up to the server's "AUTHENTICATE +", and what they cause.
const Calls kToAnswer = {":srv CAP * LS :multi-prefix sasl", ":srv CAP me ACK :sasl", "AUTHENTICATE +"};
const Calls kUpToAnswer = {"SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN", kAnswer};
Calls Then(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Registration, LinesSentForLinesReceived) {
  // "ab\0ab\0" is "YWIAYWIA" and every "aaa" is "YWFh": 294 more bytes make 400 characters.
  std::string full = "YWIAYWIA", tail;
  for (int i = 0; i < 98; ++i) full += "YWFh";
  for (int i = 0; i < 52; ++i) tail += "YWFh";
  const Calls upToAnswer(kUpToAnswer.begin(), kUpToAnswer.end() - 1);
  const std::vector<Case> cases = {
      {"nothing configured: NICK and USER only", {}, {}, {}, {"SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"a server password goes first",
       {"pw", "", ""},
       {},
       {},
       {"SendMsg PASS pw", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"one that needs the trailing form",
       {":a b", "", ""},
       {},
       {},
       {"SendMsg PASS ::a b", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"both: PASS, then CAP LS",
       {"pw", "acc", "secret"},
       {},
       {},
       {"SendMsg PASS pw", "SendMsg CAP LS 302", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"an account and a password: CAP LS first", kLogin, {}, {}, kOpening},
      {"an account alone asks for nothing", {"", "acc", ""}, {}, {}, {"SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"listed: the whole login", kLogin,
       Then(kToAnswer, {":srv 900 me me!u@h acc :You are now logged in as acc",
                        ":srv 903 me :SASL authentication successful", ":srv 001 me :Welcome here"}),
       Then(kUpToAnswer, {Server("me!u@h acc :You are now logged in as acc"), Server("SASL authentication successful"),
                          "SendMsg CAP END", Server("Welcome here")})},
      {"no account: the nick",
       {"", "", "pw"},
       kToAnswer,
       Then(Calls(kUpToAnswer.begin(), kUpToAnswer.end() - 1), {"SendMsg AUTHENTICATE bWUAbWUAcHc="})},
      {"sasl=PLAIN,EXTERNAL", kLogin, {":srv CAP * LS :sasl=PLAIN,EXTERNAL"}, {"SendMsg CAP REQ :sasl"}},
      {"lines without source",
       kLogin,
       {"CAP * LS :sasl", "CAP * ACK sasl", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN", kAnswer}},
      {"in several lines: asked after the last",
       kLogin,
       {":srv CAP * LS * :multi-prefix sasl", ":srv CAP * LS * :away-notify", ":srv CAP * LS :echo-message"},
       {"SendMsg CAP REQ :sasl"}},
      {"sasl only on the last line",
       kLogin,
       {":srv CAP * LS * :multi-prefix", ":srv CAP * LS :sasl=PLAIN"},
       {"SendMsg CAP REQ :sasl"}},
      {"the success a second time sends nothing", kLogin,
       Then(kToAnswer, {":srv 903 me :SASL authentication successful", ":srv 903 me :SASL authentication successful"}),
       Then(kUpToAnswer,
            {Server("SASL authentication successful"), "SendMsg CAP END", Server("SASL authentication successful")})},
      {"not listed", kLogin, {":srv CAP * LS :multi-prefix away-notify"}, {"SendMsg CAP END", kNotOffered}},
      {"sasl in another name only",
       kLogin,
       {":srv CAP * LS :draft/sasl=PLAIN saslx"},
       {"SendMsg CAP END", kNotOffered}},
      {"plain among others, any case", kLogin, {":srv CAP * LS :sasl=EXTERNAL,plain"}, {"SendMsg CAP REQ :sasl"}},
      {"sasl=EXTERNAL only", kLogin, {":srv CAP * LS :sasl=EXTERNAL"}, {"SendMsg CAP END", kNotOffered}},
      {"904", kLogin, Then(kToAnswer, {":srv 904 me :SASL authentication failed", ":srv 001 me :Welcome here"}),
       Then(kUpToAnswer, {Server("SASL authentication failed"), "SendMsg CAP END", kFailed, Server("Welcome here")})},
      {"908 then 904: one CAP END", kLogin,
       Then(kToAnswer, {":srv 908 me PLAIN :are available SASL mechanisms", ":srv 904 me :SASL authentication failed"}),
       Then(kUpToAnswer, {Server("PLAIN :are available SASL mechanisms"), "SendMsg CAP END", kFailed,
                          Server("SASL authentication failed")})},
      {"902 before the answer",
       kLogin,
       {":srv CAP * LS :sasl", ":srv 902 me :You must use a nick assigned to you"},
       {"SendMsg CAP REQ :sasl", Server("You must use a nick assigned to you"), "SendMsg CAP END", kFailed}},
      {"NAK",
       kLogin,
       {":srv CAP * LS :sasl", ":srv CAP me NAK :sasl", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", "SendMsg CAP END", kFailed, kUnexpected}},
      {"421: nothing to end",
       kLogin,
       {":srv 421 me CAP :Unknown command", ":srv 001 me :Welcome here"},
       {Server("CAP :Unknown command"), Server("*** The server does not know CAP; going on without logging in"),
        Server("Welcome here")}},
      {"no answer, then the welcome",
       kLogin,
       {":srv 001 me :Welcome here", ":srv 001 me :Welcome here"},
       {Server("*** The server registered before SASL finished; not logged in"), Server("Welcome here"),
        Server("Welcome here")}},
      {"a challenge PLAIN does not have is given up",
       kLogin,
       {":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", "AUTHENTICATE Zm9v", "AUTHENTICATE +",
        ":srv 906 me :SASL authentication aborted"},
       {"SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN", "SendMsg AUTHENTICATE *", kUnexpected, kUnexpected,
        Server("SASL authentication aborted"), "SendMsg CAP END", kFailed}},
      {"two pieces",
       {"", "ab", std::string(450, 'a')},
       kToAnswer,
       Then(upToAnswer, {"SendMsg AUTHENTICATE " + full, "SendMsg AUTHENTICATE " + tail})},
      {"exactly 400: a final +",
       {"", "ab", std::string(294, 'a')},
       kToAnswer,
       Then(upToAnswer, {"SendMsg AUTHENTICATE " + full, "SendMsg AUTHENTICATE +"})},
      {"AUTHENTICATE + before anything was asked",
       kLogin,
       {"AUTHENTICATE +", ":srv AUTHENTICATE +", ":srv CAP * ACK :sasl", "AUTHENTICATE +"},
       {kUnexpected, kUnexpected, kUnexpected}},
      {"after the request, before the ACK",
       kLogin,
       {":srv CAP * LS :sasl", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", kUnexpected}},
      {"an ACK of something else",
       kLogin,
       {":srv CAP * LS :sasl", ":srv CAP * ACK :multi-prefix", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", kUnexpected}},
      {"a second + gets nothing", kLogin, Then(kToAnswer, {"AUTHENTICATE +", ":srv CAP * ACK :sasl", "AUTHENTICATE +"}),
       Then(kUpToAnswer, {kUnexpected, kUnexpected})},
      {"a second LS after the end",
       kLogin,
       {":srv CAP * LS :multi-prefix", ":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", "AUTHENTICATE +"},
       {"SendMsg CAP END", kNotOffered, kUnexpected}},
      {"after the welcome",
       kLogin,
       {":srv 001 me :Welcome here", ":srv CAP * LS :sasl", "AUTHENTICATE +"},
       {Server("*** The server registered before SASL finished; not logged in"), Server("Welcome here"),
        Server("LS :sasl"), kUnexpected}},
      {"broken lines",
       kLogin,
       {":srv CAP", ":srv CAP *", "CAP", ":srv AUTHENTICATE", "AUTHENTICATE"},
       {Server("<srv>CAP "), Server("<srv>CAP *"), Server("<>CAP "), kUnexpected, kUnexpected}},
      {"a new connection logs in again", kLogin, Then(kToAnswer, Then({kReset}, kToAnswer)),
       Then(kUpToAnswer, Then(kOpening, kUpToAnswer))},
      {"as before",
       {},
       {"AUTHENTICATE +", "CAP * LS :sasl", ":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", ":srv AUTHENTICATE +",
        ":srv 903 me :SASL authentication successful", ":srv 904 me :SASL authentication failed",
        ":srv 421 me CAP :Unknown command", ":srv 001 me :Welcome here"},
       {Server("<AUTHENTICATE>+ "), Server("<CAP>* LS :sasl"), Server("LS :sasl"), Server("ACK :sasl"),
        Server("<srv>AUTHENTICATE +"), Server("SASL authentication successful"), Server("SASL authentication failed"),
        Server("CAP :Unknown command"), Server("Welcome here")},
       {"SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"a server password alone",
       {"pw", "", ""},
       {":srv CAP * LS :sasl", "AUTHENTICATE +"},
       {Server("LS :sasl"), Server("<AUTHENTICATE>+ ")},
       {"SendMsg PASS pw", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      // The own nick and nicks in use (no login configured).
      Reg("the welcome's nick is taken", "carol", {":srv 001 zoe :Welcome to the net, zoe\r"},
          {"SetOwnNick zoe", "AddText Server|Welcome to the net, zoe|0"}),
      Reg("in the server's letter case", "ZOE", {":srv 001 Zoe :Welcome here"},
          {"SetOwnNick Zoe", "AddText Server|Welcome here|0"}),
      Reg("the same nick changes nothing", "zoe", {":srv 001 zoe :Welcome here", ":srv 001 zoe :Welcome"},
          {"AddText Server|Welcome here|0", "AddText Server|<srv>001 zoe :Welcome|0"}),
      Reg("no nick, a channel or a control byte is not a nick", "carol",
          {":srv 001 * :Welcome here", ":srv 001 #c :Welcome here", ":srv 001 a\x01z :Welcome here", ":srv 001"},
          {"AddText Server|Welcome here|0", "AddText Server|Welcome here|0", "AddText Server|Welcome here|0",
           "AddText Server|<srv>001 |0"}),
      Reg("numerics after the welcome", "carol",
          {":srv 001 carol :Welcome here", ":srv 353 zoe = #c :@a zoe", ":srv 366 zoe #c :End",
           ":srv 251 Zoe :3 users"},
          {"AddText Server|Welcome here|0", "SetOwnNick zoe", "FillNames = #c :@a zoe", "AddText Server|= #c :@a zoe|0",
           "EndNames #c :End", "AddText Server|#c :End|0", "SetOwnNick Zoe", "AddText Server|3 users|0"}),
      Reg("numerics before the welcome are not followed", "carol", {":srv 020 zed :Please wait while we process"},
          {"AddText Server|Please wait while we process|0"}),
      Reg("only numerics from the server are followed", "carol",
          {":srv 001 carol :Welcome here", ":srv 0353 zed = #c :a", ":srv NOTICE zed :hi there",
           ":bob!b 353 zed :x y z", ":srv 0x1 zed :a b"},
          {"AddText Server|Welcome here|0", "AddText Server|= #c :a|0", "AddText Server|hi there|0",
           "AddText Server|<bob>353 zed :x y z|0", "AddText Server|a b|0"}),
      Reg("twice, then the server's text alone", "carol",
          {InUse("*", "carol"), InUse("*", "carol_"), InUse("*", "carol__"), ":srv 001 carol__ :Welcome here"},
          {InUseShown("carol"), "SendMsg NICK carol_", Trying("carol", "carol_"), InUseShown("carol_"),
           "SendMsg NICK carol__", Trying("carol_", "carol__"), InUseShown("carol__"), "SetOwnNick carol__",
           "AddText Server|Welcome here|0"}),
      Reg("a short reply is shown as it came", "carol", {":srv 433 * carol"},
          {"AddText Server|<srv>433 * carol|0", "SendMsg NICK carol_", Trying("carol", "carol_")}),
      Reg("after the welcome as ever", "carol", {":srv 001 carol :Welcome here", InUse("carol", "zoe")},
          {"AddText Server|Welcome here|0", InUseShown("zoe")}),
      Reg("a new connection tries again", "carol",
          {InUse("*", "carol"), ":srv 001 carol_ :Welcome here", kReset, InUse("*", "carol_"), InUse("*", "carol_")},
          {InUseShown("carol"), "SendMsg NICK carol_", Trying("carol", "carol_"), "SetOwnNick carol_",
           "AddText Server|Welcome here|0", "SendMsg NICK carol", "SendMsg USER carol * * :carol", InUseShown("carol_"),
           "SendMsg NICK carol__", Trying("carol_", "carol__"), InUseShown("carol_"), "SendMsg NICK carol___",
           Trying("carol__", "carol___")}),
      Reg("without an own nick nothing is tried", "", {InUse("*", "x")}, {InUseShown("x")}),
  };
  for (const Case& c : cases) {
    RecordingFrame frame;
    frame.login = c.login;
    frame.ownNick = c.nick;
    InboundEngine engine(frame);
    engine.Reset();
    engine.Register(c.nick);
    if (!c.opening.empty()) {
      EXPECT_EQ(frame.calls, c.opening) << c.name;
    }
    frame.calls.clear();
    for (const auto& line : c.lines) {
      if (line == kReset) {
        engine.Reset();
        engine.Register(c.nick);
      } else {
        engine.ProcessLine(line);
      }
    }
    EXPECT_EQ(frame.calls, c.calls) << c.name;
  }
}

}  // namespace
