#include "IgnoreList.h"

#include <algorithm>

#include "Bytes.h"

namespace zorv {
namespace {

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == ',') {
      ++i;
      continue;
    }
    const std::size_t end = std::min(text.find_first_of(" ,", i), text.size());
    out.push_back(text.substr(i, end - i));
    i = end;
  }
  return out;
}

// A nick as given, or the nick of "nick!user@host"; empty when it cannot be one.
std::string_view nickOf(std::string_view word) {
  word = word.substr(0, word.find('!'));
  const bool bad = word.empty() || word.front() == '#' || word.front() == '&' ||
                   std::any_of(word.begin(), word.end(), [](char c) {
                     return static_cast<unsigned char>(c) <= 32 || c == '@' || c == ':';
                   });
  return bad ? std::string_view() : word;
}

}  // namespace

bool IgnoreList::Contains(std::string_view nick) const {
  return std::any_of(nicks_.begin(), nicks_.end(), [&](const std::string& n) { return equalsIgnoreAsciiCase(n, nick); });
}

bool IgnoreList::Add(std::string_view nick) {
  if (Contains(nick)) return false;
  nicks_.emplace_back(nick);
  return true;
}

bool IgnoreList::Remove(std::string_view nick) {
  const auto it = std::find_if(nicks_.begin(), nicks_.end(),
                               [&](const std::string& n) { return equalsIgnoreAsciiCase(n, nick); });
  if (it == nicks_.end()) return false;
  nicks_.erase(it);
  return true;
}

std::vector<std::string> IgnoreList::Command(std::string_view args) {
  std::vector<std::string> out;
  const std::vector<std::string_view> given = words(args);
  if (given.empty()) {
    out.push_back(nicks_.empty() ? std::string("*** Nobody is ignored") : "*** Ignored: " + Joined());
    return out;
  }
  for (const std::string_view word : given) {
    const bool remove = word.front() == '-';
    const std::string_view nick = nickOf(remove ? word.substr(1) : word);
    if (nick.empty()) {
      out.push_back("*** Not a nick: " + std::string(word) + " (USAGE: /IGNORE [-]<nick>)");
    } else if (remove) {
      out.push_back(Remove(nick) ? "*** No longer ignoring " + std::string(nick)
                                 : "*** " + std::string(nick) + " is not ignored");
    } else {
      out.push_back(Add(nick) ? "*** Ignoring " + std::string(nick)
                              : "*** " + std::string(nick) + " is ignored already");
    }
  }
  return out;
}

std::string IgnoreList::Joined() const {
  std::string text;
  for (const std::string& n : nicks_) text += (text.empty() ? "" : " ") + n;
  return text;
}

void IgnoreList::SetJoined(std::string_view text) {
  nicks_.clear();
  for (const std::string_view word : words(text)) {
    const std::string_view nick = nickOf(word);
    if (!nick.empty()) Add(nick);
  }
}

}  // namespace zorv
