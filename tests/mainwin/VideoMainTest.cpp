// Before any Qt header: the fixture has a variable that Qt's "slots" keyword would hide.
#include "state/StoreFixture.h"

#include "BoxAnswerer.h"
#include "bench/PassLogic.h"
#include "mainwin/VideoMain1.h"
#include "platform/BitBtn.h"
#include "platform/RetryDialog.h"
#include "platform/SingleCopy.h"
#include "render/DirectXGraphics.h"
#include "results/VideoResults1.h"
#include "state/StoreReset.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool AllModes(int, int, int) {
    return true;
}

// Turns the runtime's test-only switch: the software renderer counts as a hardware one, so
// that the adapter has a HAL device with hardware transform and lighting.
void SoftwareAsHardware(bool enable) {
    void* handle = Direct3DLibraryHandle();
    ASSERT_NE(handle, nullptr) << "the runtime library next to the test";
    auto* proc = reinterpret_cast<Direct3DTestSoftwareAsHardwareProc>(
        dlsym(handle, Direct3DTestSoftwareAsHardwareSymbol));
    ASSERT_NE(proc, nullptr);
    proc(enable ? 1 : 0);
}

class MainWindow : public testing::Test {
protected:
    StartState state;
    TempDir folder{true};

    void TearDown() override { FreeDirect3DLibrary(); }

    // A window started as the program starts it, without the three seconds of the clock and
    // under a title of its own, so that it never meets a running program.
    std::unique_ptr<TVideoMain> Start(std::function<bool(int, int, int)> modes = AllModes) {
        TVideoMainStartUp startUp;
        startUp.MeasureCpuMhz = [] { return 2400; };
        startUp.DisplayModeAccepted = std::move(modes);
        startUp.CopyTitle = title;
        return std::make_unique<TVideoMain>(nullptr, startUp);
    }

    template <typename T> T* Control(const TVideoMain& window, const char* name) {
        T* control = window.findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    const QString title = QStringLiteral("Стендограф test ") + QUuid::createUuid().toString();
};

// A user's choice in a drop-down list: focus it and step with the arrow keys.
void UserSelects(QComboBox* combo, int index) {
    combo->setFocus();
    while (combo->currentIndex() < index)
        QTest::keyClick(combo, Qt::Key_Down);
    while (combo->currentIndex() > index)
        QTest::keyClick(combo, Qt::Key_Up);
}

TEST_F(MainWindow, OpensAsTheUserFirstSeesIt) {
    LoadDirect3DLibrary();
    auto window = Start();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    EXPECT_EQ(window->windowTitle(), "Стендограф 1.5");
    EXPECT_EQ(window->size(), QSize(442, 337));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 2);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);

    const struct {
        const char* name;
        QRect geometry;
        const char* text;
    } controls[] = {
        {"ComboTest", {16, 16, 201, 21}, "Выборочное тестирование"},
        {"StaticText2", {16, 56, 201, 17}, "Ускорение"},
        {"ComboAcc", {16, 80, 201, 21}, "Программная эмуляция"},
        {"StaticText1", {15, 120, 202, 17}, "Графические режимы"},
        {"Box1", {16, 144, 201, 177}, ""},
        {"BitBtn1", {224, 16, 201, 34}, "Тестирование"},
        {"BitBtn2", {224, 56, 201, 34}, "Презентация"},
        {"BitBtn3", {224, 104, 201, 34}, "Результаты"},
        {"BitBtn5", {224, 144, 201, 34}, "Справка"},
        {"LabeledEdit1", {224, 216, 201, 21}, "https://stendograph.org/"},
        {"LabeledEdit2", {224, 256, 202, 21}, "results@stendograph.org"},
        {"BitBtn4", {224, 288, 201, 34}, "Выход"},
        {"LabeledEdit1Label", {224, 200, 60, 13}, "Сайт:"},
        {"LabeledEdit2Label", {224, 240, 60, 13}, "E-mail:"},
    };
    for (const auto& c : controls) {
        QWidget* control = Control<QWidget>(*window, c.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), c.geometry) << c.name;
        EXPECT_TRUE(control->isVisible()) << c.name;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(control))
            text = button->text();
        else if (auto* combo = qobject_cast<QComboBox*>(control))
            text = combo->currentText();
        else if (auto* label = qobject_cast<QLabel*>(control))
            text = label->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(control))
            text = edit->text();
        EXPECT_EQ(text.toStdString(), c.text) << c.name;
    }

    auto* scope = Control<QComboBox>(*window, "ComboTest");
    ASSERT_EQ(scope->count(), 2);
    EXPECT_EQ(scope->itemText(0).toStdString(), "Полное тестирование");
    // The software renderer is no HAL device: full software emulation is all there is.
    auto* acceleration = Control<QComboBox>(*window, "ComboAcc");
    EXPECT_EQ(acceleration->count(), 1);
    EXPECT_TRUE(acceleration->isEnabled());
    EXPECT_TRUE(Control<QWidget>(*window, "BitBtn1")->isEnabled());
    EXPECT_TRUE(Control<QWidget>(*window, "BitBtn2")->isEnabled());

    for (const char* name : {"LabeledEdit1", "LabeledEdit2"}) {
        auto* edit = Control<QLineEdit>(*window, name);
        EXPECT_TRUE(edit->isReadOnly());
        EXPECT_EQ(edit->cursor().shape(), Qt::PointingHandCursor);
    }

    for (int k = 1; k <= 10; ++k) {
        QCheckBox* box = window->ModeCheckBox(k);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible()) << k;
        EXPECT_FALSE(box->isChecked()) << k;
        EXPECT_EQ(box->geometry(), QRect(11, 8 + 16 * (k - 1), 170, 17)) << k;
    }
    EXPECT_EQ(window->ModeCheckBox(1)->text().toStdString(), "640 x 480 pixels, 16 bits");
    EXPECT_EQ(window->ModeCheckBox(10)->text().toStdString(), "1600 x 1200 pixels, 32 bits");

    // The buttons: a heavy face at 21 pixels in blue, on a glyph painted as every background.
    auto* button = Control<TBitBtn>(*window, "BitBtn3");
    EXPECT_EQ(button->font().pixelSize(), 21);
    EXPECT_EQ(QFontInfo(button->font()).family().toStdString(), "Lato");
    EXPECT_GE(QFontInfo(button->font()).weight(), int(QFont::Black));
    EXPECT_EQ(button->palette().color(QPalette::ButtonText), QColor(Qt::blue));
    ASSERT_EQ(button->Glyph().size(), QSize(197, 30));
    EXPECT_EQ(button->Glyph().pixelColor(0, 0), QColor(16, 32, 255));
    EXPECT_EQ(button->Glyph().pixelColor(98, 15), QColor(95, 159, 255));

    // What the user sees: the glyph under the caption, blue letters on it.
    const QImage shot = window->grab().toImage();
    window->grab().save(QString::fromStdString((folder / "main-window.png").string()));
    if (const char* keep = std::getenv("STENDO_MAIN_WINDOW_PNG"))
        shot.save(QString::fromUtf8(keep));
    int blueLetters = 0;
    for (int x = 226; x < 423; ++x)
        for (int y = 106; y < 136; ++y)
            if (shot.pixelColor(x, y) == QColor(0, 0, 255))
                ++blueLetters;
    EXPECT_GT(blueLetters, 100);
    EXPECT_EQ(shot.pixelColor(228, 108), QColor(16, 32, 255));  // the glyph's outer ring
    EXPECT_EQ(shot.pixelColor(220, 200), QColor(95, 159, 255)); // the window's background
}

TEST_F(MainWindow, WithoutTheRuntimeNothingCanBeLaunched) {
    auto window = Start();
    EXPECT_TRUE(Direct3DMissing);
    auto* acceleration = Control<QComboBox>(*window, "ComboAcc");
    EXPECT_EQ(acceleration->count(), 0);
    EXPECT_EQ(acceleration->currentIndex(), -1);
    EXPECT_FALSE(Control<QWidget>(*window, "BitBtn1")->isEnabled());
    EXPECT_FALSE(Control<QWidget>(*window, "BitBtn2")->isEnabled());
    EXPECT_TRUE(Control<QWidget>(*window, "BitBtn3")->isEnabled());

    window->show();
    auto* scope = Control<QComboBox>(*window, "ComboTest");
    UserSelects(scope, 0);
    EXPECT_EQ(acceleration->currentIndex(), -1);
    EXPECT_TRUE(window->ModeCheckBox(10)->isChecked());
    UserSelects(scope, 1);
    EXPECT_FALSE(window->ModeCheckBox(10)->isChecked());
    // The computer is identified and stored all the same.
    ASSERT_EQ(Computers.size(), 1u);
    EXPECT_EQ(CurrentComputerIndex, 0);
}

TEST_F(MainWindow, OnlyTheModesTheScreenTakesAreOffered) {
    auto window = Start([](int w, int, int d) { return !(w == 800 && d == 16); });
    window->show();
    EXPECT_EQ(window->ModeCheckBox(2)->text().toStdString(), "640 x 480 pixels, 32 bits");
    EXPECT_EQ(window->ModeCheckBox(3)->text().toStdString(), "800 x 600 pixels, 32 bits");
    EXPECT_EQ(window->ModeCheckBox(9)->text().toStdString(), "1600 x 1200 pixels, 32 bits");
    EXPECT_TRUE(window->ModeCheckBox(9)->isVisible());
    EXPECT_FALSE(window->ModeCheckBox(10)->isVisible());
    EXPECT_EQ(ModeAvailable[1][0], 0);
    EXPECT_EQ(ModeAvailable[1][1], 1);
}

TEST_F(MainWindow, ScopeSwitchForthAndBackWithThreeAccelerations) {
    LoadDirect3DLibrary();
    SoftwareAsHardware(true);
    auto window = Start([](int w, int, int) { return w <= 1024; });
    SoftwareAsHardware(false);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    auto* scope = Control<QComboBox>(*window, "ComboTest");
    auto* acceleration = Control<QComboBox>(*window, "ComboAcc");
    auto* modes = Control<QScrollArea>(*window, "Box1");
    ASSERT_EQ(acceleration->count(), 3);
    EXPECT_EQ(acceleration->itemText(0).toStdString(), "Аппаратное и программное");
    EXPECT_EQ(acceleration->currentIndex(), 0);

    // Selections from code are no user change: nothing follows from them.
    scope->setCurrentIndex(0);
    EXPECT_TRUE(modes->isEnabled());
    EXPECT_FALSE(window->ModeCheckBox(1)->isChecked());
    scope->setCurrentIndex(1);

    // The user ticks a mode and picks software vertex processing, then switches to full.
    QTest::mouseClick(window->ModeCheckBox(2), Qt::LeftButton, {}, QPoint(5, 8));
    ASSERT_TRUE(window->ModeCheckBox(2)->isChecked());
    UserSelects(acceleration, 2);
    UserSelects(scope, 0);
    EXPECT_FALSE(modes->isEnabled());
    EXPECT_FALSE(acceleration->isEnabled());
    EXPECT_EQ(acceleration->currentIndex(), 0);
    for (int k = 1; k <= 6; ++k)
        EXPECT_TRUE(window->ModeCheckBox(k)->isChecked()) << k;
    EXPECT_FALSE(window->ModeCheckBox(7)->isVisible());
    EXPECT_FALSE(window->ModeCheckBox(7)->isChecked());

    // Back to selective: every mark cleared, the one set before too, and hardware selected.
    UserSelects(scope, 1);
    EXPECT_TRUE(modes->isEnabled());
    EXPECT_TRUE(acceleration->isEnabled());
    EXPECT_EQ(acceleration->currentIndex(), 1);
    for (int k = 1; k <= 6; ++k)
        EXPECT_FALSE(window->ModeCheckBox(k)->isChecked()) << k;
}

TEST_F(MainWindow, ASecondCopyBringsTheFirstToTheFrontAndTouchesNothing) {
    SingleCopy first(title);
    ASSERT_EQ(first.Claim(), TClaimResult::First);
    QSignalSpy activations(&first, &SingleCopy::ActivationRequested);
    WriteBytes(folder / "Results.bin", *EncodeResultsFile({MakeComputer("home")}, {{}}, {{}}, 1));
    WriteBytes(folder / "other.bin", *EncodeResultsFile({MakeComputer("other")}, {{}}, {{}}, 1));

    int modeQuestions = 0;
    BoxAnswerer answerer({QMessageBox::Yes});
    auto window = Start([&](int, int, int) {
        ++modeQuestions;
        return true;
    });
    EXPECT_TRUE(window->SecondCopy());
    EXPECT_TRUE(activations.wait(5000));
    EXPECT_EQ(modeQuestions, 0);
    EXPECT_TRUE(answerer.Boxes().empty());
    EXPECT_TRUE(Computers.empty());
    EXPECT_EQ(CurrentComputer.Processor, TStringSlot{});
}

TEST_F(MainWindow, TheFirstCopyComesToTheFrontWhenAsked) {
    auto window = Start();
    window->show();
    window->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isMinimized(); }, 2000));
    SingleCopy second(title);
    EXPECT_EQ(second.Claim(), TClaimResult::WindowRuns);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isMinimized(); }, 5000));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindow, StartUpMergesOtherResultsFilesOnRequest) {
    WriteBytes(folder / "Results.bin", *EncodeResultsFile({MakeComputer("home")}, {{}}, {{}}, 1));
    WriteBytes(folder / "a.bin", *EncodeResultsFile({MakeComputer("a")}, {{}}, {{}}, 1));
    WriteBytes(folder / "b.bin", *EncodeResultsFile({MakeComputer("b")}, {{}}, {{}}, 1));
    BoxAnswerer answerer({QMessageBox::No, QMessageBox::Yes});
    auto window = Start();
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_NE(answerer.Boxes()[0].Text.find("'a.bin'"), std::string::npos);
    EXPECT_NE(answerer.Boxes()[1].Text.find("'b.bin'"), std::string::npos);
    // Asked over the place where the window is about to open, in the middle of the screen.
    for (const auto& box : answerer.Boxes())
        EXPECT_TRUE(window->geometry().contains(box.Centre))
            << box.Centre.x() << "," << box.Centre.y();
    // home, b, and this computer added after them.
    ASSERT_EQ(Computers.size(), 3u);
    EXPECT_EQ(Computers[1].Owner, MakeComputer("b").Owner);
    EXPECT_EQ(CurrentComputerIndex, 2);
}

TEST_F(MainWindow, AResultsFileThatCannotBeReadEndsInTheRetryDialog) {
    WriteBytes(folder / "Results.bin", *EncodeResultsFile({MakeComputer("home")}, {{}}, {{}}, 1));
    // Another copy holds the folder for the whole start-up.
    const int other = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    std::vector<std::string> asked;
    SetRetryAsker([&](const std::string& text) {
        asked.push_back(text);
        return false; // Ignore
    });
    auto window = Start();
    SetRetryAsker({});
    close(other);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked[0], "Файл Results.bin не доступен для чтения.");
    // The program goes on with this computer alone.
    ASSERT_EQ(Computers.size(), 1u);
    EXPECT_EQ(CurrentComputerIndex, 0);
}

// A Results.bin with a record that cannot be a measurement (64 bytes flipped in it): the window
// says at start, in Russian, how many records it left out and why; the first save keeps the old
// file aside before it replaces it, and the end of the series says so with what was left.
TEST_F(MainWindow, ARecordItDoesNotBelieveIsToldAtStartAndTheFileKeptBeforeTheFirstSave) {
    LoadDirect3DLibrary();
    StoreImage home;
    home.Add(MakeComputer("home"), {"  chip"},
             {MakeResult(7, 640, 480, 16, 30), MakeResult(8, 800, 600, 16, 20)});
    auto bytes = home.Encode();
    const std::size_t second =
        ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 256 + 4 + sizeof(TResultRecord);
    for (std::size_t i = 24; i < 88; ++i)
        bytes[second + i] ^= 0xA5;
    WriteBytes(folder / "Results.bin", bytes);

    TVideoMainStartUp startUp;
    startUp.MeasureCpuMhz = [] { return 2400; };
    startUp.DisplayModeAccepted = AllModes;
    startUp.CopyTitle = title;
    // A pass that records what a steady pass of the configuration would, without drawing.
    startUp.Series.RunPass = [] {
        TResultRecord config{};
        config.TestSet = TestSet;
        std::memcpy(&config.Width, &CurrentTest, sizeof CurrentTest);
        StoreResult(ComputerResults[static_cast<std::size_t>(CurrentComputerIndex)],
                    SteadyPassResult(config, 25, CurrentDateTime()));
        ResultsChanged = true;
    };
    startUp.Series.ShowProgress = [](int, int) {};
    startUp.Series.ScreenSaver = [](bool) {};
    std::string end;
    startUp.Series.ShowEnd = [&end](const std::string& text) { end = text; };

    BoxAnswerer answerer({QMessageBox::Ok});
    auto window = std::make_unique<TVideoMain>(nullptr, startUp);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    const std::string told = answerer.Boxes()[0].Text;
    EXPECT_NE(told.find("Из файла «Results.bin» не взято результатов: 1 — это не могут быть "
                        "измерения: "),
              std::string::npos)
        << told;
    EXPECT_NE(told.find("сохранит прежний файл под другим именем"), std::string::npos) << told;
    EXPECT_EQ(ReadBytes(folder / "Results.bin"), bytes) << "opening changes nothing on disk";

    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    Control<QCheckBox>(*window, "CheckBox1")->setChecked(true);
    QTest::mouseClick(Control<QWidget>(*window, "BitBtn1"), Qt::LeftButton);

    std::string kept;
    for (const std::string& name : FolderEntries(folder.path()))
        if (name.starts_with("Results.bin.kept-"))
            kept = name;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(ReadBytes(folder / kept), bytes);
    EXPECT_NE(end.find(kept), std::string::npos) << end;
    EXPECT_NE(end.find("не взято результатов: 1"), std::string::npos) << end;
    // The new file holds the believed result of home and the new one, never the invented one.
    StoreImage onDisk;
    const auto written = ReadBytes(folder / "Results.bin");
    TMergeReport report;
    MergeResultsFile(written, LatestPlausibleTimestamp(), onDisk.Computers, onDisk.Devices,
                     onDisk.Results, &report);
    EXPECT_TRUE(report.TookEverything());
    ASSERT_EQ(onDisk.Computers.size(), 2u);
    EXPECT_EQ(onDisk.Results[0].size(), 1u);
    EXPECT_EQ(onDisk.Results[1].size(), 1u);
}

TEST_F(MainWindow, ResultsOpenModallyAndExitCloses) {
    auto window = Start();
    TVideoResults results(window.get());
    VideoResults = &results;
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));

    QWidget* shownModal = nullptr;
    QTimer::singleShot(100, [&] {
        shownModal = QApplication::activeModalWidget();
        if (shownModal != nullptr)
            shownModal->close();
    });
    QTest::mouseClick(Control<QWidget>(*window, "BitBtn3"), Qt::LeftButton);
    VideoResults = nullptr;
    EXPECT_EQ(shownModal, &results);
    EXPECT_FALSE(results.isVisible());

    QTest::mouseClick(Control<QWidget>(*window, "BitBtn4"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

} // namespace
