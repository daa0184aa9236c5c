// --run as a script runs it: the real pass on this machine's runtime, its JSON line against the
// record stored in Results.bin, and the runs that must fail with a reason. The choice the
// command makes of the display's modes and the computer's accelerations, as a table.
#include "cli/SeriesCommand.h"
#include "ProgramRun.h"
#include "platform/SingleCopy.h"
#include "state/RecordColumns.h"
#include "state/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>

namespace {

TCommandLineOptions Options(std::initializer_list<std::pair<int, int>> modes,
                            std::optional<TAcceleration> acceleration, bool allModes = false) {
    TCommandLineOptions options;
    options.Mode = TCommandMode::Run;
    for (const auto& [size, depth] : modes)
        options.ModeChosen[size][depth] = true;
    if (allModes)
        for (auto& size : options.ModeChosen)
            size = {true, true};
    options.AllModes = allModes;
    options.Acceleration = acceleration;
    return options;
}

} // namespace

TEST(SeriesChoiceFor, TicksNumberedOverAvailableModesAndAccelerationByName) {
    // 640 x 480 x 16 and 1024 x 768 x 32 are refused by this display.
    TModeAvailability available{};
    for (auto& size : available)
        size[0] = size[1] = 1;
    available[0][0] = 0;
    available[2][1] = 0;
    const std::vector<TAccelerationChoice> threeItems = {
        TAccelerationChoice::HwAndSw, TAccelerationChoice::Hw, TAccelerationChoice::Sw};
    const std::vector<TAccelerationChoice> emulation = {TAccelerationChoice::Emulation};

    struct Case {
        const char* name;
        TCommandLineOptions options;
        std::vector<TAccelerationChoice> items;
        std::vector<int> ticked; // box numbers from 1
        int item;                // -1: refused
        const char* error;
    };
    const Case cases[] = {
        {"boxes skip refused modes",
         Options({{0, 1}, {1, 0}, {4, 1}}, TAcceleration::Sw),
         threeItems,
         {1, 2, 8},
         2,
         ""},
        {"no --accel takes the first item",
         Options({{0, 1}}, std::nullopt),
         threeItems,
         {1},
         0,
         ""},
        {"hw+sw", Options({{0, 1}}, TAcceleration::HwAndSw), threeItems, {1}, 0, ""},
        {"hw", Options({{0, 1}}, TAcceleration::Hw), threeItems, {1}, 1, ""},
        {"emulation", Options({{0, 1}}, TAcceleration::Emulation), emulation, {1}, 0, ""},
        {"--all-modes passes over refused ones",
         Options({}, TAcceleration::Emulation, true),
         emulation,
         {1, 2, 3, 4, 5, 6, 7, 8},
         0,
         ""},
        {"a refused mode",
         Options({{2, 1}}, TAcceleration::Emulation),
         emulation,
         {},
         -1,
         "the display does not accept 1024x768x32"},
        {"an acceleration this computer lacks",
         Options({{0, 1}}, TAcceleration::Hw),
         emulation,
         {},
         -1,
         "this computer does not offer hw; it offers: emulation"},
        {"emulation where a HAL device is",
         Options({{0, 1}}, TAcceleration::Emulation),
         threeItems,
         {},
         -1,
         "this computer does not offer emulation; it offers: hw+sw, hw, sw"},
        {"Direct3D missing",
         Options({{0, 1}}, std::nullopt),
         {},
         {},
         -1,
         "Direct3D 8 is missing on this computer: no series can run"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const std::optional<SeriesChoice> choice =
            SeriesChoiceFor(c.options, available, c.items, &error);
        if (c.item < 0) {
            EXPECT_FALSE(choice);
            EXPECT_EQ(error.toStdString(), c.error);
            continue;
        }
        ASSERT_TRUE(choice) << error.toStdString();
        EXPECT_EQ(choice->AccelerationItem, c.item);
        std::vector<int> ticked;
        for (int k = 1; k <= ModeBoxCount; ++k)
            if (choice->Ticked[static_cast<std::size_t>(k - 1)])
                ticked.push_back(k);
        EXPECT_EQ(ticked, c.ticked);
    }
}

class SeriesCommandTest : public StoreTest {
protected:
    QString Folder() const { return Q(dir_.path()); }
    std::filesystem::path Tmp() const { return dir_ / "tmp"; }
    ProgramRun RunSeries(const QStringList& arguments) {
        return RunProgram(QStringLiteral(STENDO_PROGRAM), QStringList{"--run"} + arguments,
                          Folder(), Isolated(DisplayEnvironment(), Tmp()));
    }
};

// Needs the X display with Mesa: one real 7-second pass in full software emulation.
TEST_F(SeriesCommandTest, JsonLineAgreesWithTheRecordInResultsBin) {
    const ProgramRun run = RunSeries({"--modes", "640x480x32", "--accel", "emulation"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QByteArray> lines = run.Out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1) << run.Out.toStdString();
    QJsonParseError parseError;
    const QJsonObject line = QJsonDocument::fromJson(lines[0], &parseError).object();
    ASSERT_EQ(parseError.error, QJsonParseError::NoError) << lines[0].toStdString();

    // The computer as identified and the record of a real pass are what the intake believes.
    TMergeReport report;
    LoadResults("Results.bin", &report);
    EXPECT_TRUE(report.TookEverything())
        << DescribeMergeReport("Results.bin", report).join('\n').toStdString();
    ASSERT_EQ(Computers.size(), 1u);
    ASSERT_EQ(ComputerResults[0].size(), 1u);
    const TResultRecord& r = ComputerResults[0][0];
    EXPECT_EQ(r.Width, 640);
    EXPECT_EQ(r.Depth, 32);
    EXPECT_EQ(r.HardwareDevice, 0);
    EXPECT_EQ(r.DetailLevel, 4);
    EXPECT_EQ(line["width"].toInt(), 640);
    EXPECT_EQ(line["device"].toString(), "ref");
    EXPECT_EQ(line["acceleration"].toString(), "emulation");
    EXPECT_EQ(static_cast<float>(line["fps"].toDouble()), r.Fps);
    EXPECT_EQ(static_cast<float>(line["triangles_per_ms"].toDouble()), r.TrianglesPerMs);
    EXPECT_EQ(line["timestamp"].toDouble(), r.Timestamp);
    EXPECT_EQ(line["frame_count"].toInteger(), r.FrameCount);
    EXPECT_EQ(line["total_time_ms"].toInteger(), r.TotalTimeMs);
    EXPECT_EQ(line["run_count"].toInt(), 1);

    // The per-frame figures cover exactly the frames of the record.
    EXPECT_EQ(line["frames_timed"].toInteger(), r.FrameCount);
    EXPECT_EQ(line["frames_not_timed"].toInteger(), 0);
    const double shortest = 1000.0 / r.MaxFps, longest = 1000.0 / r.MinFps;
    const double p50 = line["frame_time_p50_ms"].toDouble();
    const double p90 = line["frame_time_p90_ms"].toDouble();
    const double p99 = line["frame_time_p99_ms"].toDouble();
    EXPECT_GE(p50, shortest - 1e-3);
    EXPECT_LE(p50, p90);
    EXPECT_LE(p90, p99);
    EXPECT_LE(p99, longest + 1e-3);
    const double low = line["low_1_percent_fps"].toDouble();
    EXPECT_GE(low, r.MinFps * (1 - 1e-6));
    EXPECT_LE(low, 1000.0 / p99 * (1 + 1e-6));
    // The record's total is the sum of the frame times the figures come from: their mean
    // lies between the median's neighbours only loosely, but never outside the extremes.
    const double mean = static_cast<double>(r.TotalTimeMs) / r.FrameCount;
    EXPECT_GE(mean, shortest - 1e-3);
    EXPECT_LE(mean, longest + 1e-3);
}

TEST_F(SeriesCommandTest, FailuresSayWhyAndEndNonZero) {
    // A display smaller than the mode: the offscreen platform's screen is 800 x 600.
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    const ProgramRun refused =
        RunProgram(QStringLiteral(STENDO_PROGRAM), {"--run", "--modes", "1600x1200x32"}, Folder(),
                   Isolated(offscreen, Tmp()));
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_TRUE(refused.Err.contains("the display does not accept 1600x1200x32"))
        << refused.Err.toStdString();
    EXPECT_TRUE(refused.Out.isEmpty());

    // The program without its runtime library beside it.
    const std::filesystem::path alone = dir_ / "alone";
    std::filesystem::create_directory(alone);
    std::filesystem::copy_file(STENDO_PROGRAM, alone / "stendograph");
    const ProgramRun missing =
        RunProgram(Q(alone / "stendograph"), {"--run", "--modes", "640x480x32"}, Folder(),
                   Isolated(DisplayEnvironment(), Tmp()));
    EXPECT_EQ(missing.ExitCode, 2);
    EXPECT_TRUE(missing.Err.contains("Direct3D 8 is missing on this computer"))
        << missing.Err.toStdString();

    // Another copy of the program, with its windows, holds the title in the same folder.
    const QByteArray previousTmp = qgetenv("TMPDIR");
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", Q(Tmp()).toLocal8Bit());
    qunsetenv("XDG_RUNTIME_DIR");
    SingleCopy running(QString::fromUtf8(RunningCopyTitle));
    const TClaimResult claimed = running.Claim();
    if (previousTmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previousTmp);
    if (!previousRuntime.isNull())
        qputenv("XDG_RUNTIME_DIR", previousRuntime);
    ASSERT_EQ(claimed, TClaimResult::First);
    const ProgramRun second = RunSeries({"--modes", "640x480x32"});
    EXPECT_EQ(second.ExitCode, 3);
    EXPECT_TRUE(second.Err.contains("the program's window is open; close it first"))
        << second.Err.toStdString();

    // None of them wrote a results file.
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Results.bin"));
}
