#pragma once
// The names of the windows that are not a channel or a person.

namespace zorv {

// The window of the server's own lines, open from the first connection on.
inline constexpr char kServerWindow[] = "Server";

// Not a window of its own: a line for it goes to the active conversation
// window (to the Server window when none is open).
inline constexpr char kCurrentWindow[] = "CURRENTMDICHILDWINDOW";

}  // namespace zorv
