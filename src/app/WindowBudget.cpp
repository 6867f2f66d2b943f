#include "WindowBudget.h"

#include <algorithm>

bool WindowBudget::Take(int nowMs) {
  if (clockSeen_) {
    std::int64_t elapsed = std::int64_t{nowMs} - lastMs_;
    if (elapsed < 0) {
      // A jump back by more than half a day is midnight passing; a smaller
      // one is the clock being set back, which refills nothing.
      if (elapsed < -kDayMs / 2) elapsed += kDayMs;
      if (elapsed < 0) elapsed = 0;
    }
    budgetMs_ = std::min<std::int64_t>(budgetMs_ + elapsed, std::int64_t{kBurst} * kIntervalMs);
  }
  clockSeen_ = true;
  lastMs_ = nowMs;
  if (budgetMs_ < kIntervalMs) return false;
  budgetMs_ -= kIntervalMs;
  return true;
}
