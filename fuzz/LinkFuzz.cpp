// irc:// and ircs:// links over hostile text: a link that is accepted names a
// host, a port from 1 to 65535 and channels that can go into a protocol line
// as they are (no control byte, blank, comma or colon in a name).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "IrcLink.h"

namespace {

bool safeWord(std::string_view s, std::string_view forbidden) {
  for (unsigned char c : s)
    if (c < 33 || c == 127 || forbidden.find(static_cast<char>(c)) != std::string_view::npos) return false;
  return !s.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const IrcLinkParse p = zorv::ParseIrcLink(url);
  if (!p.ok) {
    if (p.error.empty()) fuzz::fail("a refused link without a reason", url);
    return 0;
  }
  if (!zorv::LooksLikeIrcLink(url)) fuzz::fail("accepted what does not look like a link", url);
  if (!safeWord(p.link.host, "/")) fuzz::fail("a host that cannot be used", p.link.host);
  if (!safeWord(p.link.port, "") || p.link.port.size() > 5 ||
      p.link.port.find_first_not_of("0123456789") != std::string::npos)
    fuzz::fail("a port that is not a number", p.link.port);
  const long port = std::stol(p.link.port);
  if (port < 1 || port > 65535) fuzz::fail("a port out of range", p.link.port);
  for (const std::string& c : p.link.channels)
    if (!safeWord(c, ",:")) fuzz::fail("a channel that cannot be joined as it is", c);
  return 0;
}
