// A whole session gives the same outputs however its bytes arrive, and a
// login exchange holds among damaged lines (random lines at length are the
// inbound fuzz target's, its corpus replayed in ctest).
#include <gtest/gtest.h>

#include <random>

#include "Bytes.h"
#include "ProtocolFixtures.h"

using protocoltest::Calls;
using protocoltest::Feed;
using protocoltest::FeedChunk;
using protocoltest::RecordingFrame;

namespace {

TEST(Stream, SessionIsIndependentOfHowBytesArrive) {
  const std::string session = protocoltest::SessionBytes();
  const Calls whole = Feed(session, session.size());
  ASSERT_GT(whole.size(), 300u);
  // The longest line that fits is answered (what each kind of line does is the assembly and dispatch tables').
  EXPECT_NE(std::find(whole.begin(), whole.end(), "SendMsg PONG :" + std::string(1015, 'y')), whole.end());
  EXPECT_EQ(whole.end()[-2], "SendMsg PONG :end");

  // Split into two deliveries: around the line ends of the damaged part of
  // the session (over-long lines, NULs, lone LFs) and of every 16th line before
  // it, around the over-long lines' limits, and at a seeded random sample.
  std::vector<size_t> splits = {1, session.size() - 1};
  const size_t damaged = session.find("PING :xx");
  for (size_t at = session.find('\n'), n = 0; at != std::string::npos; at = session.find('\n', at + 1), ++n)
    if (at > damaged || n % 16 == 0) splits.insert(splits.end(), {at - 1, at, at + 1});
  for (const char* longLine : {"PING :xx", "PING :yy", "PING :zz", "qqq"})
    for (size_t k = session.find(longLine) + 1020; k <= session.find(longLine) + 1026; ++k) splits.push_back(k);
  std::mt19937 pick(7);
  for (int i = 0; i < 200; ++i) splits.push_back(1 + pick() % (session.size() - 1));
  for (size_t k : splits) {
    k = std::min(k, session.size());
    RecordingFrame frame;
    InboundEngine engine(frame);
    FeedChunk(engine, std::string_view(session).substr(0, k), session.size());
    FeedChunk(engine, std::string_view(session).substr(k), session.size());
    ASSERT_EQ(frame.calls, whole) << "split at byte " << k;
  }
  for (unsigned seed = 1; seed <= 40; ++seed) {  // random chunkings
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> size(1, seed % 2 ? 64 : 3000);
    RecordingFrame frame;
    InboundEngine engine(frame);
    for (std::string_view rest = session; !rest.empty();) {
      const size_t n = std::min(rest.size(), size(rng));
      FeedChunk(engine, rest.substr(0, n), size(rng));
      rest.remove_prefix(n);
    }
    EXPECT_EQ(frame.calls, whole) << "seed " << seed;
  }
}

// Damaged session and login lines with random line ends (or none): a login
// exchange must survive among them.
class Garbage {
 public:
  explicit Garbage(unsigned seed) : rng_(seed) {
    const std::string session = protocoltest::SessionBytes();
    for (size_t from = 0, lf; (lf = session.find('\n', from)) != std::string::npos; from = lf + 1)
      corpus_.push_back(session.substr(from, lf - from));
    for (const char* e : {":s CAP * LS :sasl multi-prefix", ":s CAP me LS * :sasl=EXTERNAL", "CAP * LS :sasl=PLAIN",
                          ":s CAP me ACK :sasl", "CAP * ACK sasl", ":s CAP me NAK :sasl", ":s CAP * NEW :sasl",
                          "AUTHENTICATE +", ":s AUTHENTICATE +", "AUTHENTICATE Zm9v", "AUTHENTICATE", ":s 903 me :ok",
                          ":s 904 me :SASL authentication failed", ":s 908 me PLAIN :are available", ":s 906 me :x",
                          ":s 421 me CAP :Unknown command", ":s 433 * me :Nickname is already in use", ":s 001 *"})
      corpus_.emplace_back(e);
  }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  void Line(std::string& out) {
    std::string line = corpus_[Pick(corpus_.size())];
    for (size_t n = 1 + Pick(4); n-- > 0;) {
      const size_t at = Pick(line.size() + 1);
      switch (Pick(4)) {
        case 0: line.insert(at, 1, "\0\x01\r\n :!#&+-o\xff"[Pick(13)]); break;
        case 1: if (at < line.size()) line[at] = static_cast<char>(Pick(256)); break;
        case 2: line.erase(at, Pick(8)); break;
        default: line.resize(at); break;
      }
    }
    const char* ends[] = {"\n", "\r", "", "\r\n", "\r\n"};  // a lone CR or none: the line runs on
    out += line + ends[Pick(std::size(ends))];
  }

 private:
  std::mt19937 rng_;
  Calls corpus_;
};

// With a SASL password configured and registration started over before every
// block, the login exchange is scripted among damaged lines: the password
// leaves only as the one answer after the own "AUTHENTICATE PLAIN" and before
// "CAP END", never in the clear, and never twice on one connection.
TEST(HostileInput, LoginExchangeAmongDamagedLines) {
  RecordingFrame frame;
  frame.login = {"", "zed", "hunter2-secret"};
  const std::string answer = "AUTHENTICATE " + zorv::Base64(std::string("zed\0zed\0hunter2-secret", 22));
  const char* script[] = {":s CAP * LS * :multi-prefix", ":s CAP me LS :sasl=PLAIN,EXTERNAL", ":s CAP me ACK :sasl",
                          "AUTHENTICATE +", ":s 903 me :SASL authentication successful"};
  InboundEngine engine(frame);
  Garbage garbage(20261206);
  int answers = 0;
  for (int block = 1; block <= 300; ++block) {
    engine.Reset();
    engine.Register("me");
    std::string bytes;
    for (int i = 0, next = 0; i < 1000; ++i) {
      // The script in order at random places, and now and then one of its lines again, out of turn.
      if (next < 5 && garbage.Pick(150) == 0) bytes += std::string("\n") + script[next++] + "\r\n";
      if (garbage.Pick(100) == 0) bytes += std::string("\n") + script[1 + garbage.Pick(4)] + "\r\n";
      garbage.Line(bytes);
    }
    FeedChunk(engine, bytes + "\nPING :end\r\n", 1 + garbage.Pick(200));
    ASSERT_TRUE(frame.calls.size() > 1 && frame.calls.end()[-2] == "SendMsg PONG :end")
        << "the line after block " << block << " was lost";
    bool askedPlain = false, answered = false, capEnd = false;
    for (const std::string& c : frame.calls) {
      ASSERT_EQ(c.find("hunter2"), std::string::npos) << c;
      ASSERT_EQ(c.find(zorv::Base64("hunter2-secret")), std::string::npos) << c;
      const std::string out = c.rfind("SendMsg ", 0) == 0 ? c.substr(8) : "";
      ASSERT_TRUE(c.find(answer.substr(13)) == std::string::npos || out == answer) << c;
      ASSERT_TRUE(out != answer || (askedPlain && !answered && !capEnd)) << "block " << block;
      ASSERT_TRUE(out != "CAP END" || !capEnd) << "block " << block;
      answered = answered || out == answer;
      capEnd = capEnd || out == "CAP END";
      askedPlain = askedPlain || out == "AUTHENTICATE PLAIN";
    }
    answers += answered;
    frame.calls.clear();
    frame.ownNick = "me";
  }
  EXPECT_GT(answers, 10);  // the exchange went through in many blocks
}

}  // namespace
