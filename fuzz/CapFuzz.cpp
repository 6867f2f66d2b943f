// The capability negotiation, the SASL login inside it and tagged lines over
// hostile bytes: the registration opens with capabilities and a SASL password,
// and the first byte chooses how much of a scripted opening (LS, ACK of every
// capability, the login) comes before the fuzzed stream. Besides the checks
// of the frame (nothing sent that nobody asked for, the password only in its
// one answer), a line's own time is always given back, and every batch shown
// is closed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzFrame.h"
#include "Inbound.h"

namespace {

class CapFrame : public fuzz::CheckingFrame {
 public:
  void SaidAt(long long ms) override {
    if ((ms != 0) == said_) fuzz::fail("the time of a line not given back", std::to_string(ms));
    said_ = ms != 0;
  }
  void Batch(bool open) override {
    if (open == inBatch_) fuzz::fail("a batch opened twice or closed unopened", open ? "open" : "close");
    inBatch_ = open;
  }
  void Check() const {
    if (said_ || inBatch_) fuzz::fail("left inside a line's time or a batch", "");
  }

 private:
  bool said_ = false, inBatch_ = false;
};

constexpr const char* kOpening[] = {
    ":srv CAP * LS * :multi-prefix away-notify account-notify extended-join server-time sasl=PLAIN\r\n",
    ":srv CAP * LS :message-tags batch echo-message chghost setname userhost-in-names invite-notify\r\n",
    ":srv CAP me ACK :multi-prefix away-notify account-notify extended-join server-time message-tags batch "
    "echo-message chghost setname userhost-in-names invite-notify\r\n",
    ":srv CAP me ACK :sasl\r\n", "AUTHENTICATE +\r\n"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 32 * 64;
  const size_t scripted = data[0] % 6;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  CapFrame frame;
  frame.capabilities = true;
  InboundEngine engine(frame);
  frame.checkSecret = !frame.NetworkHoldsSecret(bytes);
  frame.opening = true;
  engine.Register("me");
  frame.opening = false;
  std::string stream;
  for (size_t i = 0; i < scripted; ++i) stream += kOpening[i];
  stream.append(bytes);
  std::string_view rest = stream;
  while (!rest.empty()) {
    engine.DataAvailable([&](char* buf, int room) {
      if (room <= 0) fuzz::fail("receive offered no room", rest);
      const size_t n = std::min({rest.size(), chunk, static_cast<size_t>(room)});
      std::copy_n(rest.data(), n, buf);
      rest.remove_prefix(n);
      return static_cast<int>(n);
    });
    frame.Check();
  }
  return 0;
}
