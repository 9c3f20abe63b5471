#pragma once
#include <cstdint>

// A millisecond tick counter (the elapsed-time reports and the pump throttle use it).
// Tests replace it with a clock they step by hand.
class IClock {
public:
  virtual ~IClock() = default;
  virtual std::uint64_t MilliSeconds() const = 0;
};

// Monotonic: never jumps when the wall clock is set.
class TSteadyClock final : public IClock {
public:
  std::uint64_t MilliSeconds() const override;
};

// The process-wide clock used when nobody hands in another one.
IClock& SystemClock();
