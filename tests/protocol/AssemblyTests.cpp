// Line assembly (reads, over-long lines, zero bytes, re-entry, failures inside
// the windows) and the names-reply helper.
#include <gtest/gtest.h>

#include <stdexcept>

#include "NamesReply.h"
#include "Bytes.h"
#include "ProtocolFixtures.h"

using namespace std::string_literals;
using protocoltest::Calls;
using protocoltest::Feed;
using protocoltest::FeedChunk;
using protocoltest::RecordingFrame;

namespace {

Calls Pongs(std::initializer_list<std::string> ids) {
  Calls calls;
  for (const auto& id : ids) calls.insert(calls.end(), {"SendMsg PONG :" + id, "AddText Server|Ping!! Pong!!|1"});
  return calls;
}

TEST(Assembly, OneReceivePerEventAndNothingOnZeroOrError) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  std::vector<int> rooms;
  const std::pair<std::string, int> events[] = {{"PING :par", 9}, {"", 0}, {"", -1}, {"t\r\n", 3}};
  for (const auto& [bytes, result] : events) {
    engine.DataAvailable([&, &bytes = bytes, result = result](char* buf, int room) {
      rooms.push_back(room);
      std::copy(bytes.begin(), bytes.end(), buf);
      return result;
    });
    EXPECT_EQ(engine.PendingBytes(), result == 3 ? 0 : 9);
  }
  EXPECT_EQ(rooms, (std::vector<int>{1023, 1014, 1014, 1014}));
  EXPECT_EQ(frame.calls, Pongs({"part"}));
  EXPECT_EQ(engine.PendingBytes(), 0);
}

// A line of 1023 bytes or more before its LF cannot be held: it is dropped
// whole, and the lines after it go on, however the bytes arrive.
TEST(Assembly, OverLongLinesAndZeroBytesNeverStopLaterLines) {
  for (const size_t length : {1022u, 1023u, 2046u, 5000u}) {
    const std::string body(length - 6, 'x');
    const std::string bytes = "PING :before\r\nPING :" + body + "\nPING :after\r\n";
    for (const size_t chunk : {1u, 7u, 1023u, 4096u}) {
      EXPECT_EQ(Feed(bytes, chunk), length < 1023 ? Pongs({"before", body, "after"}) : Pongs({"before", "after"}))
          << "length " << length << " chunk " << chunk;
    }
  }
  const std::pair<std::string, Calls> cases[] = {
      {"PING :a\0b\r\n\0\0PING :c\r\n"s, Pongs({"ab", "c"})},
      {"abc\0\nPING :y\r\n"s, {"AddText Server|<>abc |0", "SendMsg PONG :y", "AddText Server|Ping!! Pong!!|1"}},
      {std::string(5000, '\0') + "PING :z\r\n", Pongs({"z"})},
      {"PING :" + std::string(1000, 'w') + std::string(100, '\0') + "\r\nPING :v\r\n",
       Pongs({std::string(1000, 'w'), "v"})},
  };
  for (const auto& [bytes, calls] : cases) {
    for (const size_t chunk : {1u, 3u, 1023u, 8000u}) EXPECT_EQ(Feed(bytes, chunk), calls) << "chunk " << chunk;
  }
}

TEST(Assembly, ResetDropsPartialAndSkippedLines) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  FeedChunk(engine, "PING :old", 100);
  engine.ResetLineBuffer();
  FeedChunk(engine, "PING :new\r\n" + std::string(2000, 'x'), 100);  // ends inside an over-long line
  engine.ResetLineBuffer();
  FeedChunk(engine, "PING :fresh\r\n", 100);
  EXPECT_EQ(frame.calls, Pongs({"new", "fresh"}));
}

// A Frame operation that re-enters the data-available handler gets no
// receive; one that throws leaves the lines after it for the next event.
TEST(Assembly, ReentryAndThrowingFrame) {
  struct Hostile : RecordingFrame {
    InboundEngine* engine = nullptr;
    int receives = 0;
    void AddText(const std::string& n, const std::string& t, bool c) override {
      RecordingFrame::AddText(n, t, c);
      if (t == "<>reenter ") engine->DataAvailable([this](char*, int) { return ++receives, 0; });
      if (t == "<>boom ") throw std::runtime_error("boom");
    }
  } frame;
  InboundEngine engine(frame);
  frame.engine = &engine;
  FeedChunk(engine, "reenter\r\nPING :1\r\n", 100);
  EXPECT_EQ(frame.receives, 0);
  EXPECT_THROW(FeedChunk(engine, "boom\r\nPING :2\r\nPING :3\r\nPING :pa", 100), std::runtime_error);
  engine.DataAvailable([](char*, int) { return 0; });  // nothing new arrives
  FeedChunk(engine, "rt\r\n", 100);
  Calls expected = {"AddText Server|<>reenter |0", "SendMsg PONG :1", "AddText Server|Ping!! Pong!!|1",
                    "AddText Server|<>boom |0"};
  for (const auto& c : Pongs({"2", "3", "part"})) expected.push_back(c);
  EXPECT_EQ(frame.calls, expected);
}

// The channel and names of a names reply (the lines themselves are parsed in the dispatch tables).
TEST(Helpers, NamesReply) {
  const struct { const char* p; bool found; const char* channel; const char* names;
  } cases[] = {{"= #chat :@alice bob me", true, "#chat", "@alice bob me "},
               {"@ &local :x y", true, "&local", "x y "},
               {"#chat :End of list.", true, "#chat", "End of list. "},
               {"#a&b :n1", true, "#a&b", "n1 "},
               {"= &a#b :n1", true, "&a#b", "n1 "},
               {"= #chat a b", true, "#chat", "a b "},
               {"= chat :a", true, "=", "a "},
               {"= #chat", false, "", ""},
               {"", false, "", ""}};
  for (const auto& c : cases) {
    std::string channel = "unchanged", names = "unchanged";
    ASSERT_EQ(zorv::NamesReplyChannel(c.p, &channel, &names), c.found) << c.p;
    EXPECT_EQ(channel + "|" + names, c.found ? std::string(c.channel) + "|" + c.names : "unchanged|unchanged") << c.p;
  }
}

}  // namespace
