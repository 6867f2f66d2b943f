#pragma once
// Logging in while registering: a server password (PASS), and the CAP
// negotiation with SASL PLAIN inside it. The negotiation is a small state
// machine that the command table drives (CAP, AUTHENTICATE, the 90x numerics,
// 421, 451 and the welcome); it can send the password only once per
// connection, and only as the answer to the server's "AUTHENTICATE +" after
// its own "AUTHENTICATE PLAIN".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct InboundLine;

namespace zorv {

class Dispatcher;
struct Output;

// What a connection logs in with; every field may be empty.
struct SaslConfig {
  std::string serverPassword;  // sent as PASS before registering
  std::string account;         // the SASL account; empty: the nick
  std::string password;        // SASL PLAIN is tried when not empty
  bool capabilities = false;   // the capabilities Zorv uses are negotiated
};

// The bytes in base64 (standard alphabet, "=" padding).
std::string Base64(std::string_view bytes);

// The longest AUTHENTICATE payload; a longer answer goes in pieces of this size.
inline constexpr size_t kAuthenticatePiece = 400;
// The payloads that carry an encoded answer: pieces of at most
// kAuthenticatePiece characters, then "+" when the last piece is exactly that
// long (so the server knows the answer has ended).
std::vector<std::string> AuthenticatePieces(std::string_view encoded);

// The parameters of a CAP line from the server: "<nick> <sub> [*] [:]<list>".
struct CapReply {
  std::string_view sub;   // LS, ACK, NAK, NEW, DEL ... as received
  std::string_view list;  // the capabilities, less one leading ":"
  bool more = false;      // "*" before the list: more lines of this reply follow
};
// False when the line has no subcommand.
bool ParseCapReply(std::string_view params, CapReply* out);

// Whether a capability list names cap (bare or as "cap=value", ignoring ASCII
// case); *value is then what follows "=" (empty when bare).
bool FindCapability(std::string_view list, std::string_view cap, std::string_view* value = nullptr);
// Whether a list offers SASL with PLAIN: "sasl" bare (mechanisms not said), or
// "sasl=" with PLAIN among its comma-separated mechanisms.
bool OffersSaslPlain(std::string_view list);

// The capability negotiation of one connection, the SASL login inside it
// included. Opened with "CAP LS 302" when capabilities are wanted or a SASL
// password is set; the capabilities Zorv uses go in one request and "sasl" in
// a request of its own (a refused request costs nothing else); CAP END follows
// once every request is answered and the login is over. A server that answers
// the opening with 421 or 451, or welcomes before any CAP reply, hears nothing
// more about CAP. Later NEW and DEL lines (cap-notify) keep the set current.
class CapNegotiation {
 public:
  enum class Sasl {
    Off,        // no login on this connection
    Wanted,     // a password is set; the list is being read
    Requested,  // CAP REQ :sasl sent
    Mechanism,  // AUTHENTICATE PLAIN sent, waiting for "AUTHENTICATE +"
    Answered,   // the answer sent, waiting for the server's verdict
    Done,       // the login is over (in whatever way)
  };

  CapNegotiation() = default;
  ~CapNegotiation() { Wipe(); }
  CapNegotiation(const CapNegotiation&) = delete;
  CapNegotiation& operator=(const CapNegotiation&) = delete;

  // A new connection: nothing is configured or enabled, the old secret is wiped.
  void Reset();
  // Sends the lines that open the registration, taking the configuration
  // from the frame: "PASS <server password>" when there is one, "CAP LS 302"
  // when capabilities are wanted or there is a SASL password, then NICK and USER.
  void Open(Dispatcher& d, std::string_view nick);

  // The negotiation or a login was opened on this connection (its lines may
  // come without a source).
  bool Configured() const { return open_ || sasl_ != Sasl::Off; }
  // CAP END is still owed to the server.
  bool Negotiating() const { return open_ && !ended_; }
  // Whether the server has acknowledged a capability (bits of Cap in Caps.h).
  bool Has(std::uint32_t bit) const { return (enabled_ & bit) != 0; }
  std::uint32_t Enabled() const { return enabled_; }
  Sasl sasl() const { return sasl_; }

  // Handlers of the command table's rows.
  Output Cap(Dispatcher& d, const InboundLine& l);
  Output Authenticate(Dispatcher& d, const InboundLine& l);
  Output Succeeded(Dispatcher& d, const InboundLine& l);
  Output Failed(Dispatcher& d, const InboundLine& l);
  Output UnknownCommand(Dispatcher& d, const InboundLine& l);
  Output NotRegistered(Dispatcher& d, const InboundLine& l);
  // The welcome arrived: a negotiation still open is ended.
  void Welcomed(Dispatcher& d);

 private:
  void Listed(Dispatcher& d);
  void Answered(Dispatcher& d, std::string_view list, bool ack, bool more);
  void Answer(Dispatcher& d);
  // The login is over: CAP END when nothing else is open, then why (if any).
  void SaslOver(Dispatcher& d, std::string_view why);
  void MaybeEnd(Dispatcher& d);
  // The server knows nothing of CAP: no CAP END, the login given up quietly.
  void GiveUp();
  bool SaslBusy() const { return sasl_ == Sasl::Requested || sasl_ == Sasl::Mechanism || sasl_ == Sasl::Answered; }
  void Wipe();

  bool open_ = false;      // CAP LS sent on this connection
  bool wantCaps_ = false;  // the capabilities Zorv uses are asked for
  bool replied_ = false;   // a CAP reply arrived
  bool listing_ = false;   // reading the LS reply
  bool ended_ = false;     // CAP END sent (or owed no more)
  bool offered_ = false;   // the LS reply offered SASL PLAIN
  std::string wanted_;     // what the LS reply offered of the capabilities Zorv uses
  std::uint32_t asked_ = 0;    // capabilities requested and not yet answered
  std::uint32_t enabled_ = 0;  // capabilities the server acknowledged
  Sasl sasl_ = Sasl::Off;
  std::string account_;
  std::string password_;
};

}  // namespace zorv
