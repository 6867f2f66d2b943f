// Logging in while registering: the lines that open a registration, and the
// CAP / AUTHENTICATE exchange against a scripted server, checked against a
// recording Frame; the encoding and list rules it rests on.
#include <gtest/gtest.h>

#include "ProtocolFixtures.h"
#include "Sasl.h"

using protocoltest::Calls;
using protocoltest::RecordingFrame;

namespace {

using sv = std::string_view;

TEST(SaslRules, Base64) {
  const struct { sv in, out; } cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {sv("\xff\xfe\0", 3), "//4A"}, {sv("acc\0acc\0secret", 14), "YWNjAGFjYwBzZWNyZXQ="},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::Base64(c.in), c.out) << testing::PrintToString(std::string(c.in));
}

TEST(SaslRules, AnswerPieces) {
  const std::string a400(400, 'a'), b(7, 'b');
  const struct { std::string in; Calls out; } cases[] = {
      {"abc", {"abc"}},
      {a400.substr(1), {a400.substr(1)}},
      {a400, {a400, "+"}},  // exactly one full piece: "+" ends it
      {a400 + b, {a400, b}},
      {a400 + a400, {a400, a400, "+"}},
      {"", {"+"}},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::AuthenticatePieces(c.in), c.out) << c.in.size();
}

TEST(SaslRules, CapReplies) {
  const struct { sv params; bool ok; sv sub, list; bool more; } cases[] = {
      {"* LS :sasl multi-prefix", true, "LS", "sasl multi-prefix", false},
      {"me LS * :sasl=PLAIN", true, "LS", "sasl=PLAIN", true},
      {"* LS *", true, "LS", "", true},
      {"* LS sasl", true, "LS", "sasl", false},
      {"* LS :*", true, "LS", "*", false},  // a list that is a star is no continuation
      {"* ACK :sasl ", true, "ACK", "sasl", false},
      {"* NAK", true, "NAK", "", false},
      {"*", false, "", "", false},
      {"", false, "", "", false},
      {"* :LS sasl", false, "", "", false},
  };
  for (const auto& c : cases) {
    zorv::CapReply r;
    ASSERT_EQ(zorv::ParseCapReply(c.params, &r), c.ok) << c.params;
    if (!c.ok) continue;
    EXPECT_EQ(r.sub, c.sub) << c.params;
    EXPECT_EQ(r.list, c.list) << c.params;
    EXPECT_EQ(r.more, c.more) << c.params;
  }
}

TEST(SaslRules, SaslPlainOffered) {
  const struct { sv list; bool plain; } cases[] = {
      {"sasl", true},
      {"multi-prefix SASL away-notify", true},
      {"sasl=PLAIN,EXTERNAL", true},
      {"sasl=EXTERNAL,plain", true},
      {"sasl=", true},
      {"sasl=EXTERNAL", false},
      {"sasl=EXTERNAL,SCRAM-SHA-256,PLAINX", false},
      {"draft/sasl=PLAIN saslx", false},
      {"multi-prefix", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::OffersSaslPlain(c.list), c.plain) << c.list;
}

constexpr char kReset[] = "<new connection>";  // InboundEngine::Reset, then Register

struct Case {
  const char* name;
  zorv::SaslConfig login;
  Calls lines;
  Calls calls;  // after the opening lines
  Calls opening = {"SendMsg CAP LS 302", "SendMsg NICK me", "SendMsg USER me * * :me"};
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    RecordingFrame frame;
    frame.login = c.login;
    InboundEngine engine(frame);
    engine.Reset();
    engine.Register("me");
    EXPECT_EQ(frame.calls, c.opening) << c.name;
    frame.calls.clear();
    for (const auto& line : c.lines) {
      if (line == kReset) {
        engine.Reset();
        engine.Register("me");
      } else {
        engine.ProcessLine(line);
      }
    }
    EXPECT_EQ(frame.calls, c.calls) << c.name;
  }
}

const zorv::SaslConfig kLogin{"", "acc", "secret"};
const std::string kAnswer = "SendMsg AUTHENTICATE YWNjAGFjYwBzZWNyZXQ=";
std::string Server(const std::string& text) { return "AddText Server|" + text + "|0"; }
const std::string kNotOffered = Server("*** The server does not offer SASL PLAIN; going on without logging in");
const std::string kFailed = Server("*** SASL login failed; going on without logging in");
const std::string kUnexpected = Server("*** Unexpected AUTHENTICATE from the server ignored");

// The lines up to the server's "AUTHENTICATE +", and what they cause.
const Calls kToAnswer = {":srv CAP * LS :multi-prefix sasl", ":srv CAP me ACK :sasl", "AUTHENTICATE +"};
const Calls kUpToAnswer = {"SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN", kAnswer};
Calls Then(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Sasl, OpeningLines) {
  RunCases({
      {"nothing configured: NICK and USER only", {}, {}, {}, {"SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"a server password goes first", {"pw", "", ""}, {}, {},
       {"SendMsg PASS pw", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"one that needs the trailing form", {":a b", "", ""}, {}, {},
       {"SendMsg PASS ::a b", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"both: PASS, then CAP LS", {"pw", "acc", "secret"}, {}, {},
       {"SendMsg PASS pw", "SendMsg CAP LS 302", "SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"an account alone asks for nothing", {"", "acc", ""}, {}, {}, {"SendMsg NICK me", "SendMsg USER me * * :me"}},
  });
}

TEST(Sasl, ServerOffersSasl) {
  RunCases({
      {"listed: the whole login", kLogin,
       Then(kToAnswer, {":srv 900 me me!u@h acc :You are now logged in as acc",
                        ":srv 903 me :SASL authentication successful", ":srv 001 me :Welcome here"}),
       Then(kUpToAnswer, {Server("me!u@h acc :You are now logged in as acc"), Server("SASL authentication successful"),
                          "SendMsg CAP END", Server("Welcome here")})},
      {"no account: the nick", {"", "", "pw"}, kToAnswer,
       Then(Calls(kUpToAnswer.begin(), kUpToAnswer.end() - 1), {"SendMsg AUTHENTICATE bWUAbWUAcHc="})},
      {"sasl=PLAIN,EXTERNAL", kLogin, {":srv CAP * LS :sasl=PLAIN,EXTERNAL"},
       {"SendMsg CAP REQ :sasl"}},
      {"lines without source", kLogin, {"CAP * LS :sasl", "CAP * ACK sasl", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN", kAnswer}},
      {"in several lines: asked after the last", kLogin,
       {":srv CAP * LS * :multi-prefix sasl", ":srv CAP * LS * :away-notify", ":srv CAP * LS :echo-message"},
       {"SendMsg CAP REQ :sasl"}},
      {"sasl only on the last line", kLogin, {":srv CAP * LS * :multi-prefix", ":srv CAP * LS :sasl=PLAIN"},
       {"SendMsg CAP REQ :sasl"}},
      {"the success a second time sends nothing", kLogin,
       Then(kToAnswer, {":srv 903 me :SASL authentication successful", ":srv 903 me :SASL authentication successful"}),
       Then(kUpToAnswer, {Server("SASL authentication successful"), "SendMsg CAP END",
                          Server("SASL authentication successful")})},
  });
}

TEST(Sasl, ServerDoesNotLogUsIn) {
  RunCases({
      {"not listed", kLogin, {":srv CAP * LS :multi-prefix away-notify"},
       {"SendMsg CAP END", kNotOffered}},
      {"sasl=EXTERNAL only", kLogin, {":srv CAP * LS :sasl=EXTERNAL"},
       {"SendMsg CAP END", kNotOffered}},
      {"904", kLogin, Then(kToAnswer, {":srv 904 me :SASL authentication failed", ":srv 001 me :Welcome here"}),
       Then(kUpToAnswer, {Server("SASL authentication failed"), "SendMsg CAP END", kFailed, Server("Welcome here")})},
      {"908 then 904: one CAP END", kLogin,
       Then(kToAnswer, {":srv 908 me PLAIN :are available SASL mechanisms", ":srv 904 me :SASL authentication failed"}),
       Then(kUpToAnswer, {Server("PLAIN :are available SASL mechanisms"), "SendMsg CAP END", kFailed,
                          Server("SASL authentication failed")})},
      {"902 before the answer", kLogin, {":srv CAP * LS :sasl", ":srv 902 me :You must use a nick assigned to you"},
       {"SendMsg CAP REQ :sasl", Server("You must use a nick assigned to you"), "SendMsg CAP END",
        kFailed}},
      {"NAK", kLogin, {":srv CAP * LS :sasl", ":srv CAP me NAK :sasl", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", "SendMsg CAP END", kFailed, kUnexpected}},
      {"421: nothing to end", kLogin, {":srv 421 me CAP :Unknown command", ":srv 001 me :Welcome here"},
       {Server("CAP :Unknown command"), Server("*** The server does not know CAP; going on without logging in"),
        Server("Welcome here")}},
      {"no answer, then the welcome: no CAP END", kLogin, {":srv 001 me :Welcome here", ":srv 001 me :Welcome here"},
       {Server("*** The server registered before SASL finished; not logged in"),
        Server("Welcome here"), Server("Welcome here")}},
      {"a challenge PLAIN does not have is given up", kLogin,
       {":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", "AUTHENTICATE Zm9v", "AUTHENTICATE +",
        ":srv 906 me :SASL authentication aborted"},
       {"SendMsg CAP REQ :sasl", "SendMsg AUTHENTICATE PLAIN",
        "SendMsg AUTHENTICATE *", kUnexpected, kUnexpected, Server("SASL authentication aborted"), "SendMsg CAP END",
        kFailed}},
  });
}

TEST(Sasl, LongPasswordsGoInPieces) {
  // "ab\0ab\0" is "YWIAYWIA" and every "aaa" is "YWFh": 294 more bytes make 400 characters.
  std::string full = "YWIAYWIA", tail;
  for (int i = 0; i < 98; ++i) full += "YWFh";
  for (int i = 0; i < 52; ++i) tail += "YWFh";
  const Calls upToAnswer(kUpToAnswer.begin(), kUpToAnswer.end() - 1);
  RunCases({
      {"two pieces", {"", "ab", std::string(450, 'a')}, kToAnswer,
       Then(upToAnswer, {"SendMsg AUTHENTICATE " + full, "SendMsg AUTHENTICATE " + tail})},
      {"exactly 400: a final +", {"", "ab", std::string(294, 'a')}, kToAnswer,
       Then(upToAnswer, {"SendMsg AUTHENTICATE " + full, "SendMsg AUTHENTICATE +"})},
  });
}

// The password leaves only as the answer to "AUTHENTICATE +" after the own
// "AUTHENTICATE PLAIN", and once per connection.
TEST(Sasl, HostileServer) {
  RunCases({
      {"AUTHENTICATE + before anything was asked", kLogin,
       {"AUTHENTICATE +", ":srv AUTHENTICATE +", ":srv CAP * ACK :sasl", "AUTHENTICATE +"},
       {kUnexpected, kUnexpected, kUnexpected}},
      {"after the request, before the ACK", kLogin, {":srv CAP * LS :sasl", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", kUnexpected}},
      {"an ACK of something else", kLogin, {":srv CAP * LS :sasl", ":srv CAP * ACK :multi-prefix", "AUTHENTICATE +"},
       {"SendMsg CAP REQ :sasl", kUnexpected}},
      {"a second + gets nothing", kLogin, Then(kToAnswer, {"AUTHENTICATE +", ":srv CAP * ACK :sasl", "AUTHENTICATE +"}),
       Then(kUpToAnswer, {kUnexpected, kUnexpected})},
      {"a second LS after the end", kLogin,
       {":srv CAP * LS :multi-prefix", ":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", "AUTHENTICATE +"},
       {"SendMsg CAP END", kNotOffered, kUnexpected}},
      {"after the welcome", kLogin, {":srv 001 me :Welcome here", ":srv CAP * LS :sasl", "AUTHENTICATE +"},
       {Server("*** The server registered before SASL finished; not logged in"), Server("Welcome here"),
        Server("LS :sasl"), kUnexpected}},
      {"broken lines", kLogin, {":srv CAP", ":srv CAP *", "CAP", ":srv AUTHENTICATE", "AUTHENTICATE"},
       {Server("<srv>CAP "), Server("<srv>CAP *"), Server("<>CAP "), kUnexpected, kUnexpected}},
      {"a new connection logs in again", kLogin, Then(kToAnswer, Then({kReset}, kToAnswer)),
       Then(kUpToAnswer, Then({"SendMsg CAP LS 302", "SendMsg NICK me", "SendMsg USER me * * :me"}, kUpToAnswer))},
  });
}

// With nothing configured, the lines of the exchange are shown as every
// other server line is, and nothing is sent.
TEST(Sasl, NothingConfiguredActsOnNothing) {
  RunCases({
      {"as before", {},
       {"AUTHENTICATE +", "CAP * LS :sasl", ":srv CAP * LS :sasl", ":srv CAP * ACK :sasl", ":srv AUTHENTICATE +",
        ":srv 903 me :SASL authentication successful", ":srv 904 me :SASL authentication failed",
        ":srv 421 me CAP :Unknown command", ":srv 001 me :Welcome here"},
       {Server("<AUTHENTICATE>+ "), Server("<CAP>* LS :sasl"), Server("LS :sasl"), Server("ACK :sasl"),
        Server("<srv>AUTHENTICATE +"), Server("SASL authentication successful"), Server("SASL authentication failed"),
        Server("CAP :Unknown command"), Server("Welcome here")},
       {"SendMsg NICK me", "SendMsg USER me * * :me"}},
      {"a server password alone", {"pw", "", ""}, {":srv CAP * LS :sasl", "AUTHENTICATE +"},
       {Server("LS :sasl"), Server("<AUTHENTICATE>+ ")}, {"SendMsg PASS pw", "SendMsg NICK me", "SendMsg USER me * * :me"}},
  });
}

}  // namespace
