#pragma once
// File and folder names for logs. A window or network name comes from the
// network, so it is never used as a path as it stands: every byte that could
// leave the folder, hide the file, name something else or trouble a shell or
// file manager is written as %XX, ASCII letters are lower-cased (names that
// differ only in case are one window), and an overlong name is cut and made
// unique again with a hash of the whole name.
#include <string>
#include <string_view>

namespace zorv {

// The longest file name part made from a name, in bytes.
inline constexpr std::size_t kLogNameLimit = 120;

// A name that is safe as one path component: never empty, never "." or
// "..", no "/", no byte below 32, at most kLogNameLimit bytes.
std::string safeLogName(std::string_view name);

}  // namespace zorv
