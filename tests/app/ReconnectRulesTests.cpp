// The plain rules of staying connected: the reconnect wait, the rejoin lines,
// the channel keys learnt from sent lines, and our own keep-alive's answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "Reconnect.h"

using zorv::ChannelToJoin;

TEST(ReconnectDelay, DoublesFromTheFirstWaitUpToTheCapLessAtMostTheSpread) {
  const zorv::ReconnectPolicy standard;
  const zorv::ReconnectPolicy fast{50, 200, 0};
  struct Case {
    zorv::ReconnectPolicy policy;
    int attempt;
    std::uint32_t random;
    int expected;
  } cases[] = {
      {standard, 0, 0, 10000},      {standard, 1, 0, 20000},       {standard, 2, 0, 40000},
      {standard, 3, 0, 80000},      {standard, 4, 0, 160000},      {standard, 5, 0, 300000},
      {standard, 6, 0, 300000},     {standard, 1000, 0, 300000},   {standard, -3, 0, 10000},
      {standard, 0, 1000, 9000},    {standard, 0, 1001, 10000},    {standard, 5, 30000, 270000},
      {standard, 5, 30001, 300000}, {fast, 0, 7, 50},              {fast, 1, 7, 100},
      {fast, 2, 7, 200},            {fast, 3, 7, 200},             {{0, 0, 10}, 0, 0, 1},
      {{5000, 1000, 10}, 0, 0, 1000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zorv::ReconnectDelayMs(c.attempt, c.random, c.policy), c.expected)
        << "attempt " << c.attempt << " random " << c.random;
}

TEST(ReconnectDelay, EveryRandomValueStaysWithinTenPercentBelowTheNominalWait) {
  const int nominal[] = {10000, 20000, 40000, 80000, 160000, 300000, 300000};
  for (int attempt = 0; attempt < 7; ++attempt)
    for (std::uint32_t r : {0u, 1u, 999u, 12345u, 0x7fffffffu, 0xffffffffu}) {
      const int d = zorv::ReconnectDelayMs(attempt, r);
      EXPECT_LE(d, nominal[attempt]) << attempt << " " << r;
      EXPECT_GE(d, nominal[attempt] * 9 / 10) << attempt << " " << r;
    }
}

TEST(ReconnectDelay, SecondsShownRoundUpAndAreNeverZero) {
  const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {999, 1}, {1000, 1}, {1001, 2}, {9000, 9}, {9001, 10}, {300000, 300}};
  for (const auto& [ms, s] : cases) EXPECT_EQ(zorv::DelaySeconds(ms), s) << ms;
}

TEST(JoinLines, KeyedChannelsFirstAndWhatCannotTravelLeftOut) {
  const std::string longest(505, 'x');  // "JOIN " + 505 = 510 bytes
  struct Case {
    const char* what;
    std::vector<ChannelToJoin> channels;
    std::vector<std::string> expected;
  } cases[] = {
      {"none", {}, {}},
      {"plain", {{"#a", ""}, {"#b", ""}}, {"JOIN #a,#b"}},
      {"keyed first", {{"#a", ""}, {"#b", "k2"}, {"&c", ""}, {"#d", "k4"}}, {"JOIN #b,#d,#a,&c k2,k4"}},
      {"bad names", {{"", ""}, {"#x y", ""}, {"#x,y", ""}, {std::string("#c\x01", 3), ""}, {"#ok", ""}}, {"JOIN #ok"}},
      {"bad key joins without it", {{"#a", "se cret"}, {"#b", "k,k"}, {"#c", "k"}}, {"JOIN #c,#a,#b k"}},
      {"a name that fills a line", {{"#" + longest.substr(1), ""}, {"#a", ""}}, {"JOIN #" + longest.substr(1), "JOIN #a"}},
      {"a name longer than a line", {{"#" + longest, ""}, {"#a", ""}}, {"JOIN #a"}},
  };
  for (const Case& c : cases) EXPECT_EQ(zorv::JoinLines(c.channels), c.expected) << c.what;
}

TEST(JoinLines, ManyChannelsSplitIntoFullLinesEachWithinTheLimit) {
  std::vector<ChannelToJoin> channels;
  for (int i = 0; i < 120; ++i)
    channels.push_back({"#channel-number-" + std::to_string(i), i % 3 == 0 ? "key" + std::to_string(i) : ""});
  for (std::size_t limit : {std::size_t{510}, std::size_t{100}, std::size_t{40}}) {
    const auto lines = zorv::JoinLines(channels, limit);
    std::multiset<std::string> joined;
    std::size_t bytes = 0;
    for (const std::string& line : lines) {
      ASSERT_LE(line.size(), limit);
      ASSERT_EQ(line.rfind("JOIN #", 0), 0u) << line;
      bytes += line.size();
      const auto blank = line.find(' ', 5);
      const std::string names = line.substr(5, blank == std::string::npos ? std::string::npos : blank - 5);
      const std::string keys = blank == std::string::npos ? "" : line.substr(blank + 1);
      const auto keyCount = keys.empty() ? 0 : std::count(keys.begin(), keys.end(), ',') + 1;
      std::size_t start = 0;
      for (long n = 0;; ++n) {
        const auto comma = names.find(',', start);
        const std::string name = names.substr(start, comma - start);
        joined.insert(name);
        // Keys pair with the first channels of the line: those are the keyed ones.
        const int number = std::stoi(name.substr(16));
        EXPECT_EQ(n < keyCount, number % 3 == 0) << line;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
    EXPECT_EQ(joined.size(), channels.size()) << limit;
    for (const auto& c : channels) EXPECT_EQ(joined.count(c.name), 1u) << c.name;
    // Lines are filled: no two lines could have been one.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_GT(lines[i].size() + lines[i + 1].size() - 4, limit);
    if (limit == 510) EXPECT_EQ(lines.size(), (bytes + 509) / 510);
  }
}

TEST(ChannelKeys, LearntFromTheJoinLinesSent) {
  struct Case {
    std::vector<std::string> sent;
    std::vector<std::pair<std::string, std::string>> expected;  // channel, key
  } cases[] = {
      {{"JOIN #a sesame"}, {{"#a", "sesame"}, {"#A", "sesame"}, {"#b", ""}}},
      {{"join #a,#b k1,k2"}, {{"#a", "k1"}, {"#B", "k2"}}},
      {{"JOIN #a,#b,#c k1,,k3"}, {{"#a", "k1"}, {"#b", ""}, {"#c", "k3"}}},
      {{"JOIN #a,#b k1"}, {{"#a", "k1"}, {"#b", ""}}},
      {{"JOIN  #a   k"}, {{"#a", "k"}}},
      {{"JOIN #a old", "JOIN #a"}, {{"#a", "old"}}},
      {{"JOIN #a old", "JOIN #a new"}, {{"#a", "new"}}},
      {{"PRIVMSG #a :JOIN #a k", "JOINX #a k", "JOIN"}, {{"#a", ""}}},
      {{"JOIN #a :k"}, {{"#a", ":k"}}},
  };
  for (const Case& c : cases) {
    zorv::ChannelKeys keys;
    for (const auto& line : c.sent) keys.NoteSent(line);
    for (const auto& [channel, key] : c.expected) EXPECT_EQ(keys.KeyOf(channel), key) << c.sent.front() << " " << channel;
  }
}

TEST(OwnPingReply, OnlyTheServersAnswerWithOurTokenIsRecognised) {
  struct Case {
    const char* text;
    const char* token;
    bool own;
  } cases[] = {
      {"<irc.test>PONG irc.test :zorv-lag-1", "zorv-lag-1", true},
      {"<irc.test>PONG irc.test zorv-lag-1", "zorv-lag-1", true},
      {"<irc.test>pong irc.test :zorv-lag-1", "zorv-lag-1", true},
      {"<irc.test>PONG irc.test :zorv-lag-2", "zorv-lag-1", false},
      {"<irc.test>PONG irc.test :zorv-lag-12", "zorv-lag-1", false},
      {"<irc.test>PONG irc.test :other", "zorv-lag-1", false},
      {"<irc.test>NOTICE irc.test :zorv-lag-1", "zorv-lag-1", false},
      {"<irc.test>PONG irc.test :", "", false},
      {"PONG irc.test :zorv-lag-1", "zorv-lag-1", false},
      {"", "zorv-lag-1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(zorv::IsOwnPingReply(c.text, c.token), c.own) << c.text;
}
