#pragma once
// Text as people send it on IRC: formatting codes inside a line (bold,
// colours, italic, underline, strike-through, monospace, reverse, reset),
// links and channel names in the text, and mentions of a nick. Plain C++ over
// bytes: a line is parsed into its visible text and runs of one style each;
// the same parser strips the codes for captions, tabs and lists.
//
//   0x02 bold   0x1D italic   0x1F underline   0x1E strike   0x11 monospace
//   0x16 reverse (swap colours)   0x0F reset everything
//   0x03[fg[,bg]]   fg and bg one or two decimal digits: 0-15 the standard
//                   colours, 16-98 the extended table, 99 the default;
//                   0x03 without digits resets both colours
//   0x04[RRGGBB[,RRGGBB]]   the same with hexadecimal colours
// A code that is cut short (a comma without digits, fewer than six hex
// digits) takes what it has and leaves the rest as text; no input can make
// the parser fail.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorv::fmt {

// The background of the chat panes and lists (silver), 0xRRGGBB.
inline constexpr std::uint32_t kChatBackground = 0xC0C0C0;

struct Color {
  enum Kind : std::uint8_t { Default, Palette, Rgb };
  Kind kind = Default;
  std::uint32_t value = 0;  // palette index 0..98, or 0xRRGGBB
  bool operator==(const Color&) const = default;
};

struct Style {
  bool bold = false, italic = false, underline = false, strike = false, mono = false, reverse = false;
  Color fg, bg;
  bool operator==(const Style&) const = default;
  bool plain() const { return *this == Style{}; }
};

// Bytes [begin, end) of the visible text in one style.
struct Run {
  std::size_t begin = 0, end = 0;
  Style style;
  bool operator==(const Run&) const = default;
};

struct Formatted {
  std::string text;       // the visible bytes, codes removed
  std::vector<Run> runs;  // cover text in order; none for an empty text
};

// True when the line holds any formatting code (most lines hold none).
bool hasCodes(std::string_view line);
Formatted parse(std::string_view line);
std::string strip(std::string_view line);
// The line without codes: the line itself when it holds none, else buffer
// filled with its visible bytes (no allocation once buffer has grown).
const std::string& visibleText(const std::string& line, std::string& buffer);

// 0xRRGGBB of a palette colour (0..98).
std::uint32_t paletteRgb(std::uint32_t index);
// The colour as painted on background: a colour too close to the background
// in brightness (contrast ratio below 3:1) is darkened, or lightened on a
// dark background, until it reaches 3:1.
std::uint32_t readableOn(std::uint32_t rgb, std::uint32_t background);

// Links and channel names in visible text.
struct Span {
  enum Kind : std::uint8_t { Web, Irc, Channel };
  std::size_t begin = 0, end = 0;
  Kind kind = Web;
  bool operator==(const Span&) const = default;
};
std::vector<Span> findLinks(std::string_view text);

// True when text names nick as a word of its own (ASCII letters compared
// ignoring case; a nick character before or after it makes it another word).
bool mentions(std::string_view text, std::string_view nick);

// The nick that said a line as the conversation windows show it:
// "<nick>text", "* nick action" or "--nick-- notice"; empty for any other line.
std::string_view speakerOf(std::string_view line);
// True when someone other than ownNick said the line and its text (codes
// removed) names ownNick.
bool mentionsOwnNick(std::string_view line, std::string_view ownNick);

}  // namespace zorv::fmt
