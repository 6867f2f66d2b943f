#pragma once
// A broken invariant in a fuzz target: says what broke and aborts, so that
// libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "fuzz invariant broken: %s: %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace fuzz
