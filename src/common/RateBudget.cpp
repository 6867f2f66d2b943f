#include "RateBudget.h"

#include <algorithm>

namespace zorv {

bool RateBudget::Take(int nowMs) {
  if (seen_) {
    std::int64_t elapsed = std::int64_t{nowMs} - lastMs_;
    if (elapsed < 0) {
      if (elapsed < -kDayMs / 2) elapsed += kDayMs;  // midnight passed
      if (elapsed < 0) elapsed = 0;                  // the clock was set back
    }
    budgetMs_ = std::min<std::int64_t>(budgetMs_ + elapsed, std::int64_t{burst_} * intervalMs_);
  }
  seen_ = true;
  lastMs_ = nowMs;
  if (budgetMs_ < intervalMs_) return false;
  budgetMs_ -= intervalMs_;
  return true;
}

}  // namespace zorv
