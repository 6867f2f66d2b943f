#pragma once
// Rules for lines that leave the program.
#include <string>
#include <string_view>

#include "Bytes.h"

namespace zorv {

// The line with every CR, LF and NUL byte removed, so that whatever it echoes
// (a nick, a CTCP argument, a channel name from the network) it goes out as
// exactly one protocol line. SendMsg applies it before appending CR LF.
inline std::string SanitizeOutboundLine(std::string_view line) { return stripLineBreaks(line); }

}  // namespace zorv
