#include "Bytes.h"

namespace zorv {

std::string_view trimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string_view upToBlank(std::string_view s) {
  const auto blank = s.find(' ');
  return blank == std::string_view::npos ? s : s.substr(0, blank);
}

std::string_view afterBlank(std::string_view s) {
  const auto blank = s.find(' ');
  return blank == std::string_view::npos ? std::string_view() : s.substr(blank + 1);
}

std::string upperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upperAscii(c);
  return out;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (upperAscii(a[i]) != upperAscii(b[i])) return false;
  }
  return true;
}

std::string stripLineBreaks(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (const char c : line) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

}  // namespace zorv
