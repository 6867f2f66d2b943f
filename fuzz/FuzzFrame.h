#pragma once
// A Frame for the fuzz targets: it records every call as one line of text and
// aborts on anything the network must never be able to cause: a line the user
// did not ask for (only the keep-alive
// answer, CTCP replies, the rejoin after a kick, a nick retry during
// registration and the steps of the login exchange may be sent on the
// network's behalf), a window opened without a name, or the login password
// anywhere but in the one answer after the own "AUTHENTICATE PLAIN".
#include <string>
#include <string_view>
#include <vector>

#include "Frame.h"
#include "FuzzCheck.h"
#include "Sasl.h"

namespace fuzz {

inline bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

class CheckingFrame : public Frame {
 public:
  std::vector<std::string> calls;
  std::string ownNick = "me";
  // While true, the lines that open the registration are sent (the user's
  // Connect, not the network).
  bool opening = false;
  // Set by a target that opened the registration with the password, unless
  // the network itself sent the password or its encoding (showing it is then
  // no leak; see NetworkHoldsSecret).
  bool checkSecret = false;

  static constexpr char kPassword[] = "fuzz-secret";
  const std::string answer = "AUTHENTICATE " + zorv::Base64(std::string_view("me\0me\0fuzz-secret", 17));

  using S = const std::string&;
  void AddText(S n, S t, bool c) override {
    if (c && n.empty()) fail("window opened without a name", t);
    secretNotIn(t);
    rec("AddText", n, t, c);
  }
  void SendMsg(S raw) override {
    // The main window's SendMsg takes CR, LF and NUL out of every line; what
    // is left must be one of the lines the network may cause.
    std::string line;
    for (char c : raw)
      if (c != '\r' && c != '\n' && c != '\0') line.push_back(c);
    if (line == answer) {
      if (!askedPlain_ || answered_) fail("the password sent out of turn", line);
      answered_ = true;
    } else {
      secretNotIn(line);
      askedPlain_ = askedPlain_ || line == "AUTHENTICATE PLAIN";
      if (!opening && !startsWith(line, "PONG ") && !startsWith(line, "NOTICE ") && !startsWith(line, "JOIN ") &&
          !startsWith(line, "NICK ") && !startsWith(line, "CAP ") && !startsWith(line, "AUTHENTICATE "))
        fail("a line nobody asked for", line);
    }
    rec("SendMsg", line);
  }
  // Whether the registration asks for the capabilities too.
  bool capabilities = false;
  zorv::SaslConfig Sasl() const override { return {"", "", kPassword, capabilities}; }

  // Whether the bytes could bring the password or its encoding into a shown
  // text: they hold it once every byte outside the letters, digits and
  // "+/=-" is taken out (bytes that the engine drops or joins across).
  bool NetworkHoldsSecret(std::string_view bytes) const {
    std::string kept;
    for (char c : bytes)
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
          c == '=' || c == '-')
        kept.push_back(c);
    return kept.find(kPassword) != std::string::npos || kept.find(answer.substr(13)) != std::string::npos;
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
  void secretNotIn(std::string_view text) const {
    if (!checkSecret) return;
    if (text.find(kPassword) != std::string_view::npos ||
        text.find(std::string_view(answer).substr(13)) != std::string_view::npos)
      fail("the password outside its answer", text);
  }

  bool askedPlain_ = false;
  bool answered_ = false;

  void rec(std::string_view what, std::string_view a = {}, std::string_view b = {}, bool flag = false) {
    std::string& call = calls.emplace_back(what);
    call.append("|").append(a).append("|").append(b).append(flag ? "|1" : "|0");
  }
};

}  // namespace fuzz
