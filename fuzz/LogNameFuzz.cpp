// Log file names over hostile window names: the name is one harmless path
// component, and two names that differ other than in ASCII letter case never
// share a file. The input is split at its first 0xFF byte into two names.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "LogNames.h"

namespace {

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

void checkOne(std::string_view name, const std::string& safe) {
  if (safe.empty() || safe == "." || safe == ".." || safe[0] == '.') fuzz::fail("a name that hides or names a folder", name);
  if (safe.size() > zorv::kLogNameLimit) fuzz::fail("a name over the limit", name);
  for (unsigned char c : safe)
    if (c < 33 || c == '/' || c == '\\' || c >= 127) fuzz::fail("a byte that troubles a path", name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\xff');
  const std::string_view a = input.substr(0, cut);
  const std::string_view b = cut == std::string_view::npos ? std::string_view{} : input.substr(cut + 1);
  const std::string safeA = zorv::safeLogName(a), safeB = zorv::safeLogName(b);
  checkOne(a, safeA);
  checkOne(b, safeB);
  // A window name is never empty; "" and "\0" both give "%00".
  if (!a.empty() && !b.empty() && safeA == safeB && lowerAscii(a) != lowerAscii(b))
    fuzz::fail("two windows share one log", input);
  return 0;
}
