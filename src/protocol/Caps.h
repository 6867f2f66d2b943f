#pragma once
// The capabilities Zorv negotiates with CAP, and the message tags some of
// them put before a line. The negotiation itself (LS, REQ, ACK/NAK, NEW/DEL,
// the SASL login inside it, CAP END) is CapNegotiation in Sasl.h.
#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

// One bit per capability Zorv uses.
enum Cap : std::uint32_t {
  kMultiPrefix = 1u << 0,
  kAwayNotify = 1u << 1,
  kAccountNotify = 1u << 2,
  kExtendedJoin = 1u << 3,
  kServerTime = 1u << 4,
  kMessageTags = 1u << 5,
  kBatch = 1u << 6,
  kEchoMessage = 1u << 7,
  kChghost = 1u << 8,
  kSetname = 1u << 9,
  kUserhostInNames = 1u << 10,
  kInviteNotify = 1u << 11,
  kSelfMessage = 1u << 12,
  kCapNotify = 1u << 13,
  kSaslCap = 1u << 14,  // never part of the common request: it goes alone
};

// The bit of a capability name (ignoring ASCII case); 0 for one Zorv does not use.
std::uint32_t CapBit(std::string_view name);

// What to ask for from an offered list ("name" or "name=value" words): the
// capabilities Zorv uses that are offered and not in `have`, in the order
// offered, blank-separated ("" when none). sasl is never among them.
std::string ChooseCapabilities(std::string_view offered, std::uint32_t have);

// The longest tag section taken (the bytes between "@" and the blank).
inline constexpr std::size_t kMaxTagBytes = 8191;

// The value of the tag `key` in a tag section ("a=1;b;c=x\sy"), unescaped
// (\: ; \s blank, \\ \, \r CR, \n LF, any other \x is x, a lone \ at the
// end is dropped). False when the key is missing. Client-only tags ("+key")
// are never found: what other clients attach is not acted on.
bool FindTag(std::string_view tags, std::string_view key, std::string* value);

// A server-time value ("2024-03-05T13:14:15.123Z", UTC) as milliseconds since
// 1970; -1 when it is not one.
long long ParseServerTime(std::string_view value);

}  // namespace zorv
