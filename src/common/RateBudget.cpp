#include "RateBudget.h"

#include <algorithm>

namespace zorv {

std::int64_t RateBudget::BudgetAt(int nowMs) const {
  if (!seen_) return budgetMs_;
  std::int64_t elapsed = std::int64_t{nowMs} - lastMs_;
  if (elapsed < 0) {
    if (elapsed < -kDayMs / 2) elapsed += kDayMs;  // midnight passed
    if (elapsed < 0) elapsed = 0;                  // the clock was set back
  }
  return std::min<std::int64_t>(budgetMs_ + elapsed, std::int64_t{burst_} * intervalMs_);
}

int RateBudget::WaitMs(int nowMs) const {
  return static_cast<int>(std::max<std::int64_t>(0, intervalMs_ - BudgetAt(nowMs)));
}

bool RateBudget::Take(int nowMs) {
  budgetMs_ = BudgetAt(nowMs);
  seen_ = true;
  lastMs_ = nowMs;
  if (budgetMs_ < intervalMs_) return false;
  budgetMs_ -= intervalMs_;
  return true;
}

}  // namespace zorv
