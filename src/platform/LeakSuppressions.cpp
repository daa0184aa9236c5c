#include "platform/LeakSuppressions.h"

#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <vector>

// Provided by LeakSanitizer in the sanitizer build; absent otherwise.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();

void PinLoadedLibraries(const char* nameContains) {
    struct Search {
        const char* Part;
        std::vector<std::string> Names;
    } search{nameContains, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* found = static_cast<Search*>(data);
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' &&
                (found->Part == nullptr || std::strstr(info->dlpi_name, found->Part) != nullptr))
                found->Names.push_back(info->dlpi_name);
            return 0;
        },
        &search);
    for (const std::string& name : search.Names)
        dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void KeepGraphicsDriversForLeakCheck() {
    if (__lsan_do_leak_check != nullptr)
        PinLoadedLibraries("_dri.so");
}
