// Mesa's llvmpipe keeps a few small blocks from the first draws for the life of the process
// and reaches them only from its generated code, where the leak checker cannot name their
// owner. Calls into the driver that build such code run inside this guard in sanitizer
// builds, so the leak checker still sees every allocation of ours.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>

namespace d3d8rt {
struct DriverAllocations {
    DriverAllocations() { __lsan_disable(); }
    ~DriverAllocations() { __lsan_enable(); }
    DriverAllocations(const DriverAllocations&) = delete;
    DriverAllocations& operator=(const DriverAllocations&) = delete;
};
} // namespace d3d8rt
#else
namespace d3d8rt {
struct DriverAllocations {
    DriverAllocations() {}
    ~DriverAllocations() {}
};
} // namespace d3d8rt
#endif
