#include "render/DirectXGraphics.h"

#include <dlfcn.h>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

void* LibraryHandle = nullptr;
Direct3DCreate8Proc CreateProc = nullptr;

std::string LibraryNextToExecutable() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return Direct3DLibraryName;
    return (exe.parent_path() / Direct3DLibraryName).string();
}

} // namespace

void LoadDirect3DLibrary(const char* path) {
    FreeDirect3DLibrary();
    const std::string file = (path != nullptr && *path != '\0') ? path : LibraryNextToExecutable();
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

void* Direct3DLibraryHandle() {
    return LibraryHandle;
}

IDirect3D8* Direct3DCreate8(UINT SDKVersion) {
    return CreateProc != nullptr ? CreateProc(SDKVersion) : nullptr;
}
