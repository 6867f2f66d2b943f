#pragma once
// Conversion between wire bytes and what widgets show. The wire and the engine
// work on bytes (std::string); only widgets see QString.
#include <QString>
#include <string>
#include <string_view>

#include "Bytes.h"

namespace zorv {

// Bytes shown as UTF-8 when they are valid UTF-8, otherwise as Latin-1.
QString toDisplay(std::string_view bytes);

// What the user typed, as UTF-8 bytes for the wire.
std::string fromInput(const QString& text);

// True when the bytes form valid UTF-8.
bool isValidUtf8(std::string_view bytes);

// The same rules for texts that are already QString (names of controls,
// properties and profile keys): less the characters 0..32 at either end,
// the ASCII letters a to z upper-cased, equal ignoring their case.
QString trimmedText(QStringView s);
QString upperAsciiText(QString s);
bool sameTextAscii(QStringView a, QStringView b);

}  // namespace zorv
