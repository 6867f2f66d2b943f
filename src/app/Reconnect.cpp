#include "Reconnect.h"

#include <algorithm>

#include "Text.h"

namespace zorv {
namespace {

bool canTravel(std::string_view word) {
  if (word.empty()) return false;
  return std::none_of(word.begin(), word.end(),
                      [](char c) { return static_cast<unsigned char>(c) <= 32 || c == ','; });
}

std::vector<std::string_view> splitCommas(std::string_view s) {
  std::vector<std::string_view> out;
  while (true) {
    const auto comma = s.find(',');
    out.push_back(s.substr(0, comma));
    if (comma == std::string_view::npos) return out;
    s.remove_prefix(comma + 1);
  }
}

struct JoinLine {
  std::string names, keys;
  std::size_t length() const { return 5 + names.size() + (keys.empty() ? 0 : 1 + keys.size()); }
  std::string text() const { return "JOIN " + names + (keys.empty() ? "" : " " + keys); }
};

}  // namespace

int ReconnectDelayMs(int attempt, std::uint32_t random, const ReconnectPolicy& policy) {
  const long long cap = std::max(1, policy.maxDelayMs);
  long long delay = std::clamp<long long>(policy.firstDelayMs, 1, cap);
  for (int i = 0; i < attempt && delay < cap; ++i) delay = std::min(delay * 2, cap);
  const long long spread = delay * std::clamp(policy.spreadPercent, 0, 100) / 100;
  if (spread > 0) delay -= static_cast<long long>(random % static_cast<std::uint32_t>(spread + 1));
  return static_cast<int>(std::max(1LL, delay));
}

int DelaySeconds(int delayMs) { return std::max(1, (delayMs + 999) / 1000); }

std::vector<std::string> JoinLines(const std::vector<ChannelToJoin>& channels, std::size_t maxLine) {
  std::vector<const ChannelToJoin*> order;
  for (const ChannelToJoin& c : channels)
    if (canTravel(c.name) && canTravel(c.key)) order.push_back(&c);
  for (const ChannelToJoin& c : channels)
    if (canTravel(c.name) && !canTravel(c.key)) order.push_back(&c);

  std::vector<std::string> lines;
  JoinLine line;
  for (const ChannelToJoin* c : order) {
    const bool keyed = canTravel(c->key);
    JoinLine grown = line;
    if (!grown.names.empty()) grown.names += ',';
    grown.names += c->name;
    if (keyed) grown.keys += (grown.keys.empty() ? "" : ",") + c->key;
    if (grown.length() <= maxLine) {
      line = std::move(grown);
      continue;
    }
    JoinLine alone{c->name, keyed ? c->key : std::string()};
    if (alone.length() > maxLine) continue;
    if (!line.names.empty()) lines.push_back(line.text());
    line = std::move(alone);
  }
  if (!line.names.empty()) lines.push_back(line.text());
  return lines;
}

std::vector<ChannelToJoin> ChannelsSetting(std::string_view text) {
  // Blanks around commas and at the ends are dropped; the first blank left
  // parts the names from the keys.
  std::string flat;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ' ') {
      const auto next = text.find_first_not_of(' ', i);
      if (flat.empty() || flat.back() == ',' || flat.back() == ' ' || next == std::string_view::npos ||
          text[next] == ',')
        continue;
    }
    flat.push_back(text[i]);
  }
  const std::string_view all(flat);
  const auto blank = all.find(' ');
  const auto names = splitCommas(all.substr(0, blank));
  const std::vector<std::string_view> keys =
      blank == std::string_view::npos ? std::vector<std::string_view>() : splitCommas(upToBlank(all.substr(blank + 1)));
  std::vector<ChannelToJoin> out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string_view name = names[i];
    if (name.empty()) continue;
    const bool sign = name.front() == '#' || name.front() == '&' || name.front() == '+' || name.front() == '!';
    out.push_back({(sign ? "" : "#") + std::string(name), i < keys.size() ? std::string(keys[i]) : std::string()});
  }
  return out;
}

std::vector<ChannelToJoin> MergeChannels(std::vector<ChannelToJoin> first, const std::vector<ChannelToJoin>& second) {
  std::vector<ChannelToJoin> out;
  auto add = [&out](ChannelToJoin c) {
    const bool seen = std::any_of(out.begin(), out.end(),
                                  [&](const ChannelToJoin& o) { return equalsIgnoreAsciiCase(o.name, c.name); });
    if (!seen) out.push_back(std::move(c));
  };
  for (ChannelToJoin& c : first) add(std::move(c));
  for (const ChannelToJoin& c : second) add(c);
  return out;
}

void ChannelKeys::NoteSent(std::string_view line) {
  if (line.size() < 5 || !equalsIgnoreAsciiCase(line.substr(0, 5), "JOIN ")) return;
  std::string_view rest = line.substr(5);
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  const auto blank = rest.find(' ');
  const std::string_view names = rest.substr(0, blank);
  std::string_view keys = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
  keys.remove_prefix(std::min(keys.find_first_not_of(' '), keys.size()));
  keys = keys.substr(0, keys.find(' '));
  if (names.empty() || keys.empty()) return;
  const auto nameList = splitCommas(names);
  const auto keyList = splitCommas(keys);
  for (std::size_t i = 0; i < nameList.size() && i < keyList.size(); ++i)
    if (canTravel(nameList[i]) && canTravel(keyList[i])) keys_[upperAscii(nameList[i])] = std::string(keyList[i]);
}

std::string ChannelKeys::KeyOf(std::string_view channel) const {
  const auto it = keys_.find(upperAscii(channel));
  return it == keys_.end() ? std::string() : it->second;
}

bool IsOwnPingReply(std::string_view text, std::string_view token) {
  if (token.empty() || text.empty() || text.front() != '<') return false;
  const auto close = text.find('>');
  if (close == std::string_view::npos) return false;
  const std::string_view rest = text.substr(close + 1);
  if (rest.size() < 5 || !equalsIgnoreAsciiCase(rest.substr(0, 5), "PONG ")) return false;
  std::string_view last = rest.substr(rest.rfind(' ') + 1);
  if (!last.empty() && last.front() == ':') last.remove_prefix(1);
  return last == token;
}

}  // namespace zorv
