#pragma once
// Window names: the rules every part of the program uses to name and find a
// conversation window.
#include <string>
#include <string_view>

namespace zorv {

// The caption up to its first blank, less one leading "*".
std::string LeftStr(std::string_view s);

// True for a channel name: it begins with "#" or "&".
bool isChannelName(std::string_view name);

}  // namespace zorv
