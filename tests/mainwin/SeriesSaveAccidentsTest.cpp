// The window's series meeting the accidents of ordinary use at its end (the pass behind its
// seam, everything after it real): the old results stay on the disk or are kept aside, the
// user is told why in the end message and never of a success, the new results stay in memory,
// and no file of the user's goes. The Retry/Ignore dialog is the real one, answered Ignore.
#include "mainwin/Series.h"
#include "mainwin/UnsavedResults.h"

#include "SeriesFixture.h"
#include "state/SaveAccidents.h"
#include "support/TempDir.h"

#include <QWidget>

#include <gtest/gtest.h>

namespace {

// The reason the end message gives for each accident whose save fails.
std::string ReasonOf(TAccident accident) {
    switch (accident) {
    case TAccident::DiskFull:
        return "файл превысил наибольший допустимый размер";
    case TAccident::FolderLocked:
        return "файл занят другой копией программы";
    case TAccident::FolderReadOnly:
        return "папка программы защищена от записи";
    case TAccident::ResultsIsAFolder:
        return "под именем Results.bin в папке программы находится не файл";
    case TAccident::DanglingLink:
        return "Results.bin — ссылка на файл, которого нет";
    default:
        return {};
    }
}

// As the main window leaves the store after start-up: Results.bin of the folder loaded, then
// this computer added.
void StartUpIn() {
    Computers.clear();
    ComputerDevices.clear();
    ComputerResults.clear();
    LoadResults("Results.bin");
    CurrentComputer = ComputerOf("this computer", D3DCAPS8{});
    Computers.push_back(CurrentComputer);
    ComputerDevices.emplace_back();
    ComputerResults.emplace_back();
    CurrentComputerIndex = static_cast<std::int32_t>(Computers.size() - 1);
    ResultsChanged = false;
    ResultsUnsaved = false;
}

class SeriesAccident : public testing::TestWithParam<TAccidentCase> {
protected:
    void SetUp() override { std::memset(ModeAvailable, 1, sizeof ModeAvailable); }
    SharedStateGuard state_;
    TempDir folder_{true};
};

TEST_P(SeriesAccident, OldResultsStayTheUserIsToldAndNothingOfTheirsGoes) {
    const TAccident accident = GetParam().Accident;
    PrepareAccident(accident, folder_.path());
    StartUpIn();
    const TFolderSnapshot before = SnapshotOf(folder_.path());

    std::optional<FolderLockHolder> holder;
    std::optional<rlimit> limit;
    const passwd* user = nullptr;
    switch (accident) {
    case TAccident::DiskFull:
        limit = LimitFileSize(std::filesystem::file_size(folder_ / "Results.bin"));
        break;
    case TAccident::FolderLocked:
        holder.emplace(folder_.path());
        ASSERT_TRUE(holder->Held());
        break;
    case TAccident::FolderReadOnly:
        MakeFolderReadOnly(folder_.path());
        user = UnprivilegedUser();
        if (user != nullptr) {
            ASSERT_EQ(seteuid(user->pw_uid), 0);
        }
        break;
    default:
        break;
    }

    QWidget mainWindow;
    mainWindow.show();
    SeriesSeams seams;
    seams.RunPass = RecordPlausiblePass;
    seams.ShowProgress = [](int, int) {};
    seams.ScreenSaver = [](bool) {};
    SeriesChoice choice;
    choice.Ticked[0] = true;
    // Every box is answered Ignore: the Retry/Ignore dialog gives up, the end message closes.
    MessageBoxUser user_(QMessageBox::Ignore);
    const TSeriesOutcome outcome = RunSeries(&mainWindow, choice, seams);

    if (user != nullptr) {
        ASSERT_EQ(seteuid(0), 0);
    }
    if (limit)
        setrlimit(RLIMIT_FSIZE, &*limit);
    holder.reset();
    MakeFolderWritable(folder_.path());

    ExpectFolderAfter(accident, folder_.path(), before);
    EXPECT_FALSE(outcome.Failed);
    ASSERT_FALSE(user_.Boxes().empty());
    const std::string end = user_.Boxes().back().Text.toStdString();
    EXPECT_EQ(end.find(SeriesSucceededText) == 0, KeepsOldFileAside(accident)) << end;
    EXPECT_NE(end, SeriesSucceededText);
    // The new result is in memory whatever happened to the file.
    ASSERT_EQ(ComputerResults[static_cast<std::size_t>(CurrentComputerIndex)].size(), 1u);
    if (KeepsOldFileAside(accident)) {
        EXPECT_TRUE(outcome.Save.Saved);
        EXPECT_FALSE(ResultsUnsaved);
        EXPECT_NE(end.find(outcome.Save.KeptAs), std::string::npos) << end;
        // Only the blocks the reader could take are in the new file, with the new result.
        const StoreOnDisk disk = ReadResultsFile();
        EXPECT_NE(disk.ResultsOf(CurrentComputer), nullptr);
        EXPECT_EQ(user_.Boxes().size(), 1u) << "no dialog before the end message";
    } else {
        EXPECT_FALSE(outcome.Save.Saved);
        EXPECT_TRUE(ResultsUnsaved);
        EXPECT_NE(end.find("Результаты тестирования не сохранены в файле Results.bin: " +
                           ReasonOf(accident)),
                  std::string::npos)
            << end;
        // The save was tried, and given up only by the user.
        EXPECT_GE(user_.Boxes().size(), 2u);
        EXPECT_EQ(user_.Boxes().front().Buttons, QMessageBox::Retry | QMessageBox::Ignore);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SeriesAccident, testing::ValuesIn(AccidentCases), AccidentCaseName);

// Results that could not be saved are saved by the next series once the cause is gone, and
// until then the window's close asks first: Cancel and a failed Retry keep it open.
TEST(UnsavedResults, TheNextSeriesSavesThemAndTheCloseAsksUntilThen) {
    SharedStateGuard state;
    TempDir folder(true);
    std::memset(ModeAvailable, 1, sizeof ModeAvailable);
    PrepareAccident(TAccident::FolderLocked, folder.path());
    StartUpIn();

    SeriesSeams seams;
    seams.RunPass = RecordPlausiblePass;
    seams.ShowProgress = [](int, int) {};
    seams.ScreenSaver = [](bool) {};
    seams.ShowEnd = [](const std::string&) {};
    SetRetryAsker([](const std::string&) { return false; });
    SeriesChoice choice;
    choice.Ticked[0] = true;
    TSaveOutcome lastSave;
    {
        FolderLockHolder holder(folder.path());
        lastSave = RunSeries(nullptr, choice, seams).Save;
        ASSERT_FALSE(lastSave.Saved);
        ASSERT_TRUE(ResultsUnsaved);

        // At close, while the folder is still held: Cancel stays; Retry fails and stays.
        for (const auto answer : {QMessageBox::Cancel, QMessageBox::Retry}) {
            MessageBoxUser user(answer);
            EXPECT_FALSE(OfferToSaveAgain(nullptr, lastSave));
            ASSERT_FALSE(user.Boxes().empty());
            EXPECT_NE(user.Boxes().front().Text.indexOf("файл занят другой копией программы"), -1);
        }
    }
    // Discard closes without saving.
    {
        MessageBoxUser user(QMessageBox::Discard);
        EXPECT_TRUE(OfferToSaveAgain(nullptr, lastSave));
        EXPECT_TRUE(ResultsUnsaved);
    }
    // With the folder free again, Retry saves and the window may close.
    {
        MessageBoxUser user(QMessageBox::Retry);
        EXPECT_TRUE(OfferToSaveAgain(nullptr, lastSave));
        EXPECT_TRUE(lastSave.Saved);
        EXPECT_FALSE(ResultsUnsaved);
    }
    const StoreOnDisk disk = ReadResultsFile();
    ASSERT_NE(disk.ResultsOf(CurrentComputer), nullptr);
    EXPECT_EQ(disk.ResultsOf(CurrentComputer)->size(), 1u);

    // And the next series saves on its own.
    {
        FolderLockHolder holder(folder.path());
        choice.Ticked = {};
        choice.Ticked[1] = true;
        ASSERT_FALSE(RunSeries(nullptr, choice, seams).Save.Saved);
    }
    choice.Ticked = {};
    choice.Ticked[2] = true;
    EXPECT_TRUE(RunSeries(nullptr, choice, seams).Save.Saved);
    EXPECT_FALSE(ResultsUnsaved);
    EXPECT_EQ(ReadResultsFile().ResultsOf(CurrentComputer)->size(), 3u);
    SetRetryAsker({});
}

} // namespace
