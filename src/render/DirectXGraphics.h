// The binding of the program to the Direct3D 8 runtime library, which is loaded at program
// start and freed at the end. The interface itself (records, constants, the four interfaces)
// is in d3d8/D3D8.h, the layer that the runtime and the shared state also build on.
#pragma once

#include "d3d8/D3D8.h"
#include "platform/InstallLayout.h"

#include <string>

// The runtime library's file name.
inline constexpr const char* Direct3DLibraryName = RuntimeLibraryName;

// Loads the runtime library and resolves "Direct3DCreate8". A missing library or entry point
// is not an error here: Direct3DCreate8 then returns nothing. An empty path means the one rule
// of the program: the library next to the executable (the build tree) if it is there,
// otherwise the one in the installed library folder beside it (<prefix>/lib/stendograph).
void LoadDirect3DLibrary(const char* path = nullptr);
// The file of the loaded runtime library, or empty when none is loaded.
std::string Direct3DLibraryPath();
// Frees the library; later calls of Direct3DCreate8 return nothing.
void FreeDirect3DLibrary();
// The handle of the loaded library, or null (tests resolve their test-only switches by it).
void* Direct3DLibraryHandle();

// Creates the runtime object through the loaded library, or returns null.
IDirect3D8* Direct3DCreate8(UINT SDKVersion);
