#pragma once
// The nicks the user ignores: their private messages, notices and CTCP are
// dropped without a window or an answer, and their lines in channels are not
// shown. A nick is matched ignoring ASCII letter case, from any user@host.
// Kept in the settings file as one value, the nicks separated by blanks.
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

class IgnoreList {
 public:
  bool Contains(std::string_view nick) const;
  // The /ignore command: "nick ..." ignores, "-nick ..." stops ignoring, ""
  // lists. Returns the lines to write in the window the user typed it in.
  std::vector<std::string> Command(std::string_view args);

  // The list as the settings file keeps it, and read back from it (words
  // that cannot be nicks are left out).
  std::string Joined() const;
  void SetJoined(std::string_view text);
  const std::vector<std::string>& Nicks() const { return nicks_; }

 private:
  bool Add(std::string_view nick);
  bool Remove(std::string_view nick);

  std::vector<std::string> nicks_;
};

}  // namespace zorv
