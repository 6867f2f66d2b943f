// The long runs: a whole session gives the same outputs however its bytes
// arrive, and over a million random and damaged lines crash nothing, send
// nothing but what the protocol asks for, and never stop a later good line.
#include <gtest/gtest.h>

#include <cstring>
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
  auto has = [&](const std::string& piece) {
    return std::any_of(whole.begin(), whole.end(), [&](auto& c) { return c.find(piece) != std::string::npos; });
  };
  EXPECT_TRUE(has("SendMsg PONG :" + std::string(1015, 'y')));  // the longest line that fits
  for (const char* dropped : {"zzz", "xxx", "qqq", "tail of a long run"}) EXPECT_FALSE(has(dropped)) << dropped;
  for (const char* kept : {"SendMsg PONG :nulinside", "SendMsg PONG :lf-only", "SendMsg JOIN #chat", "SendMsg NOTICE"})
    EXPECT_TRUE(has(kept)) << kept;
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

// Random bytes and damaged session lines, with random line ends (or none).
class Garbage {
 public:
  // login: the lines of a login exchange join the damaged ones.
  explicit Garbage(unsigned seed, bool login = false) : rng_(seed) {
    const std::string session = protocoltest::SessionBytes();
    for (size_t from = 0, lf; (lf = session.find('\n', from)) != std::string::npos; from = lf + 1)
      corpus_.push_back(session.substr(from, lf - from));
    for (const char* e : {":a!b PRIVMSG me :\x01PING \r\x01", ":a!b KICK #c me", ":a!b MODE #c +oooo", ":a!b NICK",
                          ":!@ PRIVMSG me :x", ":s 353 me", ":s 332 me #c", "PING :", ":me!x KICK \r me :x",
                          ":a!b NOTICE x :\x01", ":a!b TOPIC", ":a!b PRIVMSG x :\x01\x01\x01", ":s 322", "PING",
                          ":s 433 * me :Nickname is already in use", ":s 433 me", ":s 001 zed :Welcome",
                          ":s 375 Zed :- motd", ":s 001 *"})
      corpus_.emplace_back(e);
    if (!login) return;
    for (const char* e : {":s CAP * LS :sasl multi-prefix", ":s CAP me LS * :sasl=EXTERNAL", "CAP * LS :sasl=PLAIN",
                          ":s CAP me ACK :sasl", "CAP * ACK sasl", ":s CAP me NAK :sasl", ":s CAP * NEW :sasl",
                          "AUTHENTICATE +", ":s AUTHENTICATE +", "AUTHENTICATE Zm9v", "AUTHENTICATE", ":s 903 me :ok",
                          ":s 904 me :SASL authentication failed", ":s 908 me PLAIN :are available", ":s 906 me :x",
                          ":s 421 me CAP :Unknown command", ":s 421 me AUTHENTICATE :Unknown command"})
      corpus_.emplace_back(e);
  }
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

  void Line(std::string& out) {
    if (Pick(10) < 3) {  // random bytes, now and then a run longer than a line may be
      for (size_t n = Pick(40) ? Pick(200) : 900 + Pick(4000); n-- > 0;)
        out += Pick(4) ? static_cast<char>(Pick(256)) : Special();
    } else {  // a session line damaged in a few places
      std::string line = corpus_[Pick(corpus_.size())];
      for (size_t n = 1 + Pick(4); n-- > 0;) {
        const size_t at = Pick(line.size() + 1);
        switch (Pick(5)) {
          case 0: line.insert(at, 1, Special()); break;
          case 1: if (at < line.size()) line[at] = static_cast<char>(Pick(256)); break;
          case 2: line.erase(at, Pick(8)); break;
          case 3: line.resize(at); break;
          default: line.insert(at, line.substr(0, at)); break;
        }
      }
      out += line;
    }
    const char* ends[] = {"\n", "\r", "", "\r\n", "\r\n"};  // a lone CR or none: the line runs on
    out += ends[Pick(std::size(ends))];
  }

 private:
  char Special() { return "\0\x01\r\n :!#&+-o\xff"[Pick(13)]; }
  std::mt19937 rng_;
  Calls corpus_;
};

// What may be sent: PONG; a CTCP reply "NOTICE nick :\1KEYWORD ...\1" to one
// nick; the rejoin "JOIN channel" of one channel; "NICK nick_" while registering.
bool Allowed(const std::string& out) {
  if (out.rfind("PONG :", 0) == 0) return true;
  if (out.rfind("NICK ", 0) == 0) return out.size() > 6 && out.back() == '_' && out.find(' ', 5) == std::string::npos;
  if (out.rfind("JOIN ", 0) == 0) return out.size() > 5 && out.find(' ', 5) == std::string::npos;
  if (out.rfind("NOTICE ", 0) != 0 || out.back() != '\x01') return false;
  const auto colon = out.find(" :\x01", 7);
  if (colon == std::string::npos || colon == 7 || out.find(' ', 7) != colon) return false;
  for (const char* kw : {"PING ", "TIME ", "VERSION ", "CLIENTINFO "})
    if (out.compare(colon + 3, std::strlen(kw), kw) == 0) return true;
  return false;
}

// Ends the damaged bytes with a marker line (the LF ends whatever came before)
// and feeds them in random chunks of up to maxChunk bytes; returns what was
// sent, and fails when the marker line was not the last thing answered.
Calls FeedBlock(InboundEngine& engine, RecordingFrame& frame, Garbage& garbage, std::string bytes, int block,
                bool bigChunks) {
  const std::string id = "marker-" + std::to_string(block);
  bytes += "\nPING :" + id + "\r\n";
  for (std::string_view rest = bytes; !rest.empty();) {
    const size_t chunk = 1 + garbage.Pick(bigChunks && garbage.Pick(4) == 0 ? 4096 : 200);
    FeedChunk(engine, rest.substr(0, chunk), chunk);
    rest.remove_prefix(std::min(chunk, rest.size()));
  }
  Calls sent;
  for (const std::string& c : frame.calls)
    if (c.rfind("SendMsg ", 0) == 0) sent.push_back(zorv::stripLineBreaks(c.substr(8)));
  EXPECT_TRUE(!sent.empty() && sent.back() == "PONG :" + id) << "the line after block " << block << " was lost";
  EXPECT_EQ(engine.PendingBytes(), 0);
  return sent;
}

TEST(HostileInput, MillionLinesInRandomChunks) {
  struct : RecordingFrame {
    void AddText(const std::string& name, const std::string& text, bool create) override {
      if (create && name.empty()) ADD_FAILURE() << "a window without a name opened: " << testing::PrintToString(text);
      RecordingFrame::AddText(name, text, create);
    }
  } frame;
  frame.nowMs = 86300000;  // crosses midnight during the run
  frame.nowStepMs = 7;
  InboundEngine engine(frame);
  Garbage garbage(20240305);
  long lines = 0, sends = 0, ops = 0, nickRetries = 0;
  int block = 0;
  while (lines < 1'000'000) {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) garbage.Line(bytes);
    lines += std::count(bytes.begin(), bytes.end(), '\n') + 2;
    if (++block % 2) engine.Reset();  // registration starts over now and then
    for (const std::string& out : FeedBlock(engine, frame, garbage, bytes, block, true)) {
      ++sends;
      ASSERT_EQ(out.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
      ASSERT_TRUE(Allowed(out)) << testing::PrintToString(out);
      nickRetries += out.rfind("NICK ", 0) == 0;
    }
    for (const std::string& c : frame.calls) {
      ops += c.rfind("SendMsg ", 0) != 0 && c.rfind("AddText ", 0) != 0;
      ASSERT_TRUE(c.rfind("SetOwnNick ", 0) != 0 || (c.size() > 11 && c.find(' ', 11) == std::string::npos)) << c;
    }
    frame.calls.clear();
    frame.ownNick = "me";  // so that lines to "me" keep reaching the own-nick paths
  }
  EXPECT_GT(sends, block);    // CTCP replies and rejoins were made too
  EXPECT_GT(nickRetries, 0);  // and nicks in use were retried
  EXPECT_GT(ops, 0);
}

// With a SASL password configured, registration starts over before every
// block, the login exchange is scripted among the damaged lines (some of
// which are damaged CAP and AUTHENTICATE lines): the password leaves only as
// the one answer after the own "AUTHENTICATE PLAIN", never in the clear, and
// never twice on one connection.
TEST(HostileInput, LoginExchangeAmongDamagedLines) {
  RecordingFrame frame;
  frame.login = {"", "zed", "hunter2-secret"};
  const std::string answer = "AUTHENTICATE " + zorv::Base64(std::string("zed\0zed\0hunter2-secret", 22));
  const std::string encodedAlone = zorv::Base64("hunter2-secret");
  const char* script[] = {":s CAP * LS * :multi-prefix", ":s CAP me LS :sasl=PLAIN,EXTERNAL", ":s CAP me ACK :sasl",
                          "AUTHENTICATE +", ":s 903 me :SASL authentication successful"};
  InboundEngine engine(frame);
  Garbage garbage(20261206, true);
  long answers = 0, ended = 0;
  for (int block = 1; block <= 300; ++block) {
    engine.Reset();
    engine.Register("me");
    std::string bytes;
    for (int i = 0, next = 0; i < 1000; ++i) {
      // The script in order, its lines at random places among the garbage,
      // and now and then one of its lines again, whole, out of turn.
      if (next < 5 && garbage.Pick(150) == 0) bytes += std::string("\n") + script[next++] + "\r\n";
      if (garbage.Pick(100) == 0) bytes += std::string("\n") + script[1 + garbage.Pick(4)] + "\r\n";
      garbage.Line(bytes);
    }
    const Calls sent = FeedBlock(engine, frame, garbage, bytes, block, false);
    for (const std::string& c : frame.calls) {
      ASSERT_EQ(c.find("hunter2"), std::string::npos) << c;
      ASSERT_EQ(c.find(encodedAlone), std::string::npos) << c;
      ASSERT_TRUE(c.find(answer.substr(13)) == std::string::npos || c == "SendMsg " + answer) << c;
    }
    bool askedPlain = false, answered = false, capEnd = false;
    for (const std::string& out : sent) {
      ASSERT_TRUE(out != answer || (askedPlain && !answered && !capEnd)) << "block " << block;
      ASSERT_TRUE(out != "CAP END" || !capEnd) << "block " << block;
      answered = answered || out == answer;
      capEnd = capEnd || out == "CAP END";
      askedPlain = askedPlain || out == "AUTHENTICATE PLAIN";
      const bool opening = out == "CAP LS 302" || out == "NICK me" || out == "USER me * * :me";
      const bool exchange = out == "CAP REQ :sasl" || out == "CAP END" || out == "AUTHENTICATE PLAIN" ||
                            out == "AUTHENTICATE *" || out == answer;
      ASSERT_TRUE(opening || exchange || Allowed(out)) << testing::PrintToString(out);
    }
    answers += answered;
    ended += capEnd;
    frame.calls.clear();
    frame.ownNick = "me";
  }
  EXPECT_GT(answers, 10);  // the exchange went through in many blocks
  EXPECT_GT(ended, 100);
}

}  // namespace
