// A SOCKS 5 proxy's answer to CONNECT over hostile bytes: the check never
// reads past what it was given, a complete reply claims no more than it was
// given and no more than the longest reply (a 255-byte name: 262 bytes), a
// refusal says why, and a reply that needs more bytes is still undecided
// with one byte fewer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "WSocket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the given size, so that a read past it is caught.
  const std::vector<unsigned char> bytes(data, data + size);
  const std::string shown(bytes.begin(), bytes.end());
  const zorv::TSocksReply r = zorv::WSocketParseSocksReply(bytes.data(), bytes.size());
  switch (r.Status) {
    case zorv::TSocksReply::Done:
      if (r.Length <= 0 || static_cast<size_t>(r.Length) > size || r.Length > 262)
        fuzz::fail("a reply longer than what arrived", shown);
      if (r.BoundPort.empty()) fuzz::fail("a reply without a port", shown);
      if (zorv::WSocketParseSocksReply(bytes.data(), static_cast<size_t>(r.Length) - 1).Status ==
          zorv::TSocksReply::Done)
        fuzz::fail("a reply that is complete before its last byte", shown);
      break;
    case zorv::TSocksReply::Failed:
      if (r.Error == 0 || r.Text.empty()) fuzz::fail("a refusal without a reason", shown);
      break;
    case zorv::TSocksReply::NeedMore:
      if (size >= 262) fuzz::fail("undecided after the longest reply", shown);
      break;
  }
  return 0;
}
