// Formatting codes, links and mentions in lines as people send them.
#include <gtest/gtest.h>

#include <array>

#include "Formatting.h"

namespace {

using namespace zorv::fmt;

Color pal(std::uint32_t i) { return {Color::Palette, i}; }
Color rgb(std::uint32_t v) { return {Color::Rgb, v}; }

// A style from flag letters: b i u s m r.
Style with(std::string_view flags, Color fg = {}, Color bg = {}) {
  Style s;
  for (char f : flags)
    s.*(std::array{&Style::bold, &Style::italic, &Style::underline, &Style::strike, &Style::mono,
                   &Style::reverse}[std::string_view("biusmr").find(f)]) = true;
  s.fg = fg;
  s.bg = bg;
  return s;
}

// "text|style" pieces for comparing parses readably.
struct Piece { std::string text; Style style; };

std::vector<Piece> pieces(std::string_view line) {
  const Formatted f = parse(line);
  std::vector<Piece> out;
  std::size_t at = 0;
  for (const Run& r : f.runs) {
    EXPECT_EQ(r.begin, at) << "runs must cover the text in order";
    EXPECT_LT(r.begin, r.end);
    out.push_back({f.text.substr(r.begin, r.end - r.begin), r.style});
    at = r.end;
  }
  EXPECT_EQ(at, f.text.size());
  return out;
}

TEST(Formatting, EveryCodeAndItsMalformedForms) {
  const struct { std::string line; std::vector<Piece> want;
  } cases[] = {
      {"plain", {{"plain", {}}}},
      {"", {}},
      {"\x02"
       "bold\x02 not",
       {{"bold", with("b")}, {" not", {}}}},
      {"\x1D"
       "i\x1F"
       "u\x1E"
       "s\x11"
       "m\x16"
       "r\x0F"
       "x",
       {{"i", with("i")}, {"u", with("iu")}, {"s", with("ius")}, {"m", with("iusm")}, {"r", with("iusmr")}, {"x", {}}}},
      {"\x03"
       "4red",
       {{"red", with("", pal(4))}}},
      {"\x03"
       "04,12x",
       {{"x", with("", pal(4), pal(12))}}},
      {"\x03"
       "4,1",
       {{"", {}}}},  // codes only: no text
      {"\x03"
       "123",
       {{"3", with("", pal(12))}}},  // two digits at most
      {"\x03"
       "4,x",
       {{",x", with("", pal(4))}}},  // a comma without a colour is text
      {"\x03"
       "4,",
       {{",", with("", pal(4))}}},
      {"\x03"
       ",5x",
       {{",5x", {}}}},  // no foreground: a reset, the rest is text
      {"\x03"
       "5a\x03"
       "b",
       {{"a", with("", pal(5))}, {"b", {}}}},  // bare colour code resets colours
      {"\x03"
       "3,4a\x03"
       "5b",
       {{"a", with("", pal(3), pal(4))}, {"b", with("", pal(5), pal(4))}}},
      {"\x03"
       "99,99x",
       {{"x", {}}}},  // 99: the default colour
      {"\x03"
       "98,16x",
       {{"x", with("", pal(98), pal(16))}}},
      {"\x04"
       "FF8000x",
       {{"x", with("", rgb(0xFF8000))}}},
      {"\x04"
       "ff8000,00aAbBx",
       {{"x", with("", rgb(0xFF8000), rgb(0x00AABB))}}},
      {"\x04"
       "FF80x",
       {{"FF80x", {}}}},  // short hex: a reset
      {"\x04"
       "FF8000,12x",
       {{",12x", with("", rgb(0xFF8000))}}},
      {"\x02\x02"
       "x",
       {{"x", {}}}},
      {"a\x02", {{"a", {}}}},  // a code at the end
      {"\x03", {}},
      {"\x04", {}},
      {"a\x02\x0F"
       "b",
       {{"ab", {}}}},  // runs of one style merge
  };
  for (const auto& c : cases) {
    const auto got = pieces(c.line);
    const auto want = c.want.size() == 1 && c.want[0].text.empty() ? std::vector<Piece>{} : c.want;
    ASSERT_EQ(got.size(), want.size()) << c.line;
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].text, want[k].text) << c.line;
      EXPECT_EQ(got[k].style, want[k].style) << c.line << " piece " << k;
    }
    std::string text;
    for (const auto& p : want) text += p.text;
    EXPECT_EQ(strip(c.line), text) << c.line;
    EXPECT_EQ(hasCodes(c.line), c.line != text) << c.line;
  }
}

TEST(Formatting, ColoursStayReadableOnTheBackground) {
  constexpr std::uint32_t silver = 0xC0C0C0, black = 0x000000;
  EXPECT_EQ(readableOn(0x000000, silver), 0x000000u);  // enough contrast: as it is
  EXPECT_EQ(readableOn(0x00007F, silver), 0x00007Fu);
  for (std::uint32_t i = 0; i < 99; ++i) {
    const std::uint32_t c = readableOn(paletteRgb(i), silver);
    // Darkened, never lightened, on a light background; hue kept where it can be.
    EXPECT_LE(c >> 16 & 0xFF, paletteRgb(i) >> 16 & 0xFF) << i;
    EXPECT_LE(c & 0xFF, paletteRgb(i) & 0xFF) << i;
  }
  EXPECT_NE(readableOn(0xFFFFFF, silver), 0xFFFFFFu);  // white on silver is unreadable
  EXPECT_NE(readableOn(0xD2D2D2, silver), 0xD2D2D2u);
  EXPECT_GT(readableOn(0x000010, black) & 0xFF, 0x10u);  // lightened on a dark background
  EXPECT_EQ(paletteRgb(500), 0x000000u);  // out of range: black, never a read past the table
}

TEST(Formatting, LinksAndChannelNames) {
  auto spans = [](std::string_view text) {
    std::vector<std::string> out;
    for (const Span& s : findLinks(text))
      out.push_back(std::string(1, "WIC"[s.kind]) + std::string(text.substr(s.begin, s.end - s.begin)));
    return out;
  };
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"see https://example.org/a?b=1, then", {"Whttps://example.org/a?b=1"}},
      {"(http://en.wikipedia.org/wiki/C_(language)) ok", {"Whttp://en.wikipedia.org/wiki/C_(language)"}},
      {"<HTTP://X.ORG>", {"WHTTP://X.ORG"}},
      {"www.example.org.", {"Wwww.example.org"}},
      {"join #chat or ircs://irc.libera.chat:6697/#zorv!", {"C#chat", "Iircs://irc.libera.chat:6697/#zorv"}},
      {"irc://host/#a and #b, #", {"Iirc://host/#a", "C#b"}},
      {"http:// www. # nohttp://x ftp://y a#b", {}},
      {"", {}}};
  for (const auto& [text, want] : cases) EXPECT_EQ(spans(text), want) << text;
}

TEST(Formatting, AMentionIsTheNickAsAWordOfItsOwn) {
  const struct { const char *text, *nick; bool mentioned;
  } cases[] = {{"zoe: hi", "zoe", true},       {"hi Zoe", "zoe", true},
               {"ZOE!", "zoe", true},          {"(zoe)", "zoe", true},
               {"zoezoe zoe", "zoe", true},    {"hey [zoe]", "[zoe]", true},
               {"zoey is here", "zoe", false}, {"hi _zoe", "zoe", false},
               {"zoe_ there", "zoe", false},   {"", "zoe", false},
               {"a zo e", "zoe", false},       {"zo", "zoe", false},
               {"anything", "", false}};
  for (const auto& c : cases) EXPECT_EQ(mentions(c.text, c.nick), c.mentioned) << c.text;
  // A line as a window shows it mentions the user when someone else said it.
  const struct { const char *line, *speaker; bool mentioned;
  } lines[] = {{"<ann>hi ZOE", "ann", true},
               {"* ann pokes zoe", "ann", true},
               {"--ann-- zoe: notice", "ann", true},
               {"<ann>\x02zo\x02"
                "e!",
                "ann", true},
               {"<zoe>zoe here", "zoe", false},
               {"*** zoe has joined #a", "", false},
               {"<a b>zoe", "", false},
               {"<ann>zoey", "ann", false},
               {"<>zoe", "", false},
               {"<ZOE>hi zoe", "ZOE", false}};
  for (const auto& c : lines) {
    EXPECT_EQ(speakerOf(c.line), c.speaker) << c.line;
    EXPECT_EQ(mentionsOwnNick(c.line, "zoe"), c.mentioned) << c.line;
  }
}

// Hostile lines are fuzz/FormattingFuzz.cpp's, replayed over its corpus as a test.

}  // namespace
