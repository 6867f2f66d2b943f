#pragma once
// How many private windows the network may open: a burst of kBurst windows,
// then one more every kIntervalMs (a token bucket). The clock is the local time
// of day in milliseconds, as the rest of the program reads it, so midnight
// passing is a jump back by nearly a day.
#include <cstdint>

class WindowBudget {
 public:
  static constexpr int kBurst = 10;
  static constexpr int kIntervalMs = 1000;
  static constexpr int kDayMs = 86400000;

  // Takes one window from the budget at time of day `nowMs`; false when the
  // budget is spent.
  bool Take(int nowMs);

 private:
  std::int64_t budgetMs_ = std::int64_t{kBurst} * kIntervalMs;
  int lastMs_ = 0;
  bool clockSeen_ = false;
};
