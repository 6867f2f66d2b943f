#include "Names.h"

#include "Bytes.h"

namespace zorv {

std::string LeftStr(std::string_view s) {
  s = upToBlank(s);
  if (!s.empty() && s.front() == '*') s.remove_prefix(1);
  return std::string(s);
}

bool isChannelName(std::string_view name) {
  return !name.empty() && (name.front() == '#' || name.front() == '&');
}

}  // namespace zorv
