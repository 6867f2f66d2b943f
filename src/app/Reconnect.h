#pragma once
// The rules of staying connected, as plain functions: how long to wait before
// the next connect attempt, which JOIN lines bring the open channels back,
// which channel keys the user gave, and which server line answers our own
// keep-alive check.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zorv {

struct ReconnectPolicy {
  int firstDelayMs = 10000;  // the wait before the first attempt
  int maxDelayMs = 300000;   // the wait doubles up to this
  int spreadPercent = 10;    // up to this share of the wait is taken off at random
};

// The wait before connect attempt number `attempt` (0 for the first one after
// a loss): the first delay doubled per attempt, never above the cap, less a
// random part (from `random`) of at most spreadPercent, so that many clients
// dropped together do not all come back in the same second.
int ReconnectDelayMs(int attempt, std::uint32_t random, const ReconnectPolicy& policy = {});

// Whole seconds shown for a wait (rounded up, so a wait never reads as 0).
int DelaySeconds(int delayMs);

struct ChannelToJoin {
  std::string name;
  std::string key;  // empty: none
};

// The JOIN lines that join every given channel, as few as fit in maxLine bytes
// each (without CR LF). Channels with a key come first in each line, since a
// server pairs keys with channels by position. A name that could not travel
// in a JOIN list (empty, holding a blank, comma or control byte) or that does
// not fit a line alone is left out; so is a key that could not travel.
std::vector<std::string> JoinLines(const std::vector<ChannelToJoin>& channels, std::size_t maxLine = 510);

// The channels of the settings file's "Channels" value, written as JOIN takes
// them: names separated by commas, then after a blank their keys by position
// ("#a,#b,#c keyA,keyB"). Blanks after a comma are allowed; a name without a
// channel sign gets "#"; empty names are left out.
std::vector<ChannelToJoin> ChannelsSetting(std::string_view text);

// The channels of both lists, each once (names compared ignoring ASCII
// case): first's order and keys win, then second's.
std::vector<ChannelToJoin> MergeChannels(std::vector<ChannelToJoin> first, const std::vector<ChannelToJoin>& second);

// The keys the user gave to channels, learnt from the JOIN lines sent.
class ChannelKeys {
 public:
  // Reads one outgoing line (without CR LF); only "JOIN <channels> <keys>" counts.
  void NoteSent(std::string_view line);
  // The key last given for the channel (its name compared ignoring ASCII case), or "".
  std::string KeyOf(std::string_view channel) const;

 private:
  std::unordered_map<std::string, std::string> keys_;
};

// Whether a line written for the Server window is the server's answer to our
// own keep-alive PING carrying `token`: "<server>PONG <server> :<token>" (the
// colon optional). The answer is bookkeeping, never shown.
bool IsOwnPingReply(std::string_view text, std::string_view token);

}  // namespace zorv
