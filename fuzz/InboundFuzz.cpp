// The inbound engine over hostile bytes: the first byte chooses how many bytes
// each data event offers (and, by its top bit, whether capabilities are asked
// for, so that tagged lines are read), the rest is the stream from the server.
// The registration opens with a SASL password configured, so the login
// exchange is fuzzed too. The frame aborts on anything the network must not cause
// (see FuzzFrame.h).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzFrame.h"
#include "Inbound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 128 * 4;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::CheckingFrame frame;
  frame.capabilities = (data[0] & 128) != 0;
  InboundEngine engine(frame);
  frame.checkSecret = !frame.NetworkHoldsSecret(bytes);
  frame.opening = true;
  engine.Register("me");
  frame.opening = false;
  while (!bytes.empty()) {
    engine.DataAvailable([&](char* buf, int room) {
      if (room <= 0) fuzz::fail("receive offered no room", bytes);
      const size_t n = std::min({bytes.size(), chunk, static_cast<size_t>(room)});
      std::copy_n(bytes.data(), n, buf);
      bytes.remove_prefix(n);
      return static_cast<int>(n);
    });
  }
  return 0;
}
