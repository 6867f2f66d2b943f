#include "Completion.h"

#include <algorithm>
#include <string_view>

namespace zorv {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), s.begin(), [](char a, char b) { return lower(a) == lower(b); });
}

// A nick list entry less the marks before the nick.
std::string_view bareNick(std::string_view entry) {
  const std::size_t at = entry.find_first_not_of("@+%~&!");
  return at == std::string_view::npos ? std::string_view{} : entry.substr(at);
}

}  // namespace

NickCompleter::Result NickCompleter::complete(const std::string& text, std::size_t caret,
                                              const std::vector<std::string>& nicks,
                                              const std::vector<std::string>& channels, bool back) {
  caret = std::min(caret, text.size());
  if (cycling_ && text == lastText_ && caret == lastCaret_ && !candidates_.empty()) {
    const std::size_t n = candidates_.size();
    index_ = back ? (index_ + n - 1) % n : (index_ + 1) % n;
    return show();
  }
  cycling_ = false;
  std::size_t start = caret;
  while (start > 0 && text[start - 1] != ' ') --start;
  const std::string_view word(text.data() + start, caret - start);
  if (word.empty()) return {false, text, caret};

  candidates_.clear();
  const bool channel = word.front() == '#';
  if (channel) {
    for (const std::string& name : channels)
      if (startsWithNoCase(name, word)) candidates_.push_back(name);
  } else {
    for (const std::string& entry : nicks) {
      const std::string_view nick = bareNick(entry);
      if (!nick.empty() && startsWithNoCase(nick, word)) candidates_.emplace_back(nick);
    }
  }
  // The same nick listed twice (with and without a mark) is offered once.
  std::vector<std::string> unique;
  for (std::string& c : candidates_)
    if (std::find(unique.begin(), unique.end(), c) == unique.end()) unique.push_back(std::move(c));
  candidates_ = std::move(unique);
  if (candidates_.empty()) return {false, text, caret};

  head_ = text.substr(0, start);
  tail_ = text.substr(caret);
  lineStart_ = !channel && start == 0;
  index_ = back ? candidates_.size() - 1 : 0;
  cycling_ = true;
  return show();
}

NickCompleter::Result NickCompleter::show() {
  const std::string& pick = candidates_[index_];
  // A blank already after the caret is not doubled.
  std::string after = lineStart_ ? ":" : "";
  if (tail_.empty() || tail_.front() != ' ') after += ' ';
  Result r{true, head_ + pick + after, 0};
  r.caret = head_.size() + pick.size() + after.size();
  if (!tail_.empty() && tail_.front() == ' ') ++r.caret;
  r.text += tail_;
  lastText_ = r.text;
  lastCaret_ = r.caret;
  return r;
}

}  // namespace zorv
