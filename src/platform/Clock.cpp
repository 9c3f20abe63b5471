#include "platform/Clock.h"

#include <chrono>

std::uint64_t TSteadyClock::MilliSeconds() const {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

IClock& SystemClock() {
  static TSteadyClock clock;
  return clock;
}
