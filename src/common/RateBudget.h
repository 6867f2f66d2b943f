#pragma once
// A budget of things the network may make the program do (answers, windows):
// a burst of `burst`, then one more every `intervalMs` (a token bucket). The
// clock is the local time of day in milliseconds, as the rest of the program
// reads it, so midnight passing is a jump back by nearly a day; a smaller jump
// back is the clock being set back, which refills nothing.
#include <cstdint>

namespace zorv {

class RateBudget {
 public:
  static constexpr int kDayMs = 86400000;

  RateBudget(int burst, int intervalMs)
      : burst_(burst), intervalMs_(intervalMs), budgetMs_(std::int64_t{burst} * intervalMs) {}

  // Takes one at time of day nowMs; false when the budget is spent.
  bool Take(int nowMs);
  // Milliseconds from nowMs until Take would succeed (0: at once).
  int WaitMs(int nowMs) const;

 private:
  int burst_;
  int intervalMs_;
  std::int64_t budgetMs_;
  int lastMs_ = 0;
  bool seen_ = false;

  // The budget at nowMs, as Take would see it.
  std::int64_t BudgetAt(int nowMs) const;
};

}  // namespace zorv
