// The own nick during and after registration: the nick a numeric is addressed
// to becomes the own nick, and a nick in use before the welcome is retried
// with "_" appended (twice), checked against a recording Frame.
#include <gtest/gtest.h>

#include "ProtocolFixtures.h"

using protocoltest::Calls;
using protocoltest::RecordingFrame;

namespace {

constexpr char kReset[] = "<new connection>";  // a line that stands for InboundEngine::Reset

struct Case {
  const char* name;
  std::string ownNick;
  Calls lines;
  Calls calls;
};

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    RecordingFrame frame;
    frame.ownNick = c.ownNick;
    InboundEngine engine(frame);
    for (const auto& line : c.lines) line == kReset ? engine.Reset() : engine.ProcessLine(line);
    EXPECT_EQ(frame.calls, c.calls) << c.name;
  }
}

const std::string kInUse = " :Nickname is already in use";
std::string InUse(const std::string& to, const std::string& nick) { return ":srv 433 " + to + " " + nick + kInUse; }
std::string InUseShown(const std::string& nick) { return "AddText Server|" + nick + kInUse + "|0"; }
std::string Trying(const std::string& taken, const std::string& next) {
  return "AddText Server|*** Nickname " + taken + " is in use, trying " + next + "|0";
}

TEST(Registration, WelcomeAndLaterNumericsSetTheOwnNick) {
  RunCases({
      {"the welcome's nick is taken", "carol", {":srv 001 zoe :Welcome to the net, zoe\r"},
       {"SetOwnNick zoe", "AddText Server|Welcome to the net, zoe|0"}},
      {"in the server's letter case", "ZOE", {":srv 001 Zoe :Welcome here"},
       {"SetOwnNick Zoe", "AddText Server|Welcome here|0"}},
      {"the same nick changes nothing", "zoe", {":srv 001 zoe :Welcome here", ":srv 001 zoe :Welcome"},
       {"AddText Server|Welcome here|0", "AddText Server|<srv>001 zoe :Welcome|0"}},
      {"no nick, a channel or a control byte is not a nick", "carol",
       {":srv 001 * :Welcome here", ":srv 001 #c :Welcome here", ":srv 001 a\x01z :Welcome here", ":srv 001"},
       {"AddText Server|Welcome here|0", "AddText Server|Welcome here|0", "AddText Server|Welcome here|0",
        "AddText Server|<srv>001 |0"}},
      {"numerics after the welcome", "carol",
       {":srv 001 carol :Welcome here", ":srv 353 zoe = #c :@a zoe", ":srv 366 zoe #c :End", ":srv 251 Zoe :3 users"},
       {"AddText Server|Welcome here|0", "SetOwnNick zoe", "FillNames = #c :@a zoe", "AddText Server|= #c :@a zoe|0",
        "EndNames #c :End", "AddText Server|#c :End|0", "SetOwnNick Zoe", "AddText Server|3 users|0"}},
      {"numerics before the welcome are not followed", "carol", {":srv 020 zed :Please wait while we process"},
       {"AddText Server|Please wait while we process|0"}},
      {"only numerics from the server are followed", "carol",
       {":srv 001 carol :Welcome here", ":srv 0353 zed = #c :a", ":srv NOTICE zed :hi there", ":bob!b 353 zed :x y z",
        ":srv 0x1 zed :a b"},
       {"AddText Server|Welcome here|0", "AddText Server|= #c :a|0", "AddText Server|hi there|0",
        "AddText Server|<bob>353 zed :x y z|0", "AddText Server|a b|0"}},
  });
}

TEST(Registration, NickInUseIsRetriedTwiceBeforeTheWelcome) {
  RunCases({
      {"twice, then the server's text alone", "carol",
       {InUse("*", "carol"), InUse("*", "carol_"), InUse("*", "carol__"), ":srv 001 carol__ :Welcome here"},
       {InUseShown("carol"), "SendMsg NICK carol_", Trying("carol", "carol_"), InUseShown("carol_"),
        "SendMsg NICK carol__", Trying("carol_", "carol__"), InUseShown("carol__"), "SetOwnNick carol__",
        "AddText Server|Welcome here|0"}},
      {"a short reply is shown as it came", "carol", {":srv 433 * carol"},
       {"AddText Server|<srv>433 * carol|0", "SendMsg NICK carol_", Trying("carol", "carol_")}},
      {"after the welcome as ever", "carol", {":srv 001 carol :Welcome here", InUse("carol", "zoe")},
       {"AddText Server|Welcome here|0", InUseShown("zoe")}},
      {"a new connection tries again", "carol",
       {InUse("*", "carol"), ":srv 001 carol_ :Welcome here", kReset, InUse("*", "carol_"), InUse("*", "carol_")},
       {InUseShown("carol"), "SendMsg NICK carol_", Trying("carol", "carol_"), "SetOwnNick carol_",
        "AddText Server|Welcome here|0", InUseShown("carol_"), "SendMsg NICK carol__", Trying("carol_", "carol__"),
        InUseShown("carol_"), "SendMsg NICK carol___", Trying("carol__", "carol___")}},
      {"without an own nick nothing is tried", "", {InUse("*", "x")}, {InUseShown("x")}},
  });
}

}  // namespace
