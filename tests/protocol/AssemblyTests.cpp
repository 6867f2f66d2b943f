// Line assembly: lines cut at LF across any reads, over-long lines, zero
// bytes, re-entry and failures inside the windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "Inbound.h"
#include "ProtocolFixtures.h"

using protocoltest::FeedChunk;
using protocoltest::RecordingFrame;

namespace {

std::vector<std::string> Feed(std::string_view bytes, size_t chunk) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  FeedChunk(engine, bytes, chunk);
  return frame.calls;
}

std::vector<std::string> Pongs(std::initializer_list<std::string> ids) {
  std::vector<std::string> calls;
  for (const auto& id : ids) {
    calls.push_back("SendMsg PONG :" + id);
    calls.push_back("AddText Server|Ping!! Pong!!|1");
  }
  return calls;
}

TEST(Assembly, LinesAreCutAtLfWhateverTheReads) {
  const std::string two = "PING :a\r\nPING :b\r\n";
  for (size_t chunk : {1u, 2u, 5u, 9u, 10u, 11u, 18u, 1000u}) {
    SCOPED_TRACE(chunk);
    EXPECT_EQ(Feed(two, chunk), Pongs({"a", "b"}));
  }
}

TEST(Assembly, OneReceivePerEventAndNothingOnZeroOrError) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  std::vector<int> rooms;
  std::string next = "PING :par";
  auto event = [&](int result) {
    engine.DataAvailable([&](char* buf, int room) {
      rooms.push_back(room);
      if (result > 0) std::copy_n(next.data(), result, buf);
      return result;
    });
  };
  event(static_cast<int>(next.size()));
  EXPECT_EQ(engine.PendingBytes(), 9);
  event(0);
  event(-1);
  EXPECT_EQ(engine.PendingBytes(), 9);
  next = "t\r\n";
  event(3);
  EXPECT_EQ(rooms, (std::vector<int>{1023, 1014, 1014, 1014}));
  EXPECT_EQ(frame.calls, Pongs({"part"}));
  EXPECT_EQ(engine.PendingBytes(), 0);
}

// A line of 1023 bytes or more before its LF cannot be held: it is dropped
// whole, and the lines after it are processed.
TEST(Assembly, OverLongLinesAreDroppedAndLaterLinesGoOn) {
  struct Case {
    size_t length;  // bytes before the LF
    bool kept;
  };
  const Case cases[] = {{1021, true}, {1022, true}, {1023, false}, {1024, false},
                        {2045, false}, {2046, false}, {2047, false}, {5000, false}};
  for (const Case& c : cases) {
    const std::string body(c.length - 6, 'x');
    const std::string bytes = "PING :before\r\nPING :" + body + "\nPING :after\r\n";
    for (size_t chunk : {1u, 7u, 512u, 1023u, 4096u}) {
      SCOPED_TRACE(testing::Message() << "length " << c.length << " chunk " << chunk);
      const auto expected = c.kept ? Pongs({"before", body, "after"}) : Pongs({"before", "after"});
      EXPECT_EQ(Feed(bytes, chunk), expected);
    }
  }
}

TEST(Assembly, ZeroBytesAreDroppedAndNeverStopLaterLines) {
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"PING :a\0b\r\n"s, Pongs({"ab"})},
      {"\0\0\0PING :x\r\nPING :y\r\n"s, Pongs({"x", "y"})},
      {"abc\0\nPING :y\r\n"s, {"AddText Server|<>abc |0", "SendMsg PONG :y", "AddText Server|Ping!! Pong!!|1"}},
      {std::string(5000, '\0') + "PING :z\r\n", Pongs({"z"})},
      {"PING :" + std::string(1000, 'w') + std::string(100, '\0') + "\r\nPING :v\r\n",
       Pongs({std::string(1000, 'w'), "v"})},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {1u, 3u, 1023u, 8000u}) {
      SCOPED_TRACE(chunk);
      EXPECT_EQ(Feed(c.bytes, chunk), c.calls);
    }
  }
}

TEST(Assembly, ResetDropsPartialAndSkippedLines) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  FeedChunk(engine, "PING :old", 100);
  engine.ResetLineBuffer();
  FeedChunk(engine, "PING :new\r\n", 100);
  FeedChunk(engine, std::string(2000, 'x'), 100);  // an over-long line being skipped
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

  std::vector<std::string> expected = {"AddText Server|<>reenter |0"};
  for (const auto& c : Pongs({"1"})) expected.push_back(c);
  expected.push_back("AddText Server|<>boom |0");
  for (const auto& c : Pongs({"2", "3", "part"})) expected.push_back(c);
  EXPECT_EQ(frame.calls, expected);
}

}  // namespace
