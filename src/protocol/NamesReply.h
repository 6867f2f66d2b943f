#pragma once
// The channel and the names of a names reply (353) or end-of-names reply (366).
#include <string>
#include <string_view>

namespace zorv {

// p is the reply's parameter text less its first parameter (the own nick),
// e.g. "= #chat :@alice bob" or "#chat :End of /NAMES list.".
// The channel-type sign before the channel is skipped. Returns false when no
// channel can be found (the reply then changes nothing). On success *channel
// is the channel and *names the blank-separated names followed by one blank
// (either pointer may be null).
bool NamesReplyChannel(std::string_view p, std::string* channel, std::string* names);

}  // namespace zorv
