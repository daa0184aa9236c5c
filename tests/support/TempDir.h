#pragma once
#include <filesystem>

// A fresh folder under the system's temporary directory, removed with everything in it when
// the object goes. With enter = true it is also the working directory until then, because
// the program keeps its files in the working directory.
class TempDir {
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
    bool entered_;
};
