// Every test program runs inside a QApplication, as the program's own code does. Under Xvfb
// (DISPLAY set) Qt uses the real X server with Mesa; without a display it falls back to the
// offscreen platform, which is enough for widget and painting tests but has no OpenGL.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
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
