#pragma once
// irc:// and ircs:// links, as a desktop hands them to the program: which
// server to reach and which channels to join there.
#include <string>
#include <string_view>
#include <vector>

struct IrcLink {
  bool secure = false;               // ircs://
  std::string host;                  // a host name, dotted address or IPv6 literal (no brackets)
  std::string port;                  // decimal, 6667 (irc) or 6697 (ircs) when the link names none
  std::vector<std::string> channels; // to join once registered, each with its prefix ("#zorv")
};

struct IrcLinkParse {
  bool ok = false;
  IrcLink link;
  std::string error;  // why the link was refused (when !ok)
};

namespace zorv {

// True when the text begins with "irc://" or "ircs://" (letter case ignored).
bool LooksLikeIrcLink(std::string_view text);

// Reads irc://[user@]host[:port][/target[,target...]][?query], where host may
// be an IPv6 literal in brackets ("[2001:db8::1]"). Targets are
// percent-decoded; a target without a channel prefix gets "#"; the words
// isnick and isserver mean the target is no channel, needkey and needpass are
// ignored; the query (a key) is ignored. A link whose host, port or channel
// names cannot be used as they are is refused whole, never repaired, so no
// control byte, blank or separator ever reaches a protocol line.
IrcLinkParse ParseIrcLink(std::string_view url);

// True for an IPv6 address in text form ("::1", "2001:db8::1",
// "::ffff:192.0.2.1"); no brackets, no zone.
bool IsIPv6Literal(std::string_view text);

// The host the Server field names: an IPv6 literal without the brackets it
// may be typed in ("[::1]" is "::1"); anything else as it stands.
std::string ServerFieldHost(std::string_view field);

}  // namespace zorv
