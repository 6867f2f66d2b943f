#include "LogNames.h"

#include <cstdint>
#include <cstdio>

namespace zorv {
namespace {

bool keptAsItIs(unsigned char c, bool first) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= '0' && c <= '9') return true;
  switch (c) {
    case '#': case '&': case '+': case '!': case '-': case '_': case '=': case '@':
    case '[': case ']': case '{': case '}': case '^': case ',':
      return true;
    case '.':  // "." and ".." and hidden files
      return !first;
    default:
      return false;
  }
}

std::uint64_t fnv1a(std::string_view s) {
  std::uint64_t h = 14695981039346656037ULL;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

}  // namespace

std::string safeLogName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (keptAsItIs(c, i == 0)) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  if (out.empty()) out = "%00";
  if (out.size() > kLogNameLimit) {
    char tail[18];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(fnv1a(name)));
    std::size_t keep = kLogNameLimit - 17;
    // Never cut inside a %XX.
    if (out[keep - 1] == '%') keep -= 1;
    else if (out[keep - 2] == '%') keep -= 2;
    out = out.substr(0, keep) + tail;
  }
  return out;
}

}  // namespace zorv
