// Every test program runs inside a QApplication, as the program's own code does. Programs that
// draw through the runtime use the X server (Xvfb with Mesa); the others, and any program run
// without a display, use Qt's offscreen platform, which paints but has no OpenGL.
#include "platform/LeakSuppressions.h"
#include "platform/Translation.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

// Provided by LeakSanitizer in the sanitizer build; absent otherwise.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();

int main(int argc, char** argv) {
#ifdef STENDO_TEST_OFFSCREEN
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
#else
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
#ifdef STENDO_TEST_WINDOWS
    // Qt's own dialogs speak the windows' Russian, as in the program's windows.
    InstallQtRussianTranslation();
#endif
    const int result = RUN_ALL_TESTS();
    // The drivers are unloaded when the display closes at exit, after which the leak checker
    // could no longer name them: keep every library loaded until the process ends.
    PinLoadedLibraries();
    // Check for leaks now, with the application still alive, and end without running the
    // exit-time destructors: Qt's accessibility bridge keeps a D-Bus thread running to the
    // end, and tearing it down at exit races with the leak checker's own end-of-process
    // check (half-freed D-Bus objects, or a thread destroyed while running). What the tests
    // leaked is unreachable either way and is reported here.
    if (__lsan_do_leak_check != nullptr)
        __lsan_do_leak_check();
    std::fflush(nullptr);
    std::_Exit(result);
}

extern "C" const char* __asan_default_options() {
    return SanitizerRuntimeOptions;
}

extern "C" const char* __lsan_default_suppressions() {
    return SystemLibraryLeaks;
}
