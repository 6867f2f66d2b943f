#pragma once
// A Frame for the fuzz targets: it records every call as one line of text and
// aborts on anything the network must never be able to cause: a line the user
// did not ask for (only the keep-alive
// answer, CTCP replies, the rejoin after a kick and a nick retry during
// registration may be sent on the network's behalf), or a window opened
// without a name.
#include <string>
#include <string_view>
#include <vector>

#include "Frame.h"
#include "FuzzCheck.h"

namespace fuzz {

inline bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

class CheckingFrame : public Frame {
 public:
  std::vector<std::string> calls;
  std::string ownNick = "me";

  using S = const std::string&;
  void AddText(S n, S t, bool c) override {
    if (c && n.empty()) fail("window opened without a name", t);
    rec("AddText", n, t, c);
  }
  void SendMsg(S raw) override {
    // The main window's SendMsg takes CR, LF and NUL out of every line; what
    // is left must be one of the lines the network may cause.
    std::string line;
    for (char c : raw)
      if (c != '\r' && c != '\n' && c != '\0') line.push_back(c);
    if (!startsWith(line, "PONG ") && !startsWith(line, "NOTICE ") && !startsWith(line, "JOIN ") &&
        !startsWith(line, "NICK "))
      fail("a line nobody asked for", line);
    rec("SendMsg", line);
  }
  void SetTopic(S n, S t, bool w) override { rec("SetTopic", n, t, w); }
  std::string OwnNick() const override { return ownNick; }
  void SetOwnNick(S nick) override {
    ownNick = nick;
    rec("SetOwnNick", nick);
  }
  void FillNames(S p) override { rec("FillNames", p); }
  void EndNames(S p) override { rec("EndNames", p); }
  void AddNick(S c, S n) override { rec("AddNick", c, n); }
  void DelNick(S c, S n) override { rec("DelNick", c, n); }
  void QuitNick(S n, S t) override { rec("QuitNick", n, t); }
  void ChangeNick(S o, S n) override { rec("ChangeNick", o, n); }
  void ModeNick(S c, S n, bool g) override { rec("ModeNick", c, n, g); }
  void ResetNames(S c) override { rec("ResetNames", c); }
  void ChannelListStart() override { rec("ChannelListStart"); }
  void AddChannelRow(S p) override { rec("AddChannelRow", p); }
  void ChannelListEnd() override { rec("ChannelListEnd"); }
  void Registered() override { rec("Registered"); }
  void Alert() override { rec("Alert"); }
  int TimeOfDayMs() const override { return 43200000; }
  std::string LocalShortDate() const override { return "06.12.2026"; }
  std::string LocalLongTime() const override { return "12:00:00"; }

 private:
  void rec(std::string_view what, std::string_view a = {}, std::string_view b = {}, bool flag = false) {
    std::string& call = calls.emplace_back(what);
    call.append("|").append(a).append("|").append(b).append(flag ? "|1" : "|0");
  }
};

}  // namespace fuzz
