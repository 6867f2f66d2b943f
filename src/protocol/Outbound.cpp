#include "Outbound.h"

namespace zorv {

std::string SanitizeOutboundLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (const char c : line) {
    if (c != '\r' && c != '\n' && c != '\0') out.push_back(c);
  }
  return out;
}

}  // namespace zorv
