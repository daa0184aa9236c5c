// The results window on a large store: 10,000 computers with 20 results each, 30,000 chart
// entries, a chart about two million pixels tall. Prints the time from creating the window to
// its first painted chart, the time to paint after a jump to the bottom, the mean time of a
// paint while scrolling page by page, and the memory the window takes beyond the store.
//
//     bench_results_window                 the figures
//     bench_results_window --screenshots D the window's two views on a store of a few computers,
//                                          saved as D/results-all.png and D/results-one.png
#include "LargeStore.h"
#include "ToolArguments.h"
#include "results/ChartBox.h"
#include "results/VideoResults1.h"
#include "state/Variables.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// Runs events until the chart box has painted once after `since` was set.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* viewport) { viewport->installEventFilter(this); }
    bool Painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            Painted = true;
        return false;
    }
};

int Figures() {
    FillChartStore();
    const long storeKb = StatusKilobytes("VmRSS:");
    std::printf("store: %zu computers, %d results each\n", Computers.size(), 20);

    QElapsedTimer timer;
    timer.start();
    TVideoResults window;
    auto* box = window.findChild<TChartBox*>("Box1");
    PaintWatch watch(box->viewport());
    window.show();
    while (!watch.Painted)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    const double firstPaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf("chart: %zu entries, %d pixels tall\n", box->Layout().Entries.size(),
                box->Layout().Height);
    std::printf("window created to first chart painted: %.1f ms\n", firstPaintMs);

    timer.restart();
    box->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    box->viewport()->repaint();
    std::printf("jump to the bottom and paint: %.2f ms (first row %d)\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6, box->FirstRow());

    box->verticalScrollBar()->setValue(box->Layout().Height / 2);
    const int steps = 200;
    timer.restart();
    for (int i = 0; i < steps; ++i) {
        box->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        box->viewport()->repaint();
    }
    std::printf("scrolling page by page: %.2f ms a paint (mean of %d)\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6 / steps, steps);

    timer.restart();
    for (const char* radio : {"RadioAcceleration1", "RadioAcceleration0"}) {
        window.findChild<QAbstractButton*>(radio)->click();
        box->viewport()->repaint();
    }
    std::printf("two changes of the acceleration filter, each ranked and painted: %.1f ms\n",
                static_cast<double>(timer.nsecsElapsed()) / 1e6);

    const long windowKb = StatusKilobytes("VmRSS:");
    std::printf("resident memory: store %.1f MB; window beyond the store %.1f MB; peak %.1f MB\n",
                storeKb / 1024.0, (windowKb - storeKb) / 1024.0,
                StatusKilobytes("VmHWM:") / 1024.0);
    return 0;
}

int Screenshots(const std::string& folder) {
    std::memset(ModeAvailable, 0, sizeof ModeAvailable);
    for (int i = 0; i < 4; ++i)
        for (int d = 0; d < 2; ++d)
            ModeAvailable[i][d] = 1;
    AddStoreComputer(ChartStoreComputer("AMD Athlon(tm) XP 2000+ (~1666MHz)",
                                        "NVIDIA GeForce4 Ti 4200", true, "Пётр"),
                     {ChartStoreResult(2, 1, 0, 3620), ChartStoreResult(2, 0, 0, 4410),
                      ChartStoreResult(1, 1, 0, 4980), ChartStoreResult(2, 1, 1, 1210)});
    AddStoreComputer(ChartStoreComputer("Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz (~1800MHz)",
                                        "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", true, "Анна"),
                     {ChartStoreResult(0, 0, 0, 9480), ChartStoreResult(0, 1, 0, 9120),
                      ChartStoreResult(1, 0, 0, 8850), ChartStoreResult(1, 1, 0, 8610),
                      ChartStoreResult(2, 0, 0, 8020), ChartStoreResult(2, 1, 0, 7730),
                      ChartStoreResult(3, 1, 0, 6240), ChartStoreResult(0, 0, 1, 2105),
                      ChartStoreResult(1, 1, 1, 1980), ChartStoreResult(2, 1, 1, 1890)});
    AddStoreComputer(ChartStoreComputer("Intel(R) Pentium(R) 4 CPU 2.40GHz (~2400MHz)",
                                        "RADEON 9600 Series", true, "Иван"),
                     {ChartStoreResult(2, 1, 0, 2870), ChartStoreResult(2, 1, 1, 905)});
    AddStoreComputer(ChartStoreComputer("AMD Ryzen 7 5800X 8-Core Processor (~3800MHz)",
                                        "llvmpipe (LLVM 15.0.6, 256 bits)", false, "Ольга"),
                     {ChartStoreResult(2, 1, 2, 312), ChartStoreResult(1, 1, 2, 401)});
    AddStoreComputer(ChartStoreComputer("Intel(R) Celeron(R) CPU 2.66GHz (~2660MHz)",
                                        "Intel(R) 82865G Graphics", true, "n/d"),
                     {ChartStoreResult(1, 0, 0, 7.5f), ChartStoreResult(0, 0, 1, 640)});
    CurrentComputerIndex = 1;

    TVideoResults window;
    window.show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    window.grab().save(QString::fromStdString(folder + "/results-all.png"));
    window.findChild<QAbstractButton*>("RadioComputer1")->click();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    window.grab().save(QString::fromStdString(folder + "/results-one.png"));
    std::printf("saved %s/results-all.png and %s/results-one.png\n", folder.c_str(),
                folder.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    const QCommandLineOption screenshotsOption(
        "screenshots",
        "Instead of the figures, the window's two views on a store of a few computers, saved "
        "as FOLDER/results-all.png and FOLDER/results-one.png.",
        "FOLDER");
    parser.addOption(screenshotsOption);
    if (const auto status = ReadToolArguments(
            parser, "bench_results_window",
            "The results window on a store of 10,000 computers: the time to its first chart, to "
            "paint after a jump and while scrolling, and its memory.",
            argc, argv, 0, 0))
        return *status;
    QApplication application(argc, argv);
    if (parser.isSet(screenshotsOption))
        return Screenshots(parser.value(screenshotsOption).toStdString());
    return Figures();
}
