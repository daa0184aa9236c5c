#include "render/DirectXGraphics.h"

#include <dlfcn.h>
#include <filesystem>
#include <link.h>
#include <string>
#include <system_error>

namespace {

void* LibraryHandle = nullptr;
Direct3DCreate8Proc CreateProc = nullptr;

// The library next to the executable (the build tree), otherwise the installed one. Both by
// full path: a library lookup by name would depend on the environment's search path, and on
// whether the dlopen is interposed (the sanitizers do), which hides the program's RUNPATH.
std::string DefaultLibrary() {
    const auto folder = ExecutableFolder();
    std::error_code error;
    if (folder.empty())
        return Direct3DLibraryName;
    if (std::filesystem::exists(folder / Direct3DLibraryName, error))
        return (folder / Direct3DLibraryName).string();
    return (InstalledLibraryFolder() / Direct3DLibraryName).string();
}

} // namespace

void LoadDirect3DLibrary(const char* path) {
    FreeDirect3DLibrary();
    const std::string file = (path != nullptr && *path != '\0') ? path : DefaultLibrary();
    LibraryHandle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (LibraryHandle == nullptr)
        return;
    CreateProc = reinterpret_cast<Direct3DCreate8Proc>(dlsym(LibraryHandle, Direct3DCreate8Symbol));
}

void FreeDirect3DLibrary() {
    CreateProc = nullptr;
    if (LibraryHandle != nullptr)
        dlclose(LibraryHandle);
    LibraryHandle = nullptr;
}

std::string Direct3DLibraryPath() {
    link_map* map = nullptr;
    if (LibraryHandle == nullptr || dlinfo(LibraryHandle, RTLD_DI_LINKMAP, &map) != 0 ||
        map == nullptr || map->l_name == nullptr)
        return {};
    return map->l_name;
}

void* Direct3DLibraryHandle() {
    return LibraryHandle;
}

IDirect3D8* Direct3DCreate8(UINT SDKVersion) {
    return CreateProc != nullptr ? CreateProc(SDKVersion) : nullptr;
}
