// The questions of the main window's close after series whose results did or did not reach
// Results.bin: the window is the real one, its series runs behind the pass seam, the saves and
// the boxes are real, answered as a user clicks them.
// Before any Qt header: the fixture has a variable that Qt's "slots" keyword would hide.
#include "state/StoreReset.h"

#include "BoxAnswerer.h"
#include "SeriesFixture.h"
#include "mainwin/Contacts.h"
#include "mainwin/Links.h"
#include "mainwin/VideoMain1.h"
#include "platform/RetryDialog.h"
#include "platform/ShellOpen.h"
#include "render/DirectXGraphics.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QUuid>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

// What a series does to Results.bin: saved, or refused because a folder stands in its place.
enum class TSave { Saved, Refused };

struct CloseCase {
    const char* Name;
    std::vector<TSave> Series;
    // The answer to the question whether to save again; the folder is gone by then.
    QMessageBox::StandardButton SaveAgain;
    bool AsksToSaveAgain;
    // The e-mail question comes, and says that the latest results are not in the file.
    bool AsksToSend;
    bool SaysLatestMissing;
};

const CloseCase CloseCases[] = {
    {"EverySeriesSaved_TheMailQuestionAlone",
     {TSave::Saved},
     QMessageBox::NoButton,
     false,
     true,
     false},
    {"NothingSavedAndGivenUp_NoMailQuestion",
     {TSave::Refused},
     QMessageBox::Discard,
     true,
     false,
     false},
    {"EarlierSavedLatestGivenUp_TheQuestionSaysSo",
     {TSave::Saved, TSave::Refused},
     QMessageBox::Discard,
     true,
     true,
     true},
    {"SavedAgainAtClose_TheMailQuestionAlone",
     {TSave::Refused},
     QMessageBox::Retry,
     true,
     true,
     false},
};

class CloseQuestions : public testing::Test {
protected:
    void SetUp() override {
        LoadDirect3DLibrary();
        SetShellOpener([this](const std::string& target) { opened_.push_back(target); });
        SetRetryAsker([](const std::string&) { return false; }); // Ignore
    }
    void TearDown() override {
        SetRetryAsker({});
        SetShellOpener({});
        FreeDirect3DLibrary();
    }

    std::unique_ptr<TVideoMain> Start() {
        TVideoMainStartUp startUp;
        startUp.MeasureCpuMhz = [] { return 2400; };
        startUp.DisplayModeAccepted = [](int, int, int) { return true; };
        startUp.CopyTitle = QStringLiteral("Стендограф test ") + QUuid::createUuid().toString();
        startUp.Series.RunPass = RecordPlausiblePass;
        startUp.Series.ShowProgress = [](int, int) {};
        startUp.Series.ScreenSaver = [](bool) {};
        startUp.Series.ShowEnd = [](const std::string&) {};
        return std::make_unique<TVideoMain>(nullptr, startUp);
    }

    // The series of the case, then the close of the window, answered as the case says.
    void Run(const CloseCase& c);

    std::vector<std::string> opened_;
};

std::string WithoutMnemonics(std::string caption) {
    caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
    return caption;
}

void CloseQuestions::Run(const CloseCase& c) {
    const StartState state;
    const TempDir folder(true);
    ResultsUnsaved = false;
    opened_.clear();
    auto window = Start();
    window->show();
    const std::filesystem::path results = folder / "Results.bin";
    for (std::size_t s = 0; s < c.Series.size(); ++s) {
        std::filesystem::remove_all(results);
        if (c.Series[s] == TSave::Refused)
            std::filesystem::create_directory(results);
        window->ModeCheckBox(static_cast<int>(s) + 1)->setChecked(true);
        QTest::mouseClick(window->findChild<QWidget*>("BitBtn1"), Qt::LeftButton);
        ASSERT_EQ(ResultsUnsaved, c.Series[s] == TSave::Refused) << s;
    }
    std::filesystem::remove_all(results);
    if (c.SaveAgain == QMessageBox::Discard)
        std::filesystem::create_directory(results); // still nowhere to save

    std::deque<QMessageBox::StandardButton> answers;
    if (c.AsksToSaveAgain)
        answers.push_back(c.SaveAgain);
    answers.push_back(QMessageBox::No);
    BoxAnswerer user(answers);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());

    std::size_t next = 0;
    const auto& boxes = user.Boxes();
    if (c.AsksToSaveAgain) {
        ASSERT_GT(boxes.size(), next);
        const auto& question = boxes[next++];
        EXPECT_NE(question.Text.find("Повторить сохранение?"), std::string::npos);
        std::vector<std::string> captions;
        for (const std::string& caption : question.Buttons)
            captions.push_back(WithoutMnemonics(caption));
        std::sort(captions.begin(), captions.end());
        EXPECT_EQ(captions, (std::vector<std::string>{"Не сохранять", "Отмена", "Повторить"}));
    }
    if (c.AsksToSend) {
        ASSERT_EQ(boxes.size(), next + 1);
        EXPECT_EQ(boxes[next].Text,
                  SendResultsQuestion(c.SaysLatestMissing ? TMeasuredOnDisk::AllButTheLatest
                                                          : TMeasuredOnDisk::All)
                      .toStdString());
        EXPECT_EQ(boxes[next].Text.find("не вошли") != std::string::npos, c.SaysLatestMissing);
    } else {
        EXPECT_EQ(boxes.size(), next) << boxes.back().Text;
    }
    EXPECT_TRUE(opened_.empty()); // every mail question was answered No
    for (const auto& box : boxes)
        EXPECT_TRUE(box.Painted) << box.Text;
}

TEST_F(CloseQuestions, TheMailQuestionComesOnlyForWhatTheFileHolds) {
    for (const CloseCase& c : CloseCases) {
        SCOPED_TRACE(c.Name);
        Run(c);
    }
}

} // namespace
