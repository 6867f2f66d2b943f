#include "Names.h"

namespace zorv {

std::string LeftStr(std::string_view s) {
  const auto blank = s.find(' ');
  if (blank != std::string_view::npos) s = s.substr(0, blank);
  if (!s.empty() && s.front() == '*') s.remove_prefix(1);
  return std::string(s);
}

bool isChannelName(std::string_view name) {
  return !name.empty() && (name.front() == '#' || name.front() == '&');
}

}  // namespace zorv
