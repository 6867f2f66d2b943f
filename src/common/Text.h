#pragma once
// Conversion between wire bytes and what widgets show. The wire and the engine
// work on bytes (std::string); only widgets see QString.
#include <QString>
#include <string>
#include <string_view>

namespace zorv {

// Bytes shown as UTF-8 when they are valid UTF-8, otherwise as Latin-1.
QString toDisplay(std::string_view bytes);

// What the user typed, as UTF-8 bytes for the wire.
std::string fromInput(const QString& text);

// True when the bytes form valid UTF-8.
bool isValidUtf8(std::string_view bytes);

// Upper-cases the ASCII letters a to z only; every other byte stays.
std::string upperAscii(std::string_view s);

// Equal after upper-casing the ASCII letters a to z.
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace zorv
