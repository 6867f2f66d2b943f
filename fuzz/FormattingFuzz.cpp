// The formatting-code parser, links and mentions over hostile lines: the runs
// cover the visible text in order, the visible text holds no code, strip()
// and hasCodes() agree with parse(), and every link lies inside the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Formatting.h"
#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const zorv::fmt::Formatted f = zorv::fmt::parse(line);
  std::size_t at = 0;
  for (const zorv::fmt::Run& r : f.runs) {
    if (r.begin != at || r.end <= r.begin) fuzz::fail("runs do not cover the text in order", line);
    at = r.end;
  }
  if (at != f.text.size()) fuzz::fail("runs do not reach the end of the text", line);
  if (zorv::fmt::hasCodes(f.text)) fuzz::fail("a code left in the visible text", f.text);
  if (zorv::fmt::strip(line) != f.text) fuzz::fail("strip and parse disagree", line);
  if (zorv::fmt::hasCodes(line) != (f.text != line)) fuzz::fail("hasCodes and parse disagree", line);
  for (const zorv::fmt::Span& s : zorv::fmt::findLinks(f.text))
    if (s.begin >= s.end || s.end > f.text.size()) fuzz::fail("a link outside the text", line);
  zorv::fmt::mentions(f.text, "zoe");
  for (const zorv::fmt::Run& r : f.runs)
    if (r.style.fg.kind == zorv::fmt::Color::Palette) zorv::fmt::readableOn(zorv::fmt::paletteRgb(r.style.fg.value), 0xC0C0C0);
  return 0;
}
