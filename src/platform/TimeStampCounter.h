// The processor's cycle counter, for the clock-rate estimate.
#pragma once

#include <cstdint>

// The full 64-bit count of processor clock ticks (the time-stamp counter on x86-64; the
// virtual counter on AArch64; elsewhere nanoseconds of a raw monotonic clock).
std::uint64_t ReadTimeStampCounter();
