// Every test program runs inside a QApplication, as the program's own code does. Under Xvfb
// (DISPLAY set) Qt uses the real X server with Mesa; without a display it falls back to the
// offscreen platform, which is enough for widget and painting tests but has no OpenGL.
#include <QApplication>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <string>
#include <vector>

namespace {

// The system's graphics drivers are unloaded when the display closes at exit, after which the
// leak checker can no longer name them and its suppressions of their leaks miss. Keep every
// loaded library loaded until the process ends.
void PinLoadedLibraries() {
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0')
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &names);
    for (const std::string& name : names)
        dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    PinLoadedLibraries();
    return result;
}

// Leaks inside the system's graphics and font libraries are not ours to fix; everything
// built from this repository is still checked.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libGLX_mesa.so\n"
           "leak:libGLX.so\n"
           "leak:libEGL_mesa.so\n"
           "leak:libgallium\n"
           "leak:swrast_dri.so\n"
           "leak:libLLVM\n"
           "leak:libfontconfig.so\n"
           "leak:libX11.so\n"
           "leak:libxcb.so\n"
           "leak:libdbus-1.so\n"
           "leak:libglib-2.0.so\n";
}
