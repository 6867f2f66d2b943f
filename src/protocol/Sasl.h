#pragma once
// Logging in while registering: a server password (PASS) and SASL PLAIN
// negotiated through CAP. The exchange is a small state machine that the
// command table drives (CAP, AUTHENTICATE, the 90x numerics, 421 and the
// welcome); it can send the password only once per connection, and only as
// the answer to the server's "AUTHENTICATE +" after its own
// "AUTHENTICATE PLAIN".
#include <cstddef>
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

class SaslExchange {
 public:
  enum class Step {
    Off,        // nothing configured for this connection: every line as before
    Listing,    // CAP LS sent, reading the list
    Requested,  // CAP REQ :sasl sent
    Mechanism,  // AUTHENTICATE PLAIN sent, waiting for "AUTHENTICATE +"
    Answered,   // the answer sent, waiting for the server's verdict
    Done,       // capability negotiation is over for this connection
  };

  SaslExchange() = default;
  ~SaslExchange() { Wipe(); }
  SaslExchange(const SaslExchange&) = delete;
  SaslExchange& operator=(const SaslExchange&) = delete;

  // A new connection: nothing is configured, the old secret is wiped.
  void Reset();
  // Sends the lines that open the registration, taking the configuration
  // from the frame: "PASS <server password>" when there is one, "CAP LS 302"
  // when there is a SASL password, then NICK and USER.
  void Open(Dispatcher& d, std::string_view nick);

  Step step() const { return step_; }
  // A password was configured for this connection (the exchange may be over).
  bool Configured() const { return step_ != Step::Off; }
  // The negotiation is still open: CAP END is owed to the server.
  bool Negotiating() const { return step_ != Step::Off && step_ != Step::Done; }

  // Handlers of the command table's rows.
  Output Cap(Dispatcher& d, const InboundLine& l);
  Output Authenticate(Dispatcher& d, const InboundLine& l);
  Output Succeeded(Dispatcher& d, const InboundLine& l);
  Output Failed(Dispatcher& d, const InboundLine& l);
  Output UnknownCommand(Dispatcher& d, const InboundLine& l);
  // The welcome arrived: a negotiation still open is ended.
  void Welcomed(Dispatcher& d);

 private:
  void Answer(Dispatcher& d);
  // Ends the negotiation with CAP END and says why (nothing for success).
  void End(Dispatcher& d, std::string_view why);
  void Wipe();

  Step step_ = Step::Off;
  bool offered_ = false;  // an LS line so far offered SASL PLAIN
  std::string account_;
  std::string password_;
};

}  // namespace zorv
