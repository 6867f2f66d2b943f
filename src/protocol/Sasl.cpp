#include "Sasl.h"

#include <algorithm>
#include <cstdint>

#include "Bytes.h"
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

void SaslExchange::Wipe() {
  Clear(account_);
  Clear(password_);
}

void SaslExchange::Reset() {
  Wipe();
  step_ = Step::Off;
  offered_ = false;
}

void SaslExchange::Open(Dispatcher& d, sv nick) {
  Reset();
  SaslConfig config = d.frame.Sasl();
  const std::string& pass = config.serverPassword;
  if (!pass.empty()) {
    std::string line = NeedsTrailing(pass) ? "PASS :" + pass : "PASS " + pass;
    d.frame.SendMsg(line);
    Clear(line);
  }
  if (!config.password.empty()) {
    step_ = Step::Listing;
    account_ = config.account.empty() ? std::string(nick) : config.account;
    password_ = config.password;
    d.Send({"CAP LS 302"});
  }
  Clear(config.serverPassword);
  Clear(config.password);
  d.Send({"NICK ", nick});
  d.Send({"USER ", nick, " * * :", nick});
}

void SaslExchange::End(Dispatcher& d, sv why) {
  step_ = Step::Done;
  Wipe();
  d.Send({"CAP END"});
  if (!why.empty()) d.Emit(Show(kServerWindow, why));
}

// :server CAP nick LS * :sasl=PLAIN multi-prefix   (LS, ACK, NAK)
Output SaslExchange::Cap(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  CapReply r;
  if (!Negotiating() || !ParseCapReply(l.params, &r)) return shown;
  d.Emit(shown);
  if (step_ == Step::Listing && equalsIgnoreAsciiCase(r.sub, "LS")) {
    offered_ = offered_ || OffersSaslPlain(r.list);
    if (r.more) return kNothing;
    if (!offered_) {
      End(d, kNotOffered);
      return kNothing;
    }
    step_ = Step::Requested;
    d.Send({"CAP REQ :sasl"});
  } else if (step_ == Step::Requested && FindCapability(r.list, "sasl")) {
    if (equalsIgnoreAsciiCase(r.sub, "ACK")) {
      step_ = Step::Mechanism;
      d.Send({"AUTHENTICATE PLAIN"});
    } else if (equalsIgnoreAsciiCase(r.sub, "NAK")) {
      End(d, kRefused);
    }
  }
  return kNothing;
}

// AUTHENTICATE +   (the server is ready for the answer)
Output SaslExchange::Authenticate(Dispatcher& d, const InboundLine& l) {
  if (!Configured()) return ReplyText(d, l);
  // What the server says here is never shown: the exchange is ours alone.
  if (step_ == Step::Mechanism && l.params == "+") {
    Answer(d);
    return kNothing;
  }
  if (step_ == Step::Mechanism) {
    // PLAIN starts with an empty challenge; anything else is given up.
    step_ = Step::Answered;
    Wipe();
    d.Send({"AUTHENTICATE *"});
  }
  return Show(kServerWindow, kUnexpected);
}

void SaslExchange::Answer(Dispatcher& d) {
  std::string plain = account_;
  plain += '\0';
  plain += account_;
  plain += '\0';
  plain += password_;
  std::string encoded = Base64(plain);
  Clear(plain);
  step_ = Step::Answered;
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
Output SaslExchange::Succeeded(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (step_ != Step::Answered) return shown;
  d.Emit(shown);
  End(d, {});
  return kNothing;
}

// :server 904 nick :SASL authentication failed   (and 902, 905, 906, 908)
Output SaslExchange::Failed(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (!Negotiating()) return shown;
  d.Emit(shown);
  End(d, kRefused);
  return kNothing;
}

// :server 421 nick CAP :Unknown command
Output SaslExchange::UnknownCommand(Dispatcher& d, const InboundLine& l) {
  const Output shown = ReplyText(d, l);
  if (!Negotiating()) return shown;
  const sv command = l.Word(1);
  if (equalsIgnoreAsciiCase(command, "CAP")) {
    // No negotiation is open on the server's side: nothing to end.
    d.Emit(shown);
    step_ = Step::Done;
    Wipe();
    return Show(kServerWindow, kNoCap);
  }
  if (!equalsIgnoreAsciiCase(command, "AUTHENTICATE")) return shown;
  d.Emit(shown);
  End(d, kRefused);
  return kNothing;
}

void SaslExchange::Welcomed(Dispatcher& d) {
  if (Negotiating()) End(d, kUnfinished);
}

}  // namespace zorv
