// The main window's start-up (FormCreate, through the window's constructor) without the
// processor clock estimate, which takes its own three seconds: once with no Results.bin and
// once with a Results.bin of 10,000 computers with 20 results each. Prints the milliseconds of
// each and the peak resident memory. Run under an X server (the mode test and the adapter's
// identity need the screen and OpenGL).
#include "LargeStore.h"
#include "ToolArguments.h"
#include "mainwin/VideoMain1.h"
#include "render/DirectXGraphics.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>

namespace {

double StartUpMilliseconds() {
    Computers.clear();
    ComputerDevices.clear();
    ComputerResults.clear();
    TVideoMainStartUp startUp;
    startUp.MeasureCpuMhz = [] { return 2400; };
    startUp.CopyTitle = QStringLiteral("bench_startup %1").arg(QCoreApplication::applicationPid());
    const auto start = std::chrono::steady_clock::now();
    TVideoMain window(nullptr, startUp);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

long PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    if (const auto status = ReadToolArguments(
            parser, "bench_startup",
            "Times the main window's start-up without a results file and with one of 10,000 "
            "computers.",
            argc, argv, 0, 0))
        return *status;
    LoadDirect3DLibrary();
    int status = 0;
    {
        QApplication application(argc, argv);
        QTemporaryDir folder;
        if (!folder.isValid() || !QDir::setCurrent(folder.path())) {
            std::fprintf(stderr, "no temporary folder\n");
            return 1;
        }
        std::printf("start-up, no Results.bin:                %8.1f ms\n", StartUpMilliseconds());

        std::vector<TComputerRecord> computers;
        std::vector<std::vector<TStringSlot>> devices;
        std::vector<std::vector<TResultRecord>> results;
        FillLargeStore(computers, devices, results, "stored ");
        const auto bytes = EncodeResultsFile(computers, devices, results, 1);
        if (!bytes) {
            std::fprintf(stderr, "the store does not fit a results file\n");
            status = 1;
        } else {
            std::ofstream("Results.bin", std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes->data()),
                       static_cast<std::streamsize>(bytes->size()));
            std::printf("start-up, Results.bin of %d computers: %8.1f ms\n", ComputerCount,
                        StartUpMilliseconds());
        }
        std::printf("peak resident memory:                    %8ld MB\n", PeakMegabytes());
        QDir::setCurrent(QDir::tempPath());
    }
    FreeDirect3DLibrary();
    return status;
}
