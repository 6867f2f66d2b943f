// Over a million random and damaged lines in random chunks: nothing crashes,
// nothing is sent but what the protocol asks for (PONG, CTCP replies, the
// rejoin after a kick), every line sent is one line, and a well-formed line
// after the garbage is still processed.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "Inbound.h"
#include "Outbound.h"
#include "ProtocolFixtures.h"
#include "SessionData.h"

namespace {

// Checks every call as it happens instead of recording it.
class CheckingFrame : public Frame {
 public:
  std::string lastSent;
  long sends = 0, texts = 0, ops = 0;
  std::string nick = "me";

  void AddText(const std::string& name, const std::string&, bool create) override {
    ++texts;
    if (create && name.empty()) ADD_FAILURE() << "asked to open a window without a name";
  }
  void SendMsg(const std::string& line) override {
    ++sends;
    lastSent = line;
    const std::string out = zorv::SanitizeOutboundLine(line);
    if (out.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
      ADD_FAILURE() << "line break survives sanitising";
    }
    if (!Allowed(out)) ADD_FAILURE() << "unexpected line sent: " << testing::PrintToString(out);
  }
  void SetTopic(const std::string&, const std::string&, bool) override { ++ops; }
  std::string OwnNick() const override { return nick; }
  void SetOwnNick(const std::string& n) override {
    if (n.empty() || n.find(' ') != std::string::npos) ADD_FAILURE() << "bad own nick";
    nick = n;
  }
  void FillNames(const std::string&) override { ++ops; }
  void EndNames(const std::string&) override { ++ops; }
  void AddNick(const std::string&, const std::string&) override { ++ops; }
  void DelNick(const std::string&, const std::string&) override { ++ops; }
  void QuitNick(const std::string&, const std::string&) override { ++ops; }
  void ChangeNick(const std::string&, const std::string& n) override {
    if (n.empty()) ADD_FAILURE() << "rename to an empty nick";
    ++ops;
  }
  void ModeNick(const std::string&, const std::string&, bool) override { ++ops; }
  void ResetNames(const std::string&) override { ++ops; }
  void ChannelListStart() override { ++ops; }
  void AddChannelRow(const std::string&) override { ++ops; }
  void ChannelListEnd() override { ++ops; }
  void Alert() override { ++ops; }
  int TimeOfDayMs() const override { return clock_ = (clock_ + 7) % 86400000; }
  std::string LocalShortDate() const override { return "05.03.2024"; }
  std::string LocalLongTime() const override { return "13:14:15"; }

 private:
  // PONG; a CTCP reply "NOTICE nick :\1KEYWORD ...\1" to one nick; the rejoin
  // "JOIN channel" of one channel.
  static bool Allowed(const std::string& out) {
    if (out.rfind("PONG :", 0) == 0) return true;
    if (out.rfind("JOIN ", 0) == 0) return out.size() > 5 && out.find(' ', 5) == std::string::npos;
    if (out.rfind("NOTICE ", 0) != 0 || out.back() != '\x01') return false;
    const auto colon = out.find(" :\x01", 7);
    if (colon == std::string::npos || colon == 7 || out.find(' ', 7) != colon) return false;
    const std::string body = out.substr(colon + 3);
    for (const char* kw : {"PING ", "TIME ", "VERSION ", "CLIENTINFO "}) {
      if (body.rfind(kw, 0) == 0) return true;
    }
    return false;
  }
  mutable int clock_ = 86300000;  // crosses midnight during the run
};

class Garbage {
 public:
  explicit Garbage(unsigned seed) : rng_(seed) {
    const std::string session = protocoltest::SessionBytes();
    size_t from = 0;
    for (size_t lf; (lf = session.find('\n', from)) != std::string::npos; from = lf + 1) {
      corpus_.push_back(session.substr(from, lf - from));
    }
    const char* extra[] = {
        ":a!b PRIVMSG me :\x01PING \r\x01", ":a!b KICK #c me", ":a!b KICK  me", ":a!b MODE",
        ":a!b MODE #c +oooo", ":a!b NICK", ":a!b JOIN", ":!@ PRIVMSG me :x", ":a!b TOPIC",
        ":s 353", ":s 353 me", ":s 332 me #c", ":s 322", "PING :", "PING", ":a!b NOTICE x :\x01",
        ":a!b PRIVMSG x :\x01\x01\x01", ":me!x KICK \r me :x", ":a!b PRIVMSG me :\x01TIME\x01"};
    for (const char* e : extra) corpus_.emplace_back(e);
  }

  // Appends one line (with its end) to out; returns the number of LFs added.
  int Line(std::string& out) {
    const size_t start = out.size();
    switch (Pick(10)) {
      case 0:
      case 1: RandomBytes(out, Pick(120)); break;
      case 2: RandomBytes(out, Pick(100) < 3 ? 900 + Pick(4000) : Pick(600)); break;
      case 3: Structured(out); break;
      default: Mutated(out); break;
    }
    switch (Pick(8)) {
      case 0: out += '\n'; break;
      case 1: out += '\r'; break;  // lone CR: the line goes on
      case 2: break;               // no end: runs into the next one
      default: out += "\r\n"; break;
    }
    int lfs = 0;
    for (size_t i = start; i < out.size(); ++i) lfs += out[i] == '\n';
    return lfs;
  }

  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

 private:
  char SpecialByte() {
    static const char special[] = {'\0', '\x01', '\r', '\n', ' ', ':', '!', '#', '&', '+', '-', 'o', '\xff'};
    return special[Pick(sizeof special)];
  }
  void RandomBytes(std::string& out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      out += Pick(4) == 0 ? SpecialByte() : static_cast<char>(Pick(256));
    }
  }
  void Structured(std::string& out) {
    static const char* cmds[] = {"PRIVMSG", "NOTICE", "NICK", "PART", "TOPIC", "KICK", "QUIT",
                                 "JOIN", "MODE", "353", "366", "332", "321", "322", "323", "001"};
    if (Pick(3)) out += ':';
    Word(out);
    if (Pick(2)) {
      out += '!';
      Word(out);
    }
    out += ' ';
    out += cmds[Pick(std::size(cmds))];
    for (size_t n = Pick(5); n-- > 0;) {
      out += Pick(3) ? " " : " :";
      if (Pick(3) == 0) out += '\x01';
      Word(out);
    }
  }
  void Word(std::string& out) {
    for (size_t n = Pick(9); n-- > 0;) {
      out += Pick(6) == 0 ? SpecialByte() : static_cast<char>('a' + Pick(26));
    }
    if (Pick(6) == 0) out += "me";
  }
  void Mutated(std::string& out) {
    std::string line = corpus_[Pick(corpus_.size())];
    for (size_t n = 1 + Pick(4); n-- > 0;) {
      const size_t at = line.empty() ? 0 : Pick(line.size() + 1);
      switch (Pick(6)) {
        case 0: line.insert(at, 1, SpecialByte()); break;
        case 1: if (at < line.size()) line[at] = static_cast<char>(Pick(256)); break;
        case 2: line.erase(at, Pick(8)); break;
        case 3: line.resize(at); break;
        case 4: line.insert(at, line.substr(0, at)); break;
        default: line.insert(at, 1, '\x01'); break;
      }
    }
    out += line;
  }

  std::mt19937 rng_;
  std::vector<std::string> corpus_;
};

TEST(HostileInput, MillionLinesInRandomChunks) {
  CheckingFrame frame;
  InboundEngine engine(frame);
  Garbage garbage(20240305);
  const auto started = std::chrono::steady_clock::now();

  long lines = 0;
  int markers = 0;
  std::string bytes;
  while (lines < 1'000'000) {
    bytes.clear();
    for (int i = 0; i < 1000; ++i) lines += garbage.Line(bytes);
    // A well-formed line after the garbage: the LF ends whatever came before.
    const std::string id = "marker-" + std::to_string(++markers);
    bytes += "\nPING :" + id + "\r\n";
    lines += 2;

    std::string_view rest = bytes;
    while (!rest.empty()) {
      const size_t chunk = 1 + garbage.Pick(garbage.Pick(4) == 0 ? 4096 : 200);
      protocoltest::FeedChunk(engine, rest.substr(0, chunk), chunk);
      rest.remove_prefix(std::min(chunk, rest.size()));
    }
    ASSERT_EQ(frame.lastSent, "PONG :" + id) << "the line after garbage block " << markers
                                            << " was not processed";
    ASSERT_EQ(engine.PendingBytes(), 0);
  }
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%ld lines, %ld sends, %ld texts, %ld channel operations in %.1f s\n", lines,
              frame.sends, frame.texts, frame.ops, seconds);
  EXPECT_GE(lines, 1'000'000);
  EXPECT_GT(frame.sends, markers);  // CTCP replies and rejoins were made too
  EXPECT_GT(frame.ops, 0);
}

}  // namespace
