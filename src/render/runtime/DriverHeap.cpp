#include "render/runtime/DriverHeap.h"

#include <malloc.h>

namespace d3d8rt {

void KeepFreedHeap() {
    static const bool set = [] {
        // Both at once: setting either stops glibc from moving them by itself.
        const bool mapped = mallopt(M_MMAP_THRESHOLD, 32 << 20) == 1;
        const bool trimmed = mallopt(M_TRIM_THRESHOLD, 64 << 20) == 1;
        return mapped && trimmed;
    }();
    (void)set;
}

} // namespace d3d8rt
