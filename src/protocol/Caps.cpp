#include "Caps.h"

#include "Bytes.h"

namespace zorv {

namespace {

using sv = std::string_view;

struct Known {
  sv name;
  std::uint32_t bit;
};
constexpr Known kKnown[] = {
    {"multi-prefix", kMultiPrefix},   {"away-notify", kAwayNotify},       {"account-notify", kAccountNotify},
    {"extended-join", kExtendedJoin}, {"server-time", kServerTime},       {"message-tags", kMessageTags},
    {"batch", kBatch},                {"echo-message", kEchoMessage},     {"chghost", kChghost},
    {"setname", kSetname},            {"userhost-in-names", kUserhostInNames}, {"invite-notify", kInviteNotify},
    {"znc.in/self-message", kSelfMessage}, {"cap-notify", kCapNotify}, {"sasl", kSaslCap},
};

// Digits of s[at, at + n) as a number, -1 when any is not a digit.
int Number(sv s, size_t at, size_t n) {
  if (at + n > s.size()) return -1;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<long long>(era) * 146097 + doe - 719468;
}

}  // namespace

std::uint32_t CapBit(sv name) {
  for (const Known& k : kKnown)
    if (k.name.size() == name.size() && equalsIgnoreAsciiCase(k.name, name)) return k.bit;
  return 0;
}

std::string ChooseCapabilities(sv offered, std::uint32_t have) {
  std::string out;
  while (!offered.empty()) {
    const sv word = upToBlank(offered);
    offered = afterBlank(offered);
    const sv name = word.substr(0, word.find('='));
    const std::uint32_t bit = CapBit(name);
    if (bit == 0 || bit == kSaslCap || (have & bit)) continue;
    have |= bit;  // once, even when offered twice
    if (!out.empty()) out += ' ';
    out.append(name);
  }
  return out;
}

bool FindTag(sv tags, sv key, std::string* value) {
  if (key.empty() || key.front() == '+') return false;
  while (!tags.empty()) {
    const auto semi = tags.find(';');
    const sv tag = tags.substr(0, semi);
    tags = semi == sv::npos ? sv() : tags.substr(semi + 1);
    const auto eq = tag.find('=');
    if (tag.substr(0, eq) != key) continue;
    value->clear();
    if (eq == sv::npos) return true;
    const sv raw = tag.substr(eq + 1);
    for (size_t i = 0; i < raw.size(); ++i) {
      char c = raw[i];
      if (c == '\\') {
        if (++i == raw.size()) break;
        c = raw[i];
        c = c == ':' ? ';' : c == 's' ? ' ' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
      }
      value->push_back(c);
    }
    return true;
  }
  return false;
}

long long ParseServerTime(sv v) {
  // YYYY-MM-DDThh:mm:ss[.fff...]Z
  const int y = Number(v, 0, 4), mo = Number(v, 5, 2), d = Number(v, 8, 2);
  const int h = Number(v, 11, 2), mi = Number(v, 14, 2), s = Number(v, 17, 2);
  if (v.size() < 20 || y < 1970 || v[4] != '-' || v[7] != '-' || v[10] != 'T' || v[13] != ':' || v[16] != ':' ||
      mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
    return -1;
  size_t at = 19;
  int ms = 0;
  if (v[at] == '.') {
    int scale = 100;
    for (++at; at < v.size() && v[at] >= '0' && v[at] <= '9'; ++at, scale /= 10) ms += (v[at] - '0') * scale;
  }
  if (at + 1 != v.size() || v[at] != 'Z') return -1;
  return ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000LL + s * 1000LL + ms;
}

}  // namespace zorv
