// The millisecond tick counter and sleeping, as the program times everything.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock as an unsigned 32-bit count (it wraps after 49.7 days;
// differences of two readings stay right across the wrap).
std::uint32_t GetTickCount();
void Sleep(std::uint32_t milliseconds);
