// A whole session fed in every split and in random chunks gives exactly the
// same outputs as fed at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "Inbound.h"
#include "ProtocolFixtures.h"
#include "SessionData.h"

using protocoltest::FeedChunk;
using protocoltest::RecordingFrame;

namespace {

std::vector<std::string> Feed(std::string_view bytes, size_t chunk) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  FeedChunk(engine, bytes, chunk);
  return frame.calls;
}

// The same session gives exactly the same outputs however its bytes arrive.
TEST(Stream, SessionIsIndependentOfHowBytesArrive) {
  const std::string session = protocoltest::SessionBytes();
  const auto whole = Feed(session, session.size());
  ASSERT_GT(whole.size(), 300u);
  auto has = [&](const std::string& piece) {
    return std::any_of(whole.begin(), whole.end(),
                       [&](const std::string& c) { return c.find(piece) != std::string::npos; });
  };
  EXPECT_TRUE(has("SendMsg PONG :" + std::string(1015, 'y')));  // longest line that fits
  EXPECT_FALSE(has("zzz"));                                     // one byte too long
  EXPECT_FALSE(has("xxx"));
  EXPECT_FALSE(has("qqq"));
  EXPECT_FALSE(has("tail of a long run"));
  EXPECT_TRUE(has("SendMsg PONG :nulinside"));
  EXPECT_TRUE(has("SendMsg PONG :lf-only"));
  EXPECT_TRUE(has("SendMsg JOIN #chat"));
  EXPECT_EQ(whole.back(), "AddText Server|Ping!! Pong!!|1");
  EXPECT_EQ(whole[whole.size() - 2], "SendMsg PONG :end");

  // Every split point into two deliveries, compared by a hash of the calls
  // (a difference is then shown in full).
  RecordingFrame reference;
  reference.hashOnly = true;
  {
    InboundEngine engine(reference);
    FeedChunk(engine, session, session.size());
  }
  ASSERT_EQ(reference.count, whole.size());
  for (size_t k = 1; k < session.size(); ++k) {
    RecordingFrame frame;
    frame.hashOnly = true;
    InboundEngine engine(frame);
    FeedChunk(engine, std::string_view(session).substr(0, k), session.size());
    FeedChunk(engine, std::string_view(session).substr(k), session.size());
    if (frame.hash != reference.hash || frame.count != reference.count) {
      RecordingFrame shown;
      InboundEngine again(shown);
      FeedChunk(again, std::string_view(session).substr(0, k), session.size());
      FeedChunk(again, std::string_view(session).substr(k), session.size());
      EXPECT_EQ(shown.calls, whole) << "split at byte " << k;
      break;
    }
  }

  // Random chunkings with fixed seeds.
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> size(1, seed % 2 ? 64 : 3000);
    RecordingFrame frame;
    InboundEngine engine(frame);
    std::string_view rest = session;
    while (!rest.empty()) {
      const size_t n = std::min(rest.size(), size(rng));
      FeedChunk(engine, rest.substr(0, n), size(rng));
      rest.remove_prefix(n);
    }
    EXPECT_EQ(frame.calls, whole) << "seed " << seed;
  }
}

}  // namespace
