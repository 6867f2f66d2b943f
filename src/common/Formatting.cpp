#include "Formatting.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorv::fmt {
namespace {

constexpr char kBold = 0x02, kColor = 0x03, kHex = 0x04, kReset = 0x0F, kMono = 0x11, kReverse = 0x16,
               kItalic = 0x1D, kStrike = 0x1E, kUnderline = 0x1F;

bool isCode(char c) {
  switch (c) {
    case kBold: case kColor: case kHex: case kReset: case kMono: case kReverse: case kItalic: case kStrike:
    case kUnderline:
      return true;
    default:
      return false;
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One or two decimal digits at line[i]; advances i past them.
bool readNumber(std::string_view line, std::size_t& i, Color& out) {
  if (i >= line.size() || !isDigit(line[i])) return false;
  std::uint32_t n = static_cast<std::uint32_t>(line[i++] - '0');
  if (i < line.size() && isDigit(line[i])) n = n * 10 + static_cast<std::uint32_t>(line[i++] - '0');
  out = n == 99 ? Color{} : Color{Color::Palette, n};
  return true;
}

// Six hexadecimal digits at line[i]; advances i past them.
bool readHex(std::string_view line, std::size_t& i, Color& out) {
  if (i + 6 > line.size()) return false;
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < 6; ++k) {
    const int h = hexValue(line[i + k]);
    if (h < 0) return false;
    v = v << 4 | static_cast<std::uint32_t>(h);
  }
  i += 6;
  out = Color{Color::Rgb, v};
  return true;
}

// A colour code whose first byte was at i - 1: fg, then ",bg" only when a
// colour follows the comma.
template <typename Reader>
void readColors(std::string_view line, std::size_t& i, Style& s, Reader read) {
  Color fg;
  if (!read(line, i, fg)) {
    s.fg = s.bg = Color{};
    return;
  }
  s.fg = fg;
  if (i + 1 < line.size() && line[i] == ',') {
    std::size_t j = i + 1;
    Color bg;
    if (read(line, j, bg)) {
      s.bg = bg;
      i = j;
    }
  }
}

// Applies the code at line[i] (i is past it afterwards).
void applyCode(std::string_view line, std::size_t& i, Style& s) {
  switch (line[i++]) {
    case kBold: s.bold = !s.bold; break;
    case kItalic: s.italic = !s.italic; break;
    case kUnderline: s.underline = !s.underline; break;
    case kStrike: s.strike = !s.strike; break;
    case kMono: s.mono = !s.mono; break;
    case kReverse: s.reverse = !s.reverse; break;
    case kReset: s = Style{}; break;
    case kColor: readColors(line, i, s, readNumber); break;
    case kHex: readColors(line, i, s, readHex); break;
    default: break;
  }
}

double luminance(std::uint32_t rgb) {
  auto channel = [](std::uint32_t v) {
    const double c = v / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(rgb >> 16 & 0xFF) + 0.7152 * channel(rgb >> 8 & 0xFF) + 0.0722 * channel(rgb & 0xFF);
}

double contrast(std::uint32_t a, std::uint32_t b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::uint32_t mix(std::uint32_t rgb, std::uint32_t toward, double t) {
  std::uint32_t out = 0;
  for (int shift = 16; shift >= 0; shift -= 8) {
    const double a = rgb >> shift & 0xFF, b = toward >> shift & 0xFF;
    out |= static_cast<std::uint32_t>(std::lround(a + (b - a) * t)) << shift;
  }
  return out;
}

bool isNickChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u >= 0x80 ||
         std::string_view("-_[]\\`^{}|").find(c) != std::string_view::npos;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (lower(s[i]) != prefix[i]) return false;
  return true;
}

// A link or channel name ends before trailing punctuation, and before a ")"
// that closes nothing opened inside it.
std::size_t trimEnd(std::string_view text, std::size_t begin, std::size_t end) {
  while (end > begin) {
    const char c = text[end - 1];
    if (std::string_view(".,;:!?'\">").find(c) != std::string_view::npos) {
      --end;
    } else if (c == ')') {
      const auto inside = text.substr(begin, end - begin);
      if (std::count(inside.begin(), inside.end(), '(') >= std::count(inside.begin(), inside.end(), ')')) break;
      --end;
    } else {
      break;
    }
  }
  return end;
}

}  // namespace

namespace {
// The first byte at or after from that is below 0x20 (every code is), or the
// size: eight bytes a step over the plain text between codes.
std::size_t nextControl(std::string_view s, std::size_t from) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  while (from + 8 <= s.size()) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + from, sizeof word);
    if ((word - kOnes * 0x20) & ~word & kHighs) break;  // some byte is below 0x20
    from += 8;
  }
  while (from < s.size() && static_cast<unsigned char>(s[from]) >= 0x20) ++from;
  return from;
}
}  // namespace

bool hasCodes(std::string_view line) {
  for (std::size_t i = nextControl(line, 0); i < line.size(); i = nextControl(line, i + 1))
    if (isCode(line[i])) return true;
  return false;
}

namespace {
// Walks line: codes change the style, and each span of visible bytes goes to
// visit with the style it is shown in.
template <typename Visit>
void walkSpans(std::string_view line, Visit&& visit) {
  Style style;
  std::size_t i = 0;
  while (i < line.size()) {
    if (isCode(line[i])) {
      applyCode(line, i, style);
      continue;
    }
    const std::size_t from = i;
    while (i < line.size() && !isCode(line[i])) ++i;
    visit(line.substr(from, i - from), style);
  }
}

// The visible bytes of line into out (emptied first). Every coloured line
// shown is stripped (for the mention check and for the log), so the plain
// text between codes is copied a span at a time.
void stripInto(std::string_view line, std::string& out) {
  out.resize(line.size());
  char* to = out.data();
  std::size_t i = 0;
  while (i < line.size()) {
    const std::size_t end = nextControl(line, i);
    std::memcpy(to, line.data() + i, end - i);
    to += end - i;
    i = end;
    if (i == line.size()) break;
    if (isCode(line[i])) {
      Style ignored;
      applyCode(line, i, ignored);
    } else {
      *to++ = line[i++];
    }
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
}
}  // namespace

Formatted parse(std::string_view line) {
  Formatted out;
  out.text.reserve(line.size());
  walkSpans(line, [&](std::string_view span, const Style& style) {
    const std::size_t begin = out.text.size();
    out.text.append(span);
    if (!out.runs.empty() && out.runs.back().style == style && out.runs.back().end == begin)
      out.runs.back().end = out.text.size();
    else
      out.runs.push_back(Run{begin, out.text.size(), style});
  });
  return out;
}

const std::string& visibleText(const std::string& line, std::string& buffer) {
  if (!hasCodes(line)) return line;
  stripInto(line, buffer);
  return buffer;
}

std::string strip(std::string_view line) {
  std::string out;
  if (!hasCodes(line)) return out.assign(line);
  stripInto(line, out);
  return out;
}

std::uint32_t paletteRgb(std::uint32_t index) {
  static constexpr std::uint32_t kTable[99] = {
      0xFFFFFF, 0x000000, 0x00007F, 0x009300, 0xFF0000, 0x7F0000, 0x9C009C, 0xFC7F00, 0xFFFF00, 0x00FC00,
      0x009393, 0x00FFFF, 0x0000FC, 0xFF00FF, 0x7F7F7F, 0xD2D2D2,
      0x470000, 0x472100, 0x474700, 0x324700, 0x004700, 0x00472C, 0x004747, 0x002747, 0x000047, 0x2E0047,
      0x470047, 0x47002A, 0x740000, 0x743A00, 0x747400, 0x517400, 0x007400, 0x007449, 0x007474, 0x004074,
      0x000074, 0x4B0074, 0x740074, 0x740045, 0xB50000, 0xB56300, 0xB5B500, 0x7DB500, 0x00B500, 0x00B571,
      0x00B5B5, 0x0063B5, 0x0000B5, 0x7500B5, 0xB500B5, 0xB5006B, 0xFF0000, 0xFF8C00, 0xFFFF00, 0xB2FF00,
      0x00FF00, 0x00FFA0, 0x00FFFF, 0x008CFF, 0x0000FF, 0xA500FF, 0xFF00FF, 0xFF0098, 0xFF5959, 0xFFB459,
      0xFFFF71, 0xCFFF60, 0x6FFF6F, 0x65FFC9, 0x6DFFFF, 0x59B4FF, 0x5959FF, 0xC459FF, 0xFF66FF, 0xFF59BC,
      0xFF9C9C, 0xFFD39C, 0xFFFF9C, 0xE2FF9C, 0x9CFF9C, 0x9CFFDB, 0x9CFFFF, 0x9CD3FF, 0x9C9CFF, 0xDC9CFF,
      0xFF9CFF, 0xFF94D3, 0x000000, 0x131313, 0x282828, 0x363636, 0x4D4D4D, 0x656565, 0x818181, 0x9F9F9F,
      0xBCBCBC, 0xE2E2E2, 0xFFFFFF};
  return index < 99 ? kTable[index] : 0x000000;
}

std::uint32_t readableOn(std::uint32_t rgb, std::uint32_t background) {
  constexpr double kMinContrast = 3.0;
  if (contrast(rgb, background) >= kMinContrast) return rgb;
  const std::uint32_t toward = luminance(background) > 0.18 ? 0x000000 : 0xFFFFFF;
  for (int step = 1; step <= 20; ++step) {
    const std::uint32_t c = mix(rgb, toward, step / 20.0);
    if (contrast(c, background) >= kMinContrast) return c;
  }
  return toward;
}

std::vector<Span> findLinks(std::string_view text) {
  std::vector<Span> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
    std::size_t end = i;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > 32) ++end;
    // A word may open with brackets or quotes before the link itself.
    std::size_t begin = i;
    while (begin < end && std::string_view("(<\"'[").find(text[begin]) != std::string_view::npos) ++begin;
    const std::string_view word = text.substr(begin, end - begin);
    Span span{begin, 0, Span::Web};
    bool found = true;
    if (startsWithNoCase(word, "http://") || startsWithNoCase(word, "https://")) {
      span.kind = Span::Web;
    } else if (startsWithNoCase(word, "irc://") || startsWithNoCase(word, "ircs://")) {
      span.kind = Span::Irc;
    } else if (startsWithNoCase(word, "www.") && word.size() > 4) {
      span.kind = Span::Web;
    } else if (word.size() > 1 && word[0] == '#') {
      span.kind = Span::Channel;
    } else {
      found = false;
    }
    if (found) {
      span.end = trimEnd(text, begin, end);
      // Something must follow "#", "www." or "scheme://".
      const std::size_t least = span.kind == Span::Channel      ? 1
                                : startsWithNoCase(word, "www.") ? 4
                                                                 : word.find("//") + 2;
      if (span.end > begin + least) out.push_back(span);
    }
    i = end;
  }
  return out;
}

bool mentions(std::string_view text, std::string_view nick) {
  if (nick.empty() || text.size() < nick.size()) return false;
  // Every line someone says passes here: positions are skipped on their first
  // byte before a whole comparison.
  const char first = lower(nick[0]);
  const char firstUpper = first >= 'a' && first <= 'z' ? static_cast<char>(first - 'a' + 'A') : first;
  for (std::size_t at = 0; at + nick.size() <= text.size(); ++at) {
    if (text[at] != first && text[at] != firstUpper) continue;
    bool same = true;
    for (std::size_t k = 1; k < nick.size() && same; ++k) same = lower(text[at + k]) == lower(nick[k]);
    if (!same) continue;
    const bool before = at > 0 && isNickChar(text[at - 1]);
    const bool after = at + nick.size() < text.size() && isNickChar(text[at + nick.size()]);
    if (!before && !after) return true;
  }
  return false;
}

std::string_view speakerOf(std::string_view line) {
  auto nickUntil = [&](std::size_t from, std::string_view end) -> std::string_view {
    const std::size_t at = line.find(end, from);
    if (at == std::string_view::npos || at == from) return {};
    const std::string_view nick = line.substr(from, at - from);
    return std::all_of(nick.begin(), nick.end(), isNickChar) ? nick : std::string_view{};
  };
  if (line.starts_with('<')) return nickUntil(1, ">");
  if (line.starts_with("* ")) return nickUntil(2, " ");
  if (line.starts_with("--")) return nickUntil(2, "-- ");
  return {};
}

bool mentionsOwnNick(std::string_view line, std::string_view ownNick) {
  const std::string_view speaker = speakerOf(line);
  if (speaker.empty() || ownNick.empty()) return false;
  if (speaker.size() == ownNick.size() &&
      std::equal(speaker.begin(), speaker.end(), ownNick.begin(), [](char a, char b) { return lower(a) == lower(b); }))
    return false;
  // The text begins after the speaker and its closing mark.
  const std::size_t textAt = static_cast<std::size_t>(speaker.data() - line.data()) + speaker.size() + 1;
  const std::string_view text = line.substr(std::min(textAt, line.size()));
  // Every line of a flood of coloured text passes here: no allocation per line.
  thread_local std::string buffer;
  const std::string_view visible = hasCodes(text) ? (stripInto(text, buffer), std::string_view(buffer)) : text;
  return mentions(visible, ownNick);
}

}  // namespace zorv::fmt
