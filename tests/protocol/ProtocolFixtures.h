#pragma once
// A Frame that records every call as one line of text, for comparing what
// the engine did with what it should have done.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "Frame.h"
#include "Inbound.h"

namespace protocoltest {

class RecordingFrame : public Frame {
 public:
  std::vector<std::string> calls;
  std::string ownNick = "me";
  int nowMs = 0;
  int nowStepMs = 0;  // added to nowMs after every clock reading

  // With hashOnly set, calls are folded into hash and count instead of being
  // kept (for runs that compare thousands of sessions).
  bool hashOnly = false;
  std::uint64_t hash = 14695981039346656037ull;
  std::size_t count = 0;

  void AddText(const std::string& name, const std::string& text, bool create) override {
    Rec({"AddText ", name, "|", text, "|", create ? "1" : "0"});
  }
  void SendMsg(const std::string& line) override { Rec({"SendMsg ", line}); }
  void SetTopic(const std::string& name, const std::string& text, bool whole) override {
    Rec({"SetTopic ", name, "|", text, "|", whole ? "1" : "0"});
  }
  std::string OwnNick() const override { return ownNick; }
  void SetOwnNick(const std::string& nick) override {
    ownNick = nick;
    Rec({"SetOwnNick ", nick});
  }
  void FillNames(const std::string& p) override { Rec({"FillNames ", p}); }
  void EndNames(const std::string& p) override { Rec({"EndNames ", p}); }
  void AddNick(const std::string& c, const std::string& n) override { Rec({"AddNick ", c, "|", n}); }
  void DelNick(const std::string& c, const std::string& n) override { Rec({"DelNick ", c, "|", n}); }
  void QuitNick(const std::string& n, const std::string& t) override { Rec({"QuitNick ", n, "|", t}); }
  void ChangeNick(const std::string& o, const std::string& n) override {
    Rec({"ChangeNick ", o, "|", n});
  }
  void ModeNick(const std::string& c, const std::string& n, bool give) override {
    Rec({"ModeNick ", c, "|", n, "|", give ? "1" : "0"});
  }
  void ResetNames(const std::string& c) override { Rec({"ResetNames ", c}); }
  void ChannelListStart() override { Rec({"ChannelListStart"}); }
  void AddChannelRow(const std::string& p) override { Rec({"AddChannelRow ", p}); }
  void ChannelListEnd() override { Rec({"ChannelListEnd"}); }
  void Alert() override { Rec({"Alert"}); }
  int TimeOfDayMs() const override {
    const int t = nowMs;
    const_cast<RecordingFrame*>(this)->nowMs = (nowMs + nowStepMs) % 86400000;
    return t;
  }
  std::string LocalShortDate() const override { return "05.03.2024"; }
  std::string LocalLongTime() const override { return "13:14:15"; }

 private:
  void Rec(std::initializer_list<std::string_view> parts) {
    ++count;
    if (hashOnly) {
      for (const auto part : parts) {
        for (const char c : part) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
      }
      hash = (hash ^ 0x100) * 1099511628211ull;  // end of call
      return;
    }
    std::string call;
    for (const auto part : parts) call.append(part);
    calls.push_back(std::move(call));
  }
};

// Feeds bytes through DataAvailable, offering at most `chunk` bytes per event
// (as a socket that has only that much waiting would), until all are taken.
// Returns the number of events used.
inline int FeedChunk(InboundEngine& engine, std::string_view bytes, size_t chunk) {
  int events = 0;
  while (!bytes.empty()) {
    ++events;
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
  return events;
}

}  // namespace protocoltest
