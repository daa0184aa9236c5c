#include "platform/MemoryStatus.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {

// The value in kB of one "Name:   value kB" line of /proc/meminfo, or 0.
std::uint64_t MeminfoKib(const char* text, const char* name) {
    const char* line = std::strstr(text, name);
    return line != nullptr ? std::strtoull(line + std::strlen(name), nullptr, 10) : 0;
}

} // namespace

TMemoryStatus GlobalMemoryStatus() {
    TMemoryStatus status{};
    struct sysinfo info {};
    if (sysinfo(&info) == 0) {
        status.TotalPhys = static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
        status.AvailPhys = static_cast<std::uint64_t>(info.freeram) * info.mem_unit;
    }
    // MemAvailable counts reclaimable caches too, which is what "available" means to a user.
    // Read into a stack buffer: the benchmark asks after every frame and must not allocate.
    const int fd = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char text[4096];
        const ssize_t length = read(fd, text, sizeof text - 1);
        close(fd);
        if (length > 0) {
            text[length] = '\0';
            if (const std::uint64_t total = MeminfoKib(text, "MemTotal:"))
                status.TotalPhys = total * 1024u;
            if (const std::uint64_t available = MeminfoKib(text, "MemAvailable:"))
                status.AvailPhys = available * 1024u;
        }
    }
    return status;
}

std::uint32_t SaturateToUInt32(std::uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}
