// Physical memory of this computer, as the program records it.
#pragma once

#include <cstdint>

struct TMemoryStatus {
    std::uint64_t TotalPhys; // bytes
    std::uint64_t AvailPhys; // bytes the system can give without swapping (MemAvailable)
};

TMemoryStatus GlobalMemoryStatus();

// A 64-bit byte count in a 32-bit field of a stored record: saturates at 4,294,967,295.
std::uint32_t SaturateToUInt32(std::uint64_t value);
