// Series with the pass behind its seam: which passes run in which order with which device,
// the progress steps, the stop after a failure, and what the user sees at the end. Results.bin
// is real, in a temporary working directory.
#include "mainwin/Series.h"

#include "SeriesFixture.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

namespace {

const char* const Stopped = "Тестирование было остановлено пользователем.";

enum class Adapter { HalWithTransform, HalWithoutTransform, NoHal };

D3DCAPS8 HalCapsOf(Adapter adapter) {
    D3DCAPS8 caps{};
    if (adapter != Adapter::NoHal)
        caps.DeviceType = D3DDEVTYPE_HAL;
    if (adapter == Adapter::HalWithTransform)
        caps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | 0x10; // with an unrelated bit
    return caps;
}

struct PlannedPass {
    int Width, Height, Depth, HardwareDevice, HardwareVertexProcessing, DetailLevel;
    bool operator==(const PlannedPass&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PlannedPass& p) {
    return out << p.Width << "x" << p.Height << "x" << p.Depth << " dev " << p.HardwareDevice
               << " hvp " << p.HardwareVertexProcessing << " detail " << p.DetailLevel;
}

PlannedPass PlannedOf(const TTestConfig& t) {
    return {t.Width,      t.Height, t.Depth, t.HardwareDevice, t.HardwareVertexProcessing,
            t.DetailLevel};
}

struct SweepCase {
    const char* Name;
    Adapter Kind;
    std::vector<int> TickedBoxes; // CheckBox numbers
    int Item;
    bool Presentation;
    std::vector<std::pair<int, int>> Unavailable; // (mode index, depth index)
    std::vector<PlannedPass> Expected;
};

// What one series looked like from outside.
struct SeriesRecord {
    std::vector<TTestConfig> Passes;
    std::vector<std::pair<int, int>> Progress;
    std::vector<bool> ScreenSaverCalls;
    bool MainHiddenDuringEveryPass = true;
    bool CursorHiddenDuringEveryPass = true;
    bool ScreenSaverOffDuringEveryPass = true;
    std::vector<MessageBoxUser::Seen> Messages;
};

class Series : public testing::Test {
protected:
    void SetUp() override { std::memset(ModeAvailable, 1, sizeof ModeAvailable); }

    SeriesChoice Choice(const std::vector<int>& boxes, int item, bool presentation) {
        SeriesChoice choice;
        for (int k : boxes)
            choice.Ticked[static_cast<std::size_t>(k - 1)] = true;
        choice.AccelerationItem = item;
        choice.Presentation = presentation;
        return choice;
    }

    // Runs a series whose passes are pass (by default: record a plausible result).
    SeriesRecord Run(const SeriesChoice& choice, std::function<void(int n)> pass = {}) {
        SeriesRecord record;
        QWidget mainWindow;
        mainWindow.show();
        bool screenSaverOn = true;
        SeriesSeams seams;
        seams.RunPass = [&] {
            record.Passes.push_back(CurrentTest);
            record.MainHiddenDuringEveryPass &= !mainWindow.isVisible();
            const QCursor* cursor = QGuiApplication::overrideCursor();
            record.CursorHiddenDuringEveryPass &=
                cursor != nullptr && cursor->shape() == Qt::BlankCursor;
            record.ScreenSaverOffDuringEveryPass &= !screenSaverOn;
            if (pass)
                pass(static_cast<int>(record.Passes.size()));
            else
                RecordPlausiblePass();
        };
        seams.ShowProgress = [&](int done, int planned) {
            record.Progress.emplace_back(done, planned);
        };
        seams.ScreenSaver = [&](bool active) {
            screenSaverOn = active;
            record.ScreenSaverCalls.push_back(active);
        };
        MessageBoxUser user(QMessageBox::Ok, [&](const MessageBoxUser::Seen&) {
            // The store is on disk before the user is told.
            EXPECT_TRUE(std::filesystem::exists("Results.bin"));
            EXPECT_FALSE(mainWindow.isVisible());
        });
        RunSeries(&mainWindow, choice, seams);
        record.Messages = user.Boxes();
        EXPECT_TRUE(mainWindow.isVisible());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the pointer stays hidden";
        EXPECT_EQ(record.ScreenSaverCalls, (std::vector<bool>{false, true}));
        EXPECT_TRUE(record.MainHiddenDuringEveryPass);
        EXPECT_TRUE(record.CursorHiddenDuringEveryPass);
        EXPECT_TRUE(record.ScreenSaverOffDuringEveryPass);
        EXPECT_EQ(record.Messages.size(), 1u);
        for (const auto& seen : record.Messages) {
            EXPECT_EQ(seen.Format, Qt::PlainText);
            EXPECT_EQ(seen.Buttons, QMessageBox::Ok);
        }
        return record;
    }

    SharedStateGuard state_;
    TempDir workDir_{true};
};

std::vector<PlannedPass> Sweep(std::vector<std::array<int, 3>> modes, int dev, int hvp,
                               int detail) {
    std::vector<PlannedPass> out;
    for (const auto& m : modes)
        out.push_back({m[0], m[1], m[2], dev, hvp, detail});
    return out;
}

std::vector<PlannedPass> Join(std::vector<PlannedPass> a, const std::vector<PlannedPass>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<std::array<int, 3>> ThreeModes = {
    {640, 480, 32}, {1024, 768, 16}, {1600, 1200, 32}}; // boxes 2, 5, 10

const std::vector<SweepCase> SweepCases = {
    {"TestItem0OfThree_TwoSweeps",
     Adapter::HalWithTransform,
     {10, 2, 5},
     0,
     false,
     {},
     Join(Sweep(ThreeModes, 1, 1, 4), Sweep(ThreeModes, 1, 0, 4))},
    {"PresentationItem0OfThree_DetailOne",
     Adapter::HalWithTransform,
     {2, 5, 10},
     0,
     true,
     {},
     Join(Sweep(ThreeModes, 1, 1, 1), Sweep(ThreeModes, 1, 0, 1))},
    {"Item1OfThree_HardwareVertices",
     Adapter::HalWithTransform,
     {2, 5, 10},
     1,
     false,
     {},
     Sweep(ThreeModes, 1, 1, 4)},
    {"Item2OfThree_SoftwareVertices",
     Adapter::HalWithTransform,
     {2, 5, 10},
     2,
     false,
     {},
     Sweep(ThreeModes, 1, 0, 4)},
    {"SingleItemWithoutTransform_SoftwareVertices",
     Adapter::HalWithoutTransform,
     {2, 5, 10},
     0,
     false,
     {},
     Sweep(ThreeModes, 1, 0, 4)},
    {"Emulation_ReferenceDevice",
     Adapter::NoHal,
     {2, 5, 10},
     0,
     true,
     {},
     Sweep(ThreeModes, 0, 0, 1)},
    {"NoTickedMode_NoPass", Adapter::HalWithTransform, {}, 0, false, {}, {}},
    // Without 800 x 600 at 16 bits, box 3 shows 800 x 600 x 32 and box 10 is hidden: its
    // tick (left from nowhere) counts for nothing.
    {"BoxesNumberTheAvailableModesOnly",
     Adapter::NoHal,
     {1, 3, 9, 10},
     0,
     false,
     {{1, 0}},
     Sweep({{640, 480, 16}, {800, 600, 32}, {1600, 1200, 32}}, 0, 0, 4)},
};

class SweepTable : public Series, public testing::WithParamInterface<SweepCase> {};

TEST_P(SweepTable, PassesInOrderWithTheirDeviceAndAProgressStepEach) {
    const SweepCase& c = GetParam();
    for (const auto& [mode, depth] : c.Unavailable)
        ModeAvailable[mode][depth] = 0;
    StartWithComputer("sweeps", HalCapsOf(c.Kind));
    TestFailed = true; // left from an earlier series: cleared before the first pass
    const SeriesChoice choice = Choice(c.TickedBoxes, c.Item, c.Presentation);

    const SeriesRecord record = Run(choice);

    std::vector<PlannedPass> ran;
    for (const TTestConfig& t : record.Passes) {
        ran.push_back(PlannedOf(t));
        EXPECT_EQ(+t.RefreshRate, 0);
        EXPECT_EQ(+t.VertexBufferMode, 2);
        EXPECT_EQ(+t.TextureMode, 2);
    }
    EXPECT_EQ(ran, c.Expected);

    const int planned = static_cast<int>(c.Expected.size());
    EXPECT_EQ(ProgressMaximum(choice, CurrentComputer.HalCaps, ModeAvailable), planned);
    std::vector<std::pair<int, int>> steps;
    for (int done = 1; done <= planned; ++done)
        steps.emplace_back(done, planned);
    EXPECT_EQ(record.Progress, steps);

    EXPECT_FALSE(TestFailed);
    ASSERT_EQ(record.Messages.size(), 1u);
    EXPECT_EQ(record.Messages[0].Text.toStdString(), SeriesSucceededText);

    // Merged and saved whether or not anything ran: every pass's result is in the file.
    const StoreOnDisk disk = ReadResultsFile();
    const auto* results = disk.ResultsOf(CurrentComputer);
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->size(), record.Passes.size());
    for (std::size_t i = 0; i < record.Passes.size(); ++i)
        EXPECT_TRUE(SameConfiguration((*results)[i], record.Passes[i])) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, SweepTable, testing::ValuesIn(SweepCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Series, EscDuringTheSecondOfFourPassesSkipsTheRestAndSavesTheFirst) {
    StartWithComputer("esc", HalCapsOf(Adapter::HalWithTransform));
    const SeriesRecord record = Run(Choice({1, 2}, 0, false), [](int n) {
        if (n == 2) {
            // What the test screen's key handler does.
            TestFailed = true;
            SetStatusText(Stopped);
            return;
        }
        RecordPlausiblePass();
    });
    EXPECT_EQ(record.Passes.size(), 2u);
    // The stopped pass still has its progress step; the two of the second sweep have none.
    EXPECT_EQ(record.Progress, (std::vector<std::pair<int, int>>{{1, 4}, {2, 4}}));
    ASSERT_EQ(record.Messages.size(), 1u);
    EXPECT_EQ(record.Messages[0].Text.toStdString(), Stopped);

    const StoreOnDisk disk = ReadResultsFile();
    const auto* results = disk.ResultsOf(CurrentComputer);
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->size(), 1u);
    EXPECT_TRUE(SameConfiguration((*results)[0], record.Passes[0]));
}

TEST_F(Series, APassThatThrowsEndsTheSeriesLikeAFailureAndItsTextIsShown) {
    StartWithComputer("throws", HalCapsOf(Adapter::NoHal));
    const SeriesRecord record = Run(Choice({1, 2, 3}, 0, false), [](int n) {
        if (n == 2)
            throw std::runtime_error("the display went away");
        RecordPlausiblePass();
    });
    EXPECT_EQ(record.Passes.size(), 2u);
    EXPECT_EQ(record.Progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}}));
    EXPECT_TRUE(TestFailed);
    ASSERT_EQ(record.Messages.size(), 1u);
    EXPECT_EQ(record.Messages[0].Text.toStdString(), "Unexpected error: the display went away");

    const StoreOnDisk disk = ReadResultsFile();
    const auto* results = disk.ResultsOf(CurrentComputer);
    ASSERT_NE(results, nullptr);
    EXPECT_EQ(results->size(), 1u);
}

TEST_F(Series, TheMergeKeepsWhatAnotherCopyWroteMeanwhile) {
    // Another computer's result reached Results.bin while this series ran.
    StartWithComputer("other", HalCapsOf(Adapter::NoHal));
    const TComputerRecord other = CurrentComputer;
    CurrentTest = TTestConfig{1600, 1200, 16, 0, 0, 0, 2, 2, 4};
    RecordPlausiblePass();
    SaveResults();

    StartWithComputer("this", HalCapsOf(Adapter::NoHal));
    Run(Choice({1}, 0, false));

    const StoreOnDisk disk = ReadResultsFile();
    ASSERT_NE(disk.ResultsOf(other), nullptr);
    EXPECT_EQ(disk.ResultsOf(other)->size(), 1u);
    ASSERT_NE(disk.ResultsOf(CurrentComputer), nullptr);
    EXPECT_EQ(disk.ResultsOf(CurrentComputer)->size(), 1u);
    EXPECT_EQ(Computers.size(), 2u) << "the store in memory has both too";
}

TEST(SeriesChoiceOfWindow, ReadFromTheNamedControls) {
    QWidget window;
    for (int k = 1; k <= 10; ++k) {
        auto* box = new QCheckBox(&window);
        box->setObjectName(QString("CheckBox%1").arg(k));
        box->setChecked(k == 1 || k == 4 || k == 10);
    }
    auto* combo = new QComboBox(&window);
    combo->setObjectName("ComboAcc");
    combo->addItems({"Аппаратное и программное", "Аппаратное", "Программное"});
    combo->setCurrentIndex(2);

    const SeriesChoice choice = ReadSeriesChoice(window, true);
    std::array<bool, 10> expected{};
    expected[0] = expected[3] = expected[9] = true;
    EXPECT_EQ(choice.Ticked, expected);
    EXPECT_EQ(choice.AccelerationItem, 2);
    EXPECT_TRUE(choice.Presentation);

    combo->clear(); // no Direct3D: an empty list
    EXPECT_EQ(ReadSeriesChoice(window, false).AccelerationItem, -1);
    EXPECT_FALSE(ReadSeriesChoice(window, false).Presentation);
}

} // namespace
