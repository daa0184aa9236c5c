// The main block. With a command-line mode (--help, --version, --export, ...) the program runs
// it without any window and ends with its exit status. Otherwise: the application object, its
// title, the three windows in their fixed order, the message loop; the Direct3D runtime
// library is loaded before the windows and freed last.
#include "cli/CommandLine.h"
#include "cli/CommandLineRun.h"
#include "cli/UserFolder.h"
#include "mainwin/IndicForm1.h"
#include "mainwin/VideoMain1.h"
#include "platform/InstallLayout.h"
#include "platform/LeakSuppressions.h"
#include "platform/Translation.h"
#include "render/DirectXGraphics.h"
#include "results/VideoResults1.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Provided by LeakSanitizer in the sanitizer build; absent otherwise.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();

namespace {

int RunWindows(int argc, char** argv) {
    LoadDirect3DLibrary();
    int exitCode = 0;
    {
        QApplication application(argc, argv);
        QApplication::setApplicationName("Стендограф");
        InstallQtRussianTranslation();

        // Creation order matters: the main window identifies the computer and fills the
        // store that the results window reads when it is created.
        auto videoMain = std::make_unique<TVideoMain>();
        // A later copy has only brought the running one to the front: it ends here.
        if (videoMain->SecondCopy()) {
            videoMain.reset();
            FreeDirect3DLibrary();
            return 0;
        }
        VideoMain = videoMain.get();
        auto videoResults = std::make_unique<TVideoResults>(videoMain.get());
        VideoResults = videoResults.get();
        auto indicForm = std::make_unique<TIndicForm>(videoMain.get());
        IndicForm = indicForm.get();

        videoMain->show();
        exitCode = QApplication::exec();
        KeepGraphicsDriversForLeakCheck();

        IndicForm = nullptr;
        VideoResults = nullptr;
        VideoMain = nullptr;
    }
    FreeDirect3DLibrary();
    return exitCode;
}

} // namespace

int main(int argc, char** argv) {
    // Set before anything asks for the user's data folder, which is named after it.
    QCoreApplication::setApplicationName("Стендограф");

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const TParsedCommandLine parsed = ParseCommandLine(arguments);
    if (!parsed.Options) {
        std::fprintf(stderr, "stendograph: %s\nTry 'stendograph --help'.\n",
                     parsed.Error.toUtf8().constData());
        return 2;
    }
    TCommandLineOptions options = *parsed.Options;

    const bool informationOnly =
        options.Mode == TCommandMode::Help || options.Mode == TCommandMode::Version;
    if (!informationOnly && RunningInstalled()) {
        const QString error = EnterUserFolder(
            UserDataFolder(), QString::fromStdString(InstalledDataFolder()), options);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "stendograph: %s\n", error.toUtf8().constData());
            return 2;
        }
    }

    const int status = options.Mode == TCommandMode::Windows ? RunWindows(argc, argv)
                                                             : RunCommandLine(options, argc, argv);
    // In the sanitizer build: check for leaks now and end without the exit-time destructors,
    // while Qt's D-Bus thread (screen saver, accessibility) still runs; its teardown at exit
    // races with the leak checker's own end-of-process check.
    if (__lsan_do_leak_check != nullptr) {
        __lsan_do_leak_check();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

// Read by the sanitizers in the sanitizer build only.
extern "C" const char* __asan_default_options() {
    return SanitizerRuntimeOptions;
}

extern "C" const char* __lsan_default_suppressions() {
    return SystemLibraryLeaks;
}
