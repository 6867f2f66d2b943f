// Line assembly: however the bytes are cut into receive events, the engine
// must do exactly the same as when it gets them in events of the largest size.
// The input's first bytes are the schedule of event sizes (0 means "nothing
// received this time"), after a 0xFF byte comes the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzFrame.h"
#include "Inbound.h"

namespace {

std::vector<std::string> run(std::string_view bytes, const std::vector<int>& schedule) {
  fuzz::CheckingFrame frame;
  InboundEngine engine(frame);
  size_t step = 0;
  int idle = 0;
  while (!bytes.empty()) {
    int want = schedule.empty() ? InboundEngine::kBufferSize : schedule[step++ % schedule.size()];
    // A schedule of only zeros would never end: after many empty events the
    // rest comes in events of the largest size.
    if (want == 0 && ++idle > 64) want = InboundEngine::kBufferSize;
    engine.DataAvailable([&](char* buf, int room) {
      if (room <= 0) fuzz::fail("receive offered no room", bytes);
      const size_t n = std::min({bytes.size(), static_cast<size_t>(want), static_cast<size_t>(room)});
      std::copy_n(bytes.data(), n, buf);
      bytes.remove_prefix(n);
      return static_cast<int>(n);
    });
  }
  return frame.calls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\xff');
  if (split == std::string_view::npos || split > 32) return 0;
  std::vector<int> schedule;
  for (size_t i = 0; i < split; ++i) schedule.push_back(static_cast<uint8_t>(input[i]) * 5);
  const std::string_view stream = input.substr(split + 1);
  const auto cut = run(stream, schedule), whole = run(stream, {});
  if (cut != whole) {
    size_t i = 0;
    while (i < cut.size() && i < whole.size() && cut[i] == whole[i]) ++i;
    std::fprintf(stderr, "call %zu: cut \"%s\" whole \"%s\"\n", i, i < cut.size() ? cut[i].c_str() : "<none>",
                 i < whole.size() ? whole[i].c_str() : "<none>");
    fuzz::fail("the cutting of the stream changed what happened", stream);
  }
  return 0;
}
