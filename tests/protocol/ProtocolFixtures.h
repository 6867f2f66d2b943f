#pragma once
// A Frame that records every call as one line of text, a feeder that hands the
// engine its bytes in chunks, and a recorded-style server session.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "Frame.h"
#include "Inbound.h"

namespace protocoltest {

using Calls = std::vector<std::string>;

class RecordingFrame : public Frame {
 public:
  Calls calls;
  std::string ownNick = "me";
  int nowMs = 0, nowStepMs = 0;  // the clock moves by nowStepMs after every reading
  zorv::SaslConfig login;        // what Sasl() answers
  std::vector<std::string> open;  // the open windows
  std::string active;             // the active window
  LastCommand typed;              // where and when the user last typed a command

  using S = const std::string&;
  void AddText(S n, S t, bool c) override { Rec({"AddText ", n, "|", t, c ? "|1" : "|0"}); }
  void SendMsg(S line) override { Rec({"SendMsg ", line}); }
  void SetTopic(S n, S t, bool w) override { Rec({"SetTopic ", n, "|", t, w ? "|1" : "|0"}); }
  std::string OwnNick() const override { return ownNick; }
  void SetOwnNick(S nick) override { ownNick = nick, Rec({"SetOwnNick ", nick}); }
  void FillNames(S p) override { Rec({"FillNames ", p}); }
  void EndNames(S p) override { Rec({"EndNames ", p}); }
  void AddNick(S c, S n) override { Rec({"AddNick ", c, "|", n}); }
  void DelNick(S c, S n) override { Rec({"DelNick ", c, "|", n}); }
  void QuitNick(S n, S t) override { Rec({"QuitNick ", n, "|", t}); }
  void ChangeNick(S o, S n) override { Rec({"ChangeNick ", o, "|", n}); }
  void ModeNick(S c, S n, bool g) override { Rec({"ModeNick ", c, "|", n, g ? "|1" : "|0"}); }
  void ResetNames(S c) override { Rec({"ResetNames ", c}); }
  void ChannelListStart() override { Rec({"ChannelListStart"}); }
  void AddChannelRow(S p) override { Rec({"AddChannelRow ", p}); }
  void ChannelListEnd() override { Rec({"ChannelListEnd"}); }
  void Alert() override { Rec({"Alert"}); }
  zorv::SaslConfig Sasl() const override { return login; }
  bool HasWindow(S name) const override { return std::find(open.begin(), open.end(), name) != open.end(); }
  std::string ActiveWindow() const override { return active; }
  LastCommand LastCommandTyped() const override { return typed; }
  int TimeOfDayMs() const override {
    const int t = nowMs;
    const_cast<RecordingFrame*>(this)->nowMs = (nowMs + nowStepMs) % 86400000;
    return t;
  }
  std::string LocalShortDate() const override { return "05.03.2024"; }
  std::string LocalLongTime() const override { return "13:14:15"; }

 private:
  void Rec(std::initializer_list<std::string_view> parts) {
    std::string& call = calls.emplace_back();
    for (const auto part : parts) call.append(part);
  }
};

// Feeds bytes through DataAvailable, offering at most `chunk` bytes per event
// (as a socket that has only that much waiting would), until all are taken.
inline void FeedChunk(InboundEngine& engine, std::string_view bytes, size_t chunk) {
  while (!bytes.empty()) {
    engine.DataAvailable([&](char* buf, int room) {
      if (room <= 0) {  // the read loop would spin
        ADD_FAILURE() << "receive offered no room";
        bytes = {};
        return 0;
      }
      const size_t n = std::min({bytes.size(), chunk, static_cast<size_t>(room)});
      std::copy_n(bytes.data(), n, buf);
      bytes.remove_prefix(n);
      return static_cast<int>(n);
    });
  }
}

inline Calls Feed(std::string_view bytes, size_t chunk) {
  RecordingFrame frame;
  InboundEngine engine(frame);
  FeedChunk(engine, bytes, chunk);
  return frame.calls;
}

// A session as a server sends it: registration, a channel with names and
// topic, chat, actions, private messages, CTCP, notices, joins, parts, modes,
// kicks (also of the own nick), quits, nick changes, a channel list,
// keep-alives, and damaged lines (over-long, NUL bytes, LF without CR).
inline std::string SessionBytes() {
  std::string s;
  auto line = [&](const std::string& l) { s += l + "\r\n"; };
  auto nick = [](int i) { return "user" + std::to_string(i % 40); };
  const std::string srv = ":irc.example.net ";
  line("NOTICE AUTH :*** Looking up your hostname...");
  for (int i = 1; i <= 5; ++i) line(srv + "00" + std::to_string(i) + " me :Welcome text number " + std::to_string(i));
  line(":me MODE me :+i");
  line(":me!~me@127.0.0.1 JOIN :#chat");
  for (int b = 0; b < 2; ++b) {
    std::string names;
    for (int i = 0; i < 20; ++i) names += (i % 7 == 0 ? "@" : "") + nick(b * 20 + i) + " ";
    line(srv + "353 me = #chat :" + names + (b == 1 ? "me" : ""));
  }
  line(srv + "366 me #chat :End of NAMES list");
  line(srv + "332 me #chat :Welcome to #chat, be nice");
  // One event kind per step; $n is a member's nick, $m the next one, $i the step.
  const char* kinds[] = {"$n!~u@10.0.0.1 PRIVMSG #chat :message $i with some ordinary words",
                         "$n!~u@h PRIVMSG #chat :\x01"
                         "ACTION looks around $i\x01",
                         "$n!~u@h PRIVMSG me :private word $i",
                         "$n!~u@h PRIVMSG me :\x01PING 1$i\x01",
                         "$n!~u@h PRIVMSG #chat :\x01VERSION\x01",
                         "$n!~u@h NOTICE me :\x01PING $i997\x01",
                         "$n!~u@h NOTICE #chat :notice number $i",
                         "new$i!x@h JOIN :#chat",
                         "$n!~u@h PART #chat",
                         "alice!a@h MODE #chat +o-v+b $n $m *!*@bad",
                         "alice!a@h KICK #chat $n :behave",
                         "$n!~u@h QUIT :Quit: bye $i",
                         "$n!~u@h NICK :$n_",
                         "alice!a@h TOPIC #chat :topic number $i",
                         "$n!~u@h PRIVMSG #chat :\x01TIME\x01",
                         "$n!~u@h INVITE me :#other"};
  for (int i = 0; i < 240; ++i) {
    std::string l = std::string(":") + kinds[i % 2 ? 0 : 1 + i / 2 % 15];
    for (size_t at; (at = l.find('$')) != std::string::npos;) {
      const char k = l[at + 1];
      l.replace(at, 2, k == 'n' ? nick(i) : k == 'm' ? nick(i + 1) : std::to_string(i));
    }
    line(i % 20 == 19 ? "PING :irc.example.net" : l);
  }
  s += "PING :" + std::string(1100, 'x') + "\r\n";  // too long: dropped whole
  s += "PING :" + std::string(1015, 'y') + "\r\n";  // 1022 bytes before the LF: fits exactly
  s += "PING :" + std::string(1016, 'z') + "\r\n";  // one byte too many: dropped
  s += std::string(2100, 'q') + " tail of a long run\r\n";
  s += std::string("PING :nul\0inside\r\n", 18) + std::string(40, '\0') + "PING :lf-only\n\r\n\n   \r\n";
  line(":alice!a@h KICK #chat me :out");
  line(srv + "353 me = #chat :@alice me bob");
  line(srv + "321 me Channel :Users Name");
  for (int i = 0; i < 30; ++i) line(srv + "322 me #room" + std::to_string(i) + " 3 :room " + std::to_string(i));
  line(srv + "323 me :End of LIST");
  line(":me!~me@127.0.0.1 NICK :me2");
  line(":me2!~me@127.0.0.1 PRIVMSG #chat :done");
  line("PING :end");
  return s;
}

}  // namespace protocoltest
