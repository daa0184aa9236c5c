// --chart draws what the results window draws: the picture file holds, pixel for pixel, the
// chart rows the window paints for the same store and selection; --rows picks entries of the
// ranking with the bar scale of the whole.
#include "cli/ChartCommand.h"
#include "ProgramRun.h"
#include "chart/ChartPainter.h"
#include "state/StoreFixture.h"

#include <QImage>
#include <QLocale>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace {

TResultRecord Result(std::uint16_t width, std::uint16_t height, std::uint16_t depth,
                     std::uint8_t hardwareDevice, std::uint8_t hardwareVertices, float perMs) {
    TResultRecord r = MakeResult(46000.5, width, height, depth,
                                 perMs * 1000 / static_cast<float>(TrianglesPerFrame(4)));
    r.HardwareDevice = hardwareDevice;
    r.HardwareVertexProcessing = hardwareVertices;
    return r;
}

// Three computers with results of every kind; the program adds this computer, without results,
// as the fourth.
StoreImage ThreeComputers() {
    StoreImage store;
    store.Add(MakeComputer("first"), {"  chip", "bridge"},
              {Result(1024, 768, 32, 1, 1, 5000), Result(640, 480, 16, 0, 0, 300)});
    store.Add(MakeComputer("second"), {}, {Result(1024, 768, 16, 1, 0, 1200.5f)});
    store.Add(MakeComputer("third"), {},
              {Result(800, 600, 32, 0, 0, 9.75f), Result(1024, 768, 32, 1, 1, 4000)});
    return store;
}

class ChartCommandTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ThreeComputers().ToGlobals();
        SaveResults();
        // The store as the program holds it after start-up: this computer appended.
        Computers.push_back(MakeComputer("this computer"));
        ComputerDevices.emplace_back();
        ComputerResults.emplace_back();
        CurrentComputerIndex = 3;
    }

    // The picture the program writes, as 32-bit pixels.
    QImage Written(const QStringList& arguments) {
        const QString file = Q(dir_ / "chart.png");
        const ProgramRun run =
            RunStendograph(QStringList{"--chart", file} + arguments, Q(dir_.path()));
        EXPECT_EQ(run.ExitCode, 0) << run.Err.toStdString();
        return QImage(file).convertToFormat(QImage::Format_RGB32);
    }
    static QImage Painted(const TChartLayout& layout) {
        return ChartRows(layout, 0, layout.Height, QLocale().decimalPoint());
    }
};

} // namespace

TEST_F(ChartCommandTest, PicturesEqualTheWindowsRowsForEachSelection) {
    struct Case {
        QStringList arguments;
        TChartSelection selection;
    };
    const Case cases[] = {
        {{}, {0, 0, 0}},
        {{"--view", "all", "--accel", "hw"}, {0, 0, 1}},
        {{"--accel", "emulation"}, {0, 0, 3}},
        {{"--view", "3"}, {2, 2, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const QImage expected = Painted(MakeChartLayout(c.selection));
        const QImage written = Written(c.arguments);
        ASSERT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
    }
}

// The current computer's view depends on this machine's capabilities, which the child finds
// for itself: the selection it makes is checked here, its drawing above.
TEST(ChartSelectionFor, ViewsAndFiltersAsTheWindowsControls) {
    TCommandLineOptions options;
    QString error;
    options.ChartView = TChartView::Current;
    EXPECT_EQ(ChartSelectionFor(options, 7, 9, &error), (TChartSelection{1, 7, 0}));
    options.ChartView = TChartView::Computer;
    options.ChartComputer = 9;
    EXPECT_EQ(ChartSelectionFor(options, 7, 9, &error), (TChartSelection{2, 8, 0}));
    options.ChartView = TChartView::All;
    options.Acceleration = TAcceleration::Sw;
    EXPECT_EQ(ChartSelectionFor(options, 7, 9, &error), (TChartSelection{0, 0, 2}));
}

TEST_F(ChartCommandTest, RowsPickEntriesWithTheWholeRankingsScale) {
    const TChartLayout whole = MakeChartLayout({0, 0, 0});
    ASSERT_EQ(whole.Entries.size(), 5u);
    QString error;
    const std::optional<TChartLayout> part = ChartLayoutRows(whole, 2, 2, &error);
    ASSERT_TRUE(part) << error.toStdString();
    const QImage written = Written({"--rows", "2:2"});
    EXPECT_TRUE(written == Painted(*part));

    // Entries 2 and 3 look exactly as in the whole picture; heading and tail are the whole's.
    const QImage all = Painted(whole);
    constexpr int heading = 42, entry = 70;
    EXPECT_EQ(written.height(), heading + 2 * entry + 14);
    EXPECT_TRUE(written.copy(0, 0, ChartWidth, heading) == all.copy(0, 0, ChartWidth, heading));
    EXPECT_TRUE(written.copy(0, heading, ChartWidth, 2 * entry) ==
                all.copy(0, heading + entry, ChartWidth, 2 * entry));

    // Counting past the end takes what is there; starting past it, or another view, is refused.
    ASSERT_TRUE(ChartLayoutRows(whole, 5, 10, &error));
    EXPECT_EQ(ChartLayoutRows(whole, 5, 10, &error)->Entries.size(), 1u);
    EXPECT_FALSE(ChartLayoutRows(whole, 6, 1, &error));
    EXPECT_EQ(error.toStdString(), "--rows: the chart has 5 entries; 6:1 picks none of them");
    EXPECT_FALSE(ChartLayoutRows(MakeChartLayout({2, 0, 0}), 1, 1, &error));
}

TEST_F(ChartCommandTest, ImpossibleSelectionsAreRefused) {
    const struct {
        QStringList arguments;
        const char* error;
    } cases[] = {
        {{"--view", "9"}, "--view: there is no computer 9; the results file holds 4"},
        {{"--view", "current", "--accel", "sw"},
         "--accel: only the chart of all computers is filtered by the kind of acceleration"},
        {{"--view", "2", "--rows", "1:1"},
         "--rows: only the chart of all computers has entries to pick"},
        {{"--results", "missing.bin"}, "missing.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ProgramRun run = RunStendograph(
            QStringList{"--chart", Q(dir_ / "refused.png")} + c.arguments, Q(dir_.path()));
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_TRUE(run.Err.contains(c.error)) << run.Err.toStdString();
        EXPECT_FALSE(std::filesystem::exists(dir_ / "refused.png"));
    }
}

// A full disk while the picture is written: no file is left behind, an old picture of that
// name stays as it was, and the status says it failed.
TEST_F(ChartCommandTest, AWriteThatFailsLeavesNoFileAndEndsNonZero) {
    const std::filesystem::path old = dir_ / "old.png";
    WriteBytes(old, {'o', 'l', 'd'});
    for (const char* name : {"chart.png", "chart.bmp", "old.png"}) {
        SCOPED_TRACE(name);
        const ProgramRun run =
            RunProgram(QStringLiteral(STENDO_PROGRAM), {"--chart", Q(dir_ / name)}, Q(dir_.path()),
                       QProcessEnvironment::systemEnvironment(), [] {
                           signal(SIGXFSZ, SIG_IGN);
                           const rlimit small{512, 512};
                           setrlimit(RLIMIT_FSIZE, &small);
                       });
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_TRUE(run.Err.contains("File too large")) << run.Err.toStdString();
    }
    EXPECT_EQ(FolderEntries(dir_.path()), (std::vector<std::string>{"Results.bin", "old.png"}));
    EXPECT_EQ(ReadBytes(old), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}
