#pragma once
// How many private windows the network may open: a burst of kBurst windows,
// then one more every kIntervalMs.
#include "RateBudget.h"

class WindowBudget : public zorv::RateBudget {
 public:
  static constexpr int kBurst = 10;
  static constexpr int kIntervalMs = 1000;

  WindowBudget() : RateBudget(kBurst, kIntervalMs) {}
};
