#pragma once
// Small rules on byte strings that every part of the program shares: trimming,
// words split at a blank, ASCII letter case, and lines cleaned of line breaks.
// Plain C++ (no Qt), so the protocol engine can use them too.
#include <string>
#include <string_view>

namespace zorv {

// s less the bytes of value 0..32 at either end (bytes >= 128 stay).
std::string_view trimControls(std::string_view s);

// s up to its first blank (the whole of s without one).
std::string_view upToBlank(std::string_view s);

// s after its first blank (empty without one).
std::string_view afterBlank(std::string_view s);

// The ASCII letter a to z in upper case; every other byte stays.
constexpr char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Upper-cases the ASCII letters a to z only; every other byte stays.
std::string upperAscii(std::string_view s);

// Equal after upper-casing the ASCII letters a to z.
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

// The line with every CR, LF and NUL byte removed, so that it can only ever
// be one protocol line (or one line of a window's name).
std::string stripLineBreaks(std::string_view line);

}  // namespace zorv
