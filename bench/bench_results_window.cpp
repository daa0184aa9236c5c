// The results window on a large store: 10,000 computers with 20 results each, 30,000 chart
// entries, a chart about two million pixels tall. Prints the time from creating the window to
// its first painted chart, the time to paint after a jump to the bottom, the mean time of a
// paint while scrolling page by page, and the memory the window takes beyond the store.
//
//     bench_results_window                 the figures
//     bench_results_window --screenshots D the window's two views on a store of a few computers,
//                                          saved as D/results-all.png and D/results-one.png
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

TStringSlot Scrambled(const std::string& text) {
    return ScrambleText(MakeStringSlot(text));
}

TComputerRecord Computer(const std::string& processor, const std::string& adapter, bool hal,
                         const std::string& owner) {
    TComputerRecord computer{};
    computer.Processor = Scrambled(processor);
    computer.VideoAdapter = Scrambled(adapter);
    computer.Chipset = Scrambled("n/d");
    computer.MemoryMB = Scrambled("8192");
    computer.OSName = Scrambled("Debian GNU/Linux 12 (bookworm)");
    computer.Owner = Scrambled(owner);
    computer.TimeZone = Scrambled("Europe/Moscow (Bias=3)");
    computer.RecordTag = Scrambled("1");
    if (hal) {
        computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
        computer.HalCaps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    }
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

// kind: 0 hardware, 1 software, 2 software emulation.
TResultRecord Result(int sizeIndex, int depthIndex, int kind, float trianglesPerMs) {
    TResultRecord result{};
    result.Timestamp = 46000;
    result.TestSet = TestSet;
    result.Width = static_cast<std::uint16_t>(ModeSizes[sizeIndex].Width);
    result.Height = static_cast<std::uint16_t>(ModeSizes[sizeIndex].Height);
    result.Depth = static_cast<std::uint16_t>(ModeDepths[depthIndex]);
    result.HardwareDevice = kind == 2 ? 0 : 1;
    result.HardwareVertexProcessing = kind == 0 ? 1 : 0;
    result.VertexBufferMode = 2;
    result.TextureMode = 2;
    result.DetailLevel = 4;
    result.TrianglesPerMs = trianglesPerMs;
    result.Fps = trianglesPerMs * 5 / 2048;
    result.RunCount = 1;
    return result;
}

void AddComputer(const TComputerRecord& computer, std::vector<TResultRecord> results) {
    Computers.push_back(computer);
    ComputerDevices.emplace_back();
    ComputerResults.push_back(std::move(results));
}

// 20 results a computer in all three kinds (7 hardware, 7 software, 6 emulation modes), so
// that every computer gives three chart entries.
void FillLargeStore() {
    for (int c = 0; c < 10000; ++c) {
        std::vector<TResultRecord> results;
        for (int r = 0; r < 20; ++r) {
            const int kind = r < 7 ? 0 : r < 14 ? 1 : 2;
            const int mode = r % 10;
            const float value = static_cast<float>((c * 7919 + r * 104729) % 50000) / 7.0f;
            results.push_back(Result(mode / 2, mode % 2, kind, value));
        }
        AddComputer(Computer("Processor " + std::to_string(c) + " (~2400MHz)",
                             "Display adapter " + std::to_string(c), true,
                             "Owner " + std::to_string(c)),
                    std::move(results));
    }
    CurrentComputerIndex = 4321;
}

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
    FillLargeStore();
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
    AddComputer(
        Computer("AMD Athlon(tm) XP 2000+ (~1666MHz)", "NVIDIA GeForce4 Ti 4200", true, "Пётр"),
        {Result(2, 1, 0, 3620), Result(2, 0, 0, 4410), Result(1, 1, 0, 4980),
         Result(2, 1, 1, 1210)});
    AddComputer(Computer("Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz (~1800MHz)",
                         "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", true, "Анна"),
                {Result(0, 0, 0, 9480), Result(0, 1, 0, 9120), Result(1, 0, 0, 8850),
                 Result(1, 1, 0, 8610), Result(2, 0, 0, 8020), Result(2, 1, 0, 7730),
                 Result(3, 1, 0, 6240), Result(0, 0, 1, 2105), Result(1, 1, 1, 1980),
                 Result(2, 1, 1, 1890)});
    AddComputer(Computer("Intel(R) Pentium(R) 4 CPU 2.40GHz (~2400MHz)", "RADEON 9600 Series", true,
                         "Иван"),
                {Result(2, 1, 0, 2870), Result(2, 1, 1, 905)});
    AddComputer(Computer("AMD Ryzen 7 5800X 8-Core Processor (~3800MHz)",
                         "llvmpipe (LLVM 15.0.6, 256 bits)", false, "Ольга"),
                {Result(2, 1, 2, 312), Result(1, 1, 2, 401)});
    AddComputer(Computer("Intel(R) Celeron(R) CPU 2.66GHz (~2660MHz)", "Intel(R) 82865G Graphics",
                         true, "n/d"),
                {Result(1, 0, 0, 7.5f), Result(0, 0, 1, 640)});
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
    QApplication application(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--screenshots")
        return Screenshots(argv[2]);
    return Figures();
}
