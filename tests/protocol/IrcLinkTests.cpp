// irc:// and ircs:// links: what is taken from them, and which are refused
// whole because a part of them cannot be used as it stands.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <random>
#include <string>
#include <vector>

#include "IrcLink.h"

namespace {

using Channels = std::vector<std::string>;

struct Good {
  std::string url;
  bool secure;
  std::string host, port;
  Channels channels;
};

TEST(IrcLink, UsableLinks) {
  const std::vector<Good> cases = {
      {"irc://irc.example.org", false, "irc.example.org", "6667", {}},
      {"irc://irc.example.org/", false, "irc.example.org", "6667", {}},
      {"ircs://irc.example.org", true, "irc.example.org", "6697", {}},
      {"IRCS://Irc.Example.Org:7000/zorv", true, "Irc.Example.Org", "7000", {"#zorv"}},
      {"irc://127.0.0.1:6668/%23zorv", false, "127.0.0.1", "6668", {"#zorv"}},
      {"irc://127.0.0.1/%2523zorv", false, "127.0.0.1", "6667", {"#%23zorv"}},  // decoded once only
      {"irc://host/#zorv", false, "host", "6667", {"#zorv"}},                   // "#" written as is
      {"irc://host#zorv", false, "host", "6667", {"#zorv"}},
      {"irc://host/&local,+modeless,!ABCDEsafe", false, "host", "6667", {"&local", "+modeless", "!ABCDEsafe"}},
      {"irc://host/a,%23b,,c", false, "host", "6667", {"#a", "#b", "#c"}},
      {"irc://host/%c3%a9t%C3%A9", false, "host", "6667", {"#\xC3\xA9t\xC3\xA9"}},  // UTF-8 names pass
      {"irc://host:/zorv", false, "host", "6667", {"#zorv"}},                       // empty port: default
      {"irc://host:00080/zorv", false, "host", "80", {"#zorv"}},
      {"irc://host:65535", false, "host", "65535", {}},
      {"irc://nick@host:6669/zorv", false, "host", "6669", {"#zorv"}},  // user part ignored
      {"irc://host/zorv?key=secret", false, "host", "6667", {"#zorv"}},
      {"irc://host/?key=secret", false, "host", "6667", {}},
      {"irc://host/zorv,needkey", false, "host", "6667", {"#zorv"}},
      {"irc://host/needkey", false, "host", "6667", {"#needkey"}},  // a flag word only after a target
      {"irc://host/alice,isnick", false, "host", "6667", {}},
      {"irc://host/services,ISSERVER", false, "host", "6667", {}},
      {"irc://[2001:db8::1]:6697/#chan", false, "2001:db8::1", "6697", {"#chan"}},
      {"ircs://[::1]/zorv", true, "::1", "6697", {"#zorv"}},
      {"irc://nick@[::FFFF:192.0.2.1]:/", false, "::FFFF:192.0.2.1", "6667", {}},
      // the limits are inclusive: a 200-byte channel, ten channels, a 253-byte host
      {"irc://host/" + std::string(199, 'x'), false, "host", "6667", {"#" + std::string(199, 'x')}},
      {"irc://host/a,b,c,d,e,f,g,h,i,j",
       false,
       "host",
       "6667",
       {"#a", "#b", "#c", "#d", "#e", "#f", "#g", "#h", "#i", "#j"}},
      {"irc://" + std::string(253, 'h'), false, std::string(253, 'h'), "6667", {}},
  };
  for (const Good& c : cases) {
    const IrcLinkParse r = zorv::ParseIrcLink(c.url);
    ASSERT_TRUE(r.ok) << c.url << ": " << r.error;
    EXPECT_EQ(r.link.secure, c.secure) << c.url;
    EXPECT_EQ(r.link.host, c.host) << c.url;
    EXPECT_EQ(r.link.port, c.port) << c.url;
    EXPECT_EQ(r.link.channels, c.channels) << c.url;
  }
}

TEST(IrcLink, RefusedLinks) {
  const std::vector<std::string> cases = {
      "", "http://host/zorv", "irc:host/zorv", "irc:/host/zorv", "irc://", "irc:///zorv", "irc://:6667/zorv",
      "irc://user@/zorv", "irc://host:0/zorv", "irc://host:65536/zorv", "irc://host:99999999999999999999/zorv",
      "irc://host:66a7/zorv", "irc://host:+6667/zorv", "irc://host:-1/zorv",
      "irc://::1/zorv",                // an IPv6 address needs its brackets
      "irc://[::1/zorv", "irc://[::1]x/zorv", "irc://[::1]:0/zorv", "irc://[]/zorv", "irc://[127.0.0.1]/zorv",
      "irc://[fe80::1%25eth0]/zorv",  // no zones
      "irc://[1:2:3:4:5:6:7:8:9]/zorv", "irc://ho st/zorv", "irc://host%0D%0AQUIT/zorv", "irc://ho\rst/zorv",
      "irc://host/zo%0D%0AQUIT :bye", "irc://host/zorv%0AJOIN%20%230", "irc://host/zo%00rv",
      std::string("irc://host/zo\0rv", 16), "irc://host/zo\nrv", "irc://host/zo%07rv", "irc://host/zo%7Frv",
      "irc://host/zo%20rv",
      "irc://host/zo%2Crv",  // an encoded comma would split the JOIN line
      "irc://host/zo:rv", "irc://host/zorv%", "irc://host/zorv%2", "irc://host/zorv%g0",
      "irc://host/" + std::string(200, 'x'),  // with its "#" one byte too long
      "irc://host/a,b,c,d,e,f,g,h,i,j,k", "irc://" + std::string(254, 'h'), "irc://host/" + std::string(2100, 'x'),
  };
  for (const std::string& url : cases) {
    const IrcLinkParse r = zorv::ParseIrcLink(url);
    EXPECT_FALSE(r.ok) << url;
    EXPECT_FALSE(r.error.empty()) << url;
    EXPECT_TRUE(r.link.channels.empty()) << url;
  }
}

TEST(IrcLink, WhatLooksLikeALink) {
  for (const char* yes : {"irc://", "ircs://x", "IRC://x", "iRcS://"}) EXPECT_TRUE(zorv::LooksLikeIrcLink(yes)) << yes;
  for (const char* no : {"", "irc:/", "irc:", "ircs:/x", "http://x", " irc://x", "--help"})
    EXPECT_FALSE(zorv::LooksLikeIrcLink(no)) << no;
}

TEST(IrcLink, IPv6LiteralsAndTheServerField) {
  // The same answers as the system's own parser, over chosen and random short texts.
  for (const char* t : {"::",
                        "::1",
                        "1::",
                        "1:2:3:4:5:6:7:8",
                        "1:2:3:4:5:6:7::",
                        "::ffff:1.2.3.4",
                        "1:2:3:4:5:6:1.2.3.4",
                        "FFFF::abcd",
                        ":",
                        ":::",
                        "1:::2",
                        "1::2::3",
                        ":1",
                        "1:",
                        "12345::",
                        "1:2:3:4:5:6:7",
                        "1:2:3:4:5:6:7:8:9",
                        "1::2:3:4:5:6:7:8",
                        "::1.2.3",
                        "::01.2.3.4",
                        "::256.0.0.1",
                        "1.2.3.4",
                        "::1.2.3.4:5",
                        "g::",
                        "fe80::1%eth0",
                        ""}) {
    in6_addr a{};
    EXPECT_EQ(zorv::IsIPv6Literal(t), ::inet_pton(AF_INET6, t, &a) == 1) << t;
  }
  std::mt19937 rng(6);
  const std::string alphabet = "0123:::..af";
  for (int i = 0; i < 50000; ++i) {
    std::string t(rng() % 18, ' ');
    for (char& c : t) c = alphabet[rng() % alphabet.size()];
    in6_addr a{};
    ASSERT_EQ(zorv::IsIPv6Literal(t), ::inet_pton(AF_INET6, t.c_str(), &a) == 1) << t;
  }

  const std::pair<const char*, const char*> fields[] = {
      {"irc.example.org", "irc.example.org"}, {"127.0.0.1", "127.0.0.1"}, {"::1", "::1"},
      {"[::1]", "::1"}, {"[2001:db8::1]", "2001:db8::1"}, {"[irc.example.org]", "[irc.example.org]"},
      {"[::1]:6697", "[::1]:6697"}, {"[]", "[]"},
  };
  for (const auto& [field, host] : fields) EXPECT_EQ(zorv::ServerFieldHost(field), host) << field;
}

}  // namespace
