// The whole chart of 10,000 computers (30,000 entries, about two million pixels tall) saved as
// a picture, as "Сохранить рисунок…" and --chart save it: the BMP and the PNG, each timed from
// the first band painted to the file in its place, against painting alone and against writing
// the BMP's bytes as they are (the disk's own speed, synced as the picture is).
//
//     bench_chart_picture [--folder DIR] [--rounds N]
//
// The files go to a temporary folder in DIR (default the working folder), removed at the end.
// Each figure is the best of N rounds (default 1).
#include "LargeStore.h"
#include "ToolArguments.h"
#include "chart/ChartPainter.h"
#include "chart/ChartPicture.h"
#include "chart/StoreChart.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

// The processor time of the process so far, all threads, user and system, in seconds.
double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct TFigure {
    double Seconds = 0;   // on the clock; 0 when the work failed
    double Processor = 0; // of the processor, both threads of the save together
};

// The best of rounds runs of work, by the clock. The processor's figure tells what the work
// costs when other programs share the processor and the clock's does not.
TFigure Best(int rounds, const std::function<bool()>& work) {
    TFigure best;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        const double processor = ProcessorSeconds();
        timer.start();
        if (!work())
            return {};
        const TFigure figure{static_cast<double>(timer.nsecsElapsed()) / 1e9,
                             ProcessorSeconds() - processor};
        if (round == 0 || figure.Seconds < best.Seconds)
            best = figure;
    }
    return best;
}

double Megabytes(const QString& file) {
    return static_cast<double>(QFileInfo(file).size()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    const QCommandLineOption folderOption(
        "folder", "Where the temporary folder of the pictures is made (default: here).", "DIR");
    const QCommandLineOption roundsOption("rounds", "Rounds of each figure, the best kept.", "N");
    parser.addOptions({folderOption, roundsOption});
    if (const auto status = ReadToolArguments(
            parser, "bench_chart_picture",
            "Times saving the whole chart of 10,000 computers as BMP and PNG, against painting "
            "alone and the disk's own writing.",
            argc, argv, 0, 0))
        return *status;
    const int rounds = parser.isSet(roundsOption) ? parser.value(roundsOption).toInt() : 1;
    if (rounds < 1) {
        std::fprintf(stderr, "bench_chart_picture: --rounds takes a number from 1\n");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv); // the chart's fonts

    QTemporaryDir folder(
        QDir(parser.value(folderOption)).absoluteFilePath("chart-pictures-XXXXXX"));
    if (!folder.isValid()) {
        std::fprintf(stderr, "bench_chart_picture: no temporary folder: %s\n",
                     qPrintable(folder.errorString()));
        return 1;
    }
    FillChartStore();
    const TChartLayout layout = MakeChartLayout({0, 0, 0});
    std::printf("chart: %zu entries, %d pixels tall, %d wide\n", layout.Entries.size(),
                layout.Height, ChartWidth);

    const TFigure painting = Best(rounds, [&] {
        QImage band(ChartWidth, 4096, QImage::Format_RGB32);
        for (int first = 0; first < layout.Height; first += band.height())
            PaintChartRows(band, layout, first, ".");
        return true;
    });
    std::printf("painting alone, band by band:      %6.2f s          (processor %.2f s)\n",
                painting.Seconds, painting.Processor);

    for (const char* name : {"chart.bmp", "chart.png"}) {
        const QString file = folder.filePath(name);
        TPictureFailure failure;
        const TFigure saving =
            Best(rounds, [&] { return SaveChartPicture(layout, file, ".", &failure); });
        if (saving.Seconds == 0) {
            std::printf("%-9s not saved\n", name);
            continue;
        }
        std::printf("%-9s %7.1f MB                 %6.2f s  (processor %.2f s)  %7.1f MB/s\n", name,
                    Megabytes(file), saving.Seconds, saving.Processor,
                    Megabytes(file) / saving.Seconds);
    }

    // The BMP's bytes written as they are, in blocks as the picture writer hands them on.
    const auto bytes = static_cast<std::size_t>(ChartWidth / 2) * layout.Height;
    const std::vector<char> block(1u << 20, '\x77');
    const TFigure disk = Best(rounds, [&] {
        FileReplacement file;
        if (!file.Begin(QFile::encodeName(folder.filePath("plain.bin")).toStdString()))
            return false;
        for (std::size_t written = 0; written < bytes; written += block.size())
            if (!file.Write(block.data(), std::min(block.size(), bytes - written)))
                return false;
        return file.Commit();
    });
    std::printf("the same bytes written and synced: %6.2f s  (processor %.2f s)  %7.1f MB/s\n",
                disk.Seconds, disk.Processor, static_cast<double>(bytes) / 1e6 / disk.Seconds);
    return 0;
}
