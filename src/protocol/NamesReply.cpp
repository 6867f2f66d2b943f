#include "NamesReply.h"

namespace zorv {

bool NamesReplyChannel(std::string_view p, std::string* channel, std::string* names) {
  // Start at the channel: the first "#" or "&". This skips the "=", "*" or "@"
  // sign of a 353 reply; a text that already begins with the channel stays.
  // Taking the first of either sign (rather than preferring "#") keeps channel
  // names such as "#a&b" and "&a#b" whole.
  const auto start = p.find_first_of("#&");
  if (start != std::string_view::npos) p.remove_prefix(start);

  const auto blank = p.find(' ');
  if (blank == std::string_view::npos || blank == 0) return false;
  if (channel) channel->assign(p.substr(0, blank));

  if (names) {
    // The names are the trailing text after the ":" that follows the channel;
    // without a ":" they are the words after the channel (never the channel
    // itself).
    std::string_view rest = p.substr(blank + 1);
    const auto colon = rest.find(':');
    if (colon != std::string_view::npos) rest.remove_prefix(colon + 1);
    names->assign(rest);
    names->push_back(' ');
  }
  return true;
}

}  // namespace zorv
