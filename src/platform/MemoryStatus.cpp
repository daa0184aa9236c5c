#include "platform/MemoryStatus.h"

#include <cstdio>
#include <cstring>
#include <sys/sysinfo.h>

TMemoryStatus GlobalMemoryStatus() {
    TMemoryStatus status{};
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        status.TotalPhys = static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
        status.AvailPhys = static_cast<std::uint64_t>(info.freeram) * info.mem_unit;
    }
    // MemAvailable counts reclaimable caches too, which is what "available" means to a user.
    if (std::FILE* meminfo = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, meminfo) != nullptr) {
            unsigned long long kib = 0;
            if (std::sscanf(line, "MemTotal: %llu kB", &kib) == 1)
                status.TotalPhys = kib * 1024u;
            else if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1)
                status.AvailPhys = kib * 1024u;
        }
        std::fclose(meminfo);
    }
    return status;
}

std::uint32_t SaturateToUInt32(std::uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}
