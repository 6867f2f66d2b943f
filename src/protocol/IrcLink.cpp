#include "IrcLink.h"

#include <algorithm>
#include <charconv>

namespace {

using sv = std::string_view;

constexpr size_t kMaxLink = 2048;
constexpr size_t kMaxHost = 253;
constexpr size_t kMaxChannel = 200;
constexpr size_t kMaxChannels = 10;

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(sv s, sv prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (lowerAscii(s[i]) != lowerAscii(prefix[i])) return false;
  return true;
}

bool equalsNoCase(sv a, sv b) { return a.size() == b.size() && startsWithNoCase(a, b); }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes %XX escapes; false on a broken escape.
bool percentDecode(sv in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    const int hi = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
    const int lo = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

bool hostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

// Bytes a channel name cannot hold: controls (NUL, BEL, CR, LF and the rest),
// the blank, and the separators of a JOIN line.
bool channelByte(unsigned char c) { return c > 0x20 && c != 0x7F && c != ',' && c != ':'; }

bool isChannelPrefix(char c) { return c == '#' || c == '&' || c == '+' || c == '!'; }

IrcLinkParse refuse(std::string why) {
  IrcLinkParse r;
  r.error = std::move(why);
  return r;
}

// host[:port] or [IPv6 literal][:port] after any user@ part; fills link.host
// and link.port.
std::string readAuthority(sv authority, IrcLink& link) {
  if (const size_t at = authority.rfind('@'); at != sv::npos) authority.remove_prefix(at + 1);
  sv host = authority;
  sv port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == sv::npos) return "the server address has no closing bracket";
    host = authority.substr(1, close - 1);
    sv rest = authority.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return "the server address is followed by more than a port";
    if (!rest.empty()) port = rest.substr(1);
    if (!zorv::IsIPv6Literal(host)) return "the server address in brackets is not an IPv6 address";
  } else {
    if (const size_t colon = authority.rfind(':'); colon != sv::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
    }
    if (host.empty()) return "the link names no server";
    if (host.size() > kMaxHost || !std::all_of(host.begin(), host.end(), hostChar))
      return "the server name is not a host name or dotted address";
  }
  link.host = std::string(host);
  if (port.empty()) {
    link.port = link.secure ? "6697" : "6667";
    return {};
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return "the port is not a number from 1 to 65535";
  link.port = std::to_string(value);
  return {};
}

// target[,target...] (already cut before any query); fills link.channels.
std::string readTargets(sv path, IrcLink& link) {
  std::vector<std::string> names;
  bool notChannel = false;
  std::string name;
  for (bool first = true;; first = false) {
    const size_t comma = path.find(',');
    const sv raw = path.substr(0, comma);
    if (!percentDecode(raw, name)) return "the link holds a broken %-escape";
    if (!first && (equalsNoCase(name, "isnick") || equalsNoCase(name, "isserver"))) {
      notChannel = true;
    } else if (!first && (equalsNoCase(name, "needkey") || equalsNoCase(name, "needpass"))) {
      // a key or password would have to be asked for; the join is tried without
    } else if (!name.empty()) {
      if (!std::all_of(name.begin(), name.end(), [](char c) { return channelByte(static_cast<unsigned char>(c)); }))
        return "a channel name holds a control character, blank, comma or colon";
      if (!isChannelPrefix(name[0])) name.insert(name.begin(), '#');
      if (name.size() > kMaxChannel) return "a channel name is too long";
      names.push_back(name);
    }
    if (comma == sv::npos) break;
    path.remove_prefix(comma + 1);
  }
  if (names.size() > kMaxChannels) return "the link names too many channels";
  if (!notChannel) link.channels = std::move(names);
  return {};
}

}  // namespace

namespace zorv {

namespace {

bool isHex(char c) { return hexValue(c) >= 0; }

// Four decimal parts of 0 to 255 without leading zeros, dot-separated.
bool isDottedQuad(sv s) {
  int parts = 0;
  size_t i = 0;
  while (true) {
    size_t j = i;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    if (j == i || j - i > 3 || (j - i > 1 && s[i] == '0')) return false;
    int value = 0;
    for (size_t k = i; k < j; ++k) value = value * 10 + (s[k] - '0');
    if (value > 255) return false;
    ++parts;
    if (j == s.size()) return parts == 4;
    if (s[j] != '.' || parts == 4) return false;
    i = j + 1;
  }
}

}  // namespace

bool IsIPv6Literal(std::string_view s) {
  if (s.size() < 2 || s.size() > 45) return false;
  int groups = 0;
  bool gap = false;
  size_t i = 0;
  if (s.substr(0, 2) == "::") {
    gap = true;
    i = 2;
    if (i == s.size()) return true;
  } else if (s[0] == ':') {
    return false;
  }
  while (true) {
    size_t j = i;
    while (j < s.size() && isHex(s[j])) ++j;
    if (j < s.size() && s[j] == '.') {
      // An IPv4 address ends the literal and stands for two groups.
      if (!isDottedQuad(s.substr(i))) return false;
      groups += 2;
      break;
    }
    if (j == i || j - i > 4) return false;
    ++groups;
    i = j;
    if (i == s.size()) break;
    if (s[i] != ':' || ++i == s.size()) return false;
    if (s[i] == ':') {
      if (gap) return false;
      gap = true;
      if (++i == s.size()) break;
    }
  }
  return gap ? groups <= 7 : groups == 8;
}

std::string ServerFieldHost(std::string_view field) {
  if (field.size() > 2 && field.front() == '[' && field.back() == ']' &&
      IsIPv6Literal(field.substr(1, field.size() - 2)))
    field = field.substr(1, field.size() - 2);
  return std::string(field);
}

bool LooksLikeIrcLink(std::string_view text) {
  return startsWithNoCase(text, "irc://") || startsWithNoCase(text, "ircs://");
}

IrcLinkParse ParseIrcLink(std::string_view url) {
  if (!LooksLikeIrcLink(url)) return refuse("not an irc:// or ircs:// link");
  if (url.size() > kMaxLink) return refuse("the link is too long");
  IrcLinkParse r;
  r.link.secure = startsWithNoCase(url, "ircs://");
  url.remove_prefix(r.link.secure ? 7 : 6);
  // A literal "#" starts the channel, as links are commonly written
  // (irc://host/#chan); it is not taken as a fragment.
  const size_t end = url.find_first_of("/?#");
  std::string error = readAuthority(url.substr(0, end), r.link);
  if (!error.empty()) return refuse(std::move(error));
  sv path = end == sv::npos ? sv() : url.substr(end);
  if (!path.empty() && path[0] == '/') path.remove_prefix(1);
  path = path.substr(0, path.find('?'));
  error = readTargets(path, r.link);
  if (!error.empty()) return refuse(std::move(error));
  r.ok = true;
  return r;
}

}  // namespace zorv
