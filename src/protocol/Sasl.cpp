#include "Sasl.h"

#include <algorithm>
#include <cstdint>

#include "Bytes.h"
#include "Caps.h"
#include "Dispatch.h"
#include "Inbound.h"
#include "WindowNames.h"

namespace zorv {

namespace {

using sv = std::string_view;

constexpr char kNotOffered[] = "*** The server does not offer SASL PLAIN; going on without logging in";
constexpr char kRefused[] = "*** SASL login failed; going on without logging in";
constexpr char kNoCap[] = "*** The server does not know CAP; going on without logging in";
constexpr char kUnfinished[] = "*** The server registered before SASL finished; not logged in";
constexpr char kUnexpected[] = "*** Unexpected AUTHENTICATE from the server ignored";

// Calls each(word) for every word of a blank-separated list.
template <typename Each>
void ForEachWord(sv list, Each each) {
  while (!list.empty()) {
    const auto blank = list.find(' ');
    const sv word = list.substr(0, blank);
    if (!word.empty()) each(word);
    if (blank == sv::npos) break;
    list.remove_prefix(blank + 1);
  }
}

// A parameter that holds a blank or begins with ":" goes as the trailing one.
bool NeedsTrailing(sv param) { return param.empty() || param.front() == ':' || param.find(' ') != sv::npos; }

void Clear(std::string& s) {
  // Overwritten before it is let go, so the secret does not linger in memory.
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = '\0';
  s.clear();
}

}  // namespace

std::string Base64(sv bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[v >> (18 - 6 * k) & 63] : '=';
  }
  return out;
}

std::vector<std::string> AuthenticatePieces(sv encoded) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < encoded.size(); at += kAuthenticatePiece)
    pieces.emplace_back(encoded.substr(at, kAuthenticatePiece));
  if (pieces.empty() || pieces.back().size() == kAuthenticatePiece) pieces.emplace_back("+");
  return pieces;
}

bool ParseCapReply(sv params, CapReply* out) {
  *out = {};
  sv rest = afterBlank(params);  // past the nick
  out->sub = upToBlank(rest);
  if (out->sub.empty() || out->sub.front() == ':') return false;
  rest = afterBlank(rest);
  if (rest == "*" || rest.substr(0, 2) == "* ") {
    out->more = true;
    rest = afterBlank(rest);
  }
  if (!rest.empty() && rest.front() == ':') rest.remove_prefix(1);
  out->list = trimControls(rest);
  return true;
}

bool FindCapability(sv list, sv cap, sv* value) {
  bool found = false;
  ForEachWord(list, [&](sv word) {
    if (found) return;
    const auto eq = word.find('=');
    if (!equalsIgnoreAsciiCase(word.substr(0, eq), cap)) return;
    found = true;
    if (value) *value = eq == sv::npos ? sv() : word.substr(eq + 1);
  });
  return found;
}

bool OffersSaslPlain(sv list) {
  sv mechanisms;
  if (!FindCapability(list, "sasl", &mechanisms)) return false;
  if (mechanisms.empty()) return true;
  for (;;) {
    const auto comma = mechanisms.find(',');
    if (equalsIgnoreAsciiCase(mechanisms.substr(0, comma), "PLAIN")) return true;
    if (comma == sv::npos) return false;
    mechanisms.remove_prefix(comma + 1);
  }
}

void CapNegotiation::Wipe() {
  Clear(account_);
  Clear(password_);
}

void CapNegotiation::Reset() {
  Wipe();
  open_ = wantCaps_ = replied_ = listing_ = ended_ = offered_ = false;
  wanted_.clear();
  asked_ = enabled_ = 0;
  sasl_ = Sasl::Off;
}

void CapNegotiation::Open(Dispatcher& d, sv nick) {
  Reset();
  SaslConfig config = d.frame.Sasl();
  const std::string& pass = config.serverPassword;
  if (!pass.empty()) {
    std::string line = NeedsTrailing(pass) ? "PASS :" + pass : "PASS " + pass;
    d.frame.SendMsg(line);
    Clear(line);
  }
  if (!config.password.empty()) {
    sasl_ = Sasl::Wanted;
    account_ = config.account.empty() ? std::string(nick) : config.account;
    password_ = config.password;
  }
  if (config.capabilities || sasl_ == Sasl::Wanted) {
    open_ = listing_ = true;
    wantCaps_ = config.capabilities;
    d.Send({"CAP LS 302"});
  }
  Clear(config.serverPassword);
  Clear(config.password);
  d.Send({"NICK ", nick});
  d.Send({"USER ", nick, " * * :", nick});
}

void CapNegotiation::MaybeEnd(Dispatcher& d) {
  if (ended_ || listing_ || asked_ != 0 || SaslBusy()) return;
  ended_ = true;
  d.Send({"CAP END"});
}

void CapNegotiation::SaslOver(Dispatcher& d, sv why) {
  sasl_ = Sasl::Done;
  Wipe();
  MaybeEnd(d);
  if (!why.empty()) d.Emit(Show(kServerWindow, why));
}

void CapNegotiation::GiveUp() {
  open_ = listing_ = false;
  ended_ = true;
  asked_ = 0;
  if (sasl_ != Sasl::Off) sasl_ = Sasl::Done;
  Wipe();
}

// The whole LS reply is in: one request for the capabilities Zorv uses, one
// for sasl.
void CapNegotiation::Listed(Dispatcher& d) {
  listing_ = false;
  if (wantCaps_ && !wanted_.empty()) {
    ForEachWord(wanted_, [&](sv name) { asked_ |= CapBit(name); });
    d.Send({"CAP REQ :", wanted_});
  }
  wanted_.clear();
  if (sasl_ != Sasl::Wanted) return MaybeEnd(d);
  if (!offered_) return SaslOver(d, kNotOffered);
  sasl_ = Sasl::Requested;
  d.Send({"CAP REQ :sasl"});
}

// An ACK or NAK: it answers the request whose capabilities it names.
void CapNegotiation::Answered(Dispatcher& d, sv list, bool ack, bool more) {
  std::uint32_t named = 0;
  ForEachWord(list, [&](sv word) {
    const bool off = word.front() == '-';
    const std::uint32_t bit = CapBit(off ? word.substr(1) : word);
    named |= bit;
    if (!ack || !(asked_ & bit)) return;
    enabled_ = off ? enabled_ & ~bit : enabled_ | bit;
  });
  if (named & kSaslCap && sasl_ == Sasl::Requested) {
    if (!ack) return SaslOver(d, kRefused);
    sasl_ = Sasl::Mechanism;
    d.Send({"AUTHENTICATE PLAIN"});
  }
  if (!more && (named & asked_)) {
    asked_ = 0;
    MaybeEnd(d);
  }
}

// :server CAP nick LS * :sasl=PLAIN multi-prefix   (LS, ACK, NAK, NEW, DEL)
// Never shown while a negotiation is open: it is the client's business.
Output CapNegotiation::Cap(Dispatcher& d, const InboundLine& l) {
  CapReply r;
  if (!open_ || !ParseCapReply(l.params, &r)) return ReplyText(d, l);
  replied_ = true;
  const auto is = [&](sv sub) { return equalsIgnoreAsciiCase(r.sub, sub); };
  if (is("LS") && listing_) {
    offered_ = offered_ || OffersSaslPlain(r.list);
    // Several LS lines: what one offers is not asked for again.
    std::uint32_t listed = enabled_;
    ForEachWord(wanted_, [&](sv name) { listed |= CapBit(name); });
    const std::string more = ChooseCapabilities(r.list, listed);
    if (!more.empty()) wanted_ += wanted_.empty() ? more : " " + more;
    if (!r.more) Listed(d);
  } else if (is("ACK") || is("NAK")) {
    Answered(d, r.list, is("ACK"), r.more);
  } else if (is("NEW") && wantCaps_ && !listing_) {
    const std::string more = ChooseCapabilities(r.list, enabled_ | asked_);
    if (!more.empty()) {
      ForEachWord(more, [&](sv name) { asked_ |= CapBit(name); });
      d.Send({"CAP REQ :", more});
    }
  } else if (is("DEL")) {
    ForEachWord(r.list, [&](sv name) { enabled_ &= ~CapBit(name.substr(0, name.find('='))); });
  }
  return kNothing;
}

// AUTHENTICATE +   (the server is ready for the answer)
Output CapNegotiation::Authenticate(Dispatcher& d, const InboundLine& l) {
  if (!open_ && sasl_ == Sasl::Off) return ReplyText(d, l);
  // What the server says here is never shown: the exchange is ours alone.
  if (sasl_ == Sasl::Mechanism && l.params == "+") {
    Answer(d);
    return kNothing;
  }
  if (sasl_ == Sasl::Mechanism) {
    // PLAIN starts with an empty challenge; anything else is given up.
    sasl_ = Sasl::Answered;
    Wipe();
    d.Send({"AUTHENTICATE *"});
  }
  return Show(kServerWindow, kUnexpected);
}

void CapNegotiation::Answer(Dispatcher& d) {
  std::string plain = account_;
  plain += '\0';
  plain += account_;
  plain += '\0';
  plain += password_;
  std::string encoded = Base64(plain);
  Clear(plain);
  sasl_ = Sasl::Answered;
  Wipe();
  std::vector<std::string> pieces = AuthenticatePieces(encoded);
  Clear(encoded);
  for (std::string& piece : pieces) {
    std::string line = "AUTHENTICATE " + piece;
    d.frame.SendMsg(line);
    Clear(line);
    Clear(piece);
  }
}

// :server 903 nick :SASL authentication successful
Output CapNegotiation::Succeeded(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (sasl_ != Sasl::Answered) return shown;
  d.Emit(shown);
  SaslOver(d, {});
  return kNothing;
}

// :server 904 nick :SASL authentication failed   (and 902, 905, 906, 908)
Output CapNegotiation::Failed(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (!SaslBusy()) return shown;
  d.Emit(shown);
  SaslOver(d, kRefused);
  return kNothing;
}

// :server 421 nick CAP :Unknown command
Output CapNegotiation::UnknownCommand(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (!Negotiating()) return shown;
  const sv command = l.Word(1);
  if (equalsIgnoreAsciiCase(command, "CAP")) {
    // No negotiation is open on the server's side: nothing to end.
    const bool login = sasl_ != Sasl::Off;
    GiveUp();
    if (!login) return shown;
    d.Emit(shown);
    return Show(kServerWindow, kNoCap);
  }
  if (!equalsIgnoreAsciiCase(command, "AUTHENTICATE") || !SaslBusy()) return shown;
  d.Emit(shown);
  SaslOver(d, kRefused);
  return kNothing;
}

// :server 451 * :You have not registered   (the answer to CAP of a server without it)
Output CapNegotiation::NotRegistered(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (!Negotiating() || replied_) return shown;
  const bool login = sasl_ != Sasl::Off;
  GiveUp();
  if (!login) return shown;
  d.Emit(shown);
  return Show(kServerWindow, kNoCap);
}

void CapNegotiation::Welcomed(Dispatcher& d) {
  if (!Negotiating()) return;
  const bool login = sasl_ != Sasl::Off && sasl_ != Sasl::Done;
  if (!replied_) {
    GiveUp();
  } else {
    ended_ = true;
    listing_ = false;
    asked_ = 0;
    sasl_ = sasl_ == Sasl::Off ? Sasl::Off : Sasl::Done;
    Wipe();
    d.Send({"CAP END"});
  }
  if (login) d.Emit(Show(kServerWindow, kUnfinished));
}

}  // namespace zorv
