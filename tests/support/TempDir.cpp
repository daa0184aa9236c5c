#include "TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

TempDir::TempDir(bool enter) : entered_(enter) {
    std::string pattern = (std::filesystem::temp_directory_path() / "stendograph-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (entered_) {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (entered_)
        std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}
