#include "platform/InstallLayout.h"

#include <system_error>

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

std::filesystem::path InstalledLibraryFolder() {
    return (ExecutableFolder() / STENDO_INSTALLED_LIBRARY_FOLDER).lexically_normal();
}

std::filesystem::path InstalledDataFolder() {
    return (ExecutableFolder() / STENDO_INSTALLED_DATA_FOLDER).lexically_normal();
}

bool RunningInstalled() {
    const auto folder = ExecutableFolder();
    if (folder.empty())
        return false;
    std::error_code error;
    return !std::filesystem::exists(folder / RuntimeLibraryName, error) &&
           std::filesystem::exists(InstalledLibraryFolder() / RuntimeLibraryName, error);
}
