// The pure helpers: line parsing, names replies, outbound sanitising.
#include <gtest/gtest.h>

#include <string>

#include "Inbound.h"
#include "NamesReply.h"
#include "Outbound.h"

namespace {

TEST(ParseInboundLine, SplitsIntoFields) {
  struct Case {
    const char* raw;
    const char* text;
    const char* source;
    const char* nick;
    const char* address;
    const char* command;
    const char* params;
  };
  const Case cases[] = {
      {":bob!b@h PRIVMSG #chat :hi there\r", ":bob!b@h PRIVMSG #chat :hi there", "bob!b@h", "bob",
       "b@h", "PRIVMSG", "#chat :hi there"},
      {":srv 001 me :Welcome", ":srv 001 me :Welcome", "srv", "srv", "srv", "001", "me :Welcome"},
      {"NOTICE AUTH :*** x", "NOTICE AUTH :*** x", "NOTICE", "NOTICE", "NOTICE", "AUTH", "*** x"},
      {"\t FOO \r\n", "FOO", "", "", "", "FOO", ""},
      {"a b", "a b", "a", "a", "a", "b", ""},
      {":a!b!c JOIN ::#x", ":a!b!c JOIN ::#x", "a!b!c", "a", "b!c", "JOIN", ":#x"},
      {":a  b c", ":a  b c", "a", "a", "a", "", "b c"},
      {"\xff\xfe X Y", "\xff\xfe X Y", "\xff\xfe", "\xff\xfe", "\xff\xfe", "X", "Y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    InboundLine l;
    ASSERT_TRUE(zorv::ParseInboundLine(c.raw, &l));
    EXPECT_EQ(l.text, c.text);
    EXPECT_EQ(l.source, c.source);
    EXPECT_EQ(l.nick, c.nick);
    EXPECT_EQ(l.userAddress, c.address);
    EXPECT_EQ(l.command, c.command);
    EXPECT_EQ(l.params, c.params);
  }
  InboundLine l;
  EXPECT_FALSE(zorv::ParseInboundLine(" \r\t\x01", &l));
  EXPECT_FALSE(zorv::ParseInboundLine("", &l));
}

TEST(NamesReplyChannel, FindsChannelAndNames) {
  struct Case {
    const char* p;
    bool found;
    const char* channel;
    const char* names;
  };
  const Case cases[] = {
      {"= #chat :@alice bob me", true, "#chat", "@alice bob me "},
      {"* #chat :a", true, "#chat", "a "},
      {"@ &local :x y", true, "&local", "x y "},
      {"#chat :End of /NAMES list.", true, "#chat", "End of /NAMES list. "},
      {"#a&b :n1", true, "#a&b", "n1 "},  // "&" inside a "#" channel is part of it
      {"= &a#b :n1", true, "&a#b", "n1 "},
      {"= #chat a b", true, "#chat", "a b "},  // no ":": the channel is not a name
      {"= #chat :", true, "#chat", " "},
      {"#chat", false, "", ""},
      {"= #chat", false, "", ""},
      {"", false, "", ""},
      {"= chat :a", true, "=", "a "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.p);
    std::string channel = "unchanged", names = "unchanged";
    ASSERT_EQ(zorv::NamesReplyChannel(c.p, &channel, &names), c.found);
    if (!c.found) {
      EXPECT_EQ(channel, "unchanged");
      continue;
    }
    EXPECT_EQ(channel, c.channel);
    EXPECT_EQ(names, c.names);
    std::string onlyChannel;
    EXPECT_TRUE(zorv::NamesReplyChannel(c.p, &onlyChannel, nullptr));
    EXPECT_EQ(onlyChannel, c.channel);
  }
}

TEST(SanitizeOutboundLine, RemovesLineBreaksAndZeroBytes) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"PRIVMSG #a :hi", "PRIVMSG #a :hi"},
      {"NOTICE bob :\x01PING a\rQUIT :x\x01", "NOTICE bob :\x01PING aQUIT :x\x01"},
      {"JOIN #a\r\nPRIVMSG x :y\n", "JOIN #aPRIVMSG x :y"},
      {"a\0b\0"s, "ab"},
      {"\r\n\0"s, ""},
      {"\t\x01\xff keep", "\t\x01\xff keep"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(zorv::SanitizeOutboundLine(in), out);
}

}  // namespace
