// The shared byte and text helpers: trimming, words at a blank, ASCII case,
// line breaks removed; and their QString counterparts.
#include <gtest/gtest.h>

#include <string>

#include "Bytes.h"
#include "Text.h"

using namespace std::string_literals;

namespace {

TEST(Bytes, TrimAndWords) {
  const struct { std::string s, trimmed, upTo, after; } cases[] = {
      {"", "", "", ""}, {"abc", "abc", "abc", ""}, {"a b c", "a b c", "a", "b c"}, {" a", "a", "", "a"},
      {"a  b", "a  b", "a", " b"}, {"\t\r\n x\ty \x01\x20", "x\ty", "\t\r\n", "x\ty \x01\x20"},
      {"\0a\0"s, "a", "\0a\0"s, ""},
      {"\xa0x\xff", "\xa0x\xff", "\xa0x\xff", ""},  // bytes >= 128 are not blanks
      {"!~ ", "!~", "!~", ""},                      // 33 and above stay
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.s));
    EXPECT_EQ(zorv::trimControls(c.s), c.trimmed);
    EXPECT_EQ(zorv::upToBlank(c.s), c.upTo);
    EXPECT_EQ(zorv::afterBlank(c.s), c.after);
  }
}

TEST(Bytes, AsciiCaseOnly) {
  EXPECT_EQ(zorv::upperAscii("az@[`{AZ09\xe9\xc3\xa9~"), "AZ@[`{AZ09\xe9\xc3\xa9~");
  const struct { const char *a, *b; bool same; } cases[] = {
      {"Nick", "nICK", true}, {"", "", true},      {"a", "ab", false},  {"@", "`", false},
      {"[", "{", false},      {"\xe9", "\xc9", false}, {"#Chat", "#chat", true}, {"z", "Z", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zorv::equalsIgnoreAsciiCase(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(zorv::equalsIgnoreAsciiCase(c.b, c.a), c.same) << c.b << " / " << c.a;
    EXPECT_EQ(zorv::sameTextAscii(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.same) << c.a;
  }
  EXPECT_EQ(zorv::upperAsciiText(u"az\u00e9\u0101{"_qs), u"AZ\u00e9\u0101{"_qs);
  EXPECT_FALSE(zorv::sameTextAscii(u"\u00e9"_qs, u"\u00c9"_qs));
}

TEST(Bytes, LineBreaksRemovedAndTextTrimmed) {
  const struct { std::string in, out; } cases[] = {
      {"JOIN #a\r\nPRIVMSG x :\x01y\xff\0\n"s, "JOIN #aPRIVMSG x :\x01y\xff"}, {"\r\r\n\n\0"s, ""},
      {"a\tb\x01 c", "a\tb\x01 c"},
  };
  for (const auto& c : cases) EXPECT_EQ(zorv::stripLineBreaks(c.in), c.out) << testing::PrintToString(c.in);
  const struct {
    QString in, out;
  } texts[] = {{u""_qs, u""_qs},
               {u" \t a b \r\n"_qs, u"a b"_qs},
               {u"\u00a0x\u00a0"_qs, u"\u00a0x\u00a0"_qs},
               {QString(QChar(0)) + u"k"_qs, u"k"_qs}};
  for (const auto& c : texts) EXPECT_EQ(zorv::trimmedText(c.in), c.out) << c.in.toStdString();
}

}  // namespace
