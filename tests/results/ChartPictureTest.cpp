// Saving the whole chart as a picture file, and the window's save command answered as a user
// would.
#include "ChartFixture.h"

#include "chart/ChartPainter.h"
#include "results/PictureFailure.h"
#include "results/VideoResults1.h"
#include "support/OnScreen.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <sys/resource.h>

namespace {

class ChartPictureTest : public ChartStoreTest {
protected:
    void SetUp() override {
        ChartStoreTest::SetUp();
        for (int c = 0; c < 70; ++c) // 210 entries: taller than one band of the writer
            Add(MakeComputer("Processor " + std::to_string(c), "Adapter " + std::to_string(c)),
                {MakeResult(1024, 768, 32, 0, 100.0f + static_cast<float>(c)),
                 MakeResult(1024, 768, 32, 1, 50), MakeResult(1024, 768, 32, 2, 7.5f)});
    }
    TempDir dir_{false};
};

TEST_F(ChartPictureTest, BmpAndPngHoldTheWholePictureInSixteenColours) {
    const TChartLayout layout = MakeChartLayout({0, 0, 0});
    ASSERT_GT(layout.Height, 4096 * 3);
    const QImage whole = ChartRows(layout, 0, layout.Height, ".");
    for (const char* name : {"chart.bmp", "chart.png"}) {
        const QString file = QString::fromStdString((dir_ / name).string());
        TPictureFailure failure;
        std::vector<std::pair<int, int>> told; // the progress: rows painted of rows in all
        ASSERT_TRUE(SaveChartPicture(layout, file, ".", &failure, [&](int done, int all) {
            told.emplace_back(done, all);
            return true;
        })) << PictureFailureText(failure, file, layout.Height).toStdString();
        ASSERT_EQ(told.size(), static_cast<std::size_t>((layout.Height + 4095) / 4096));
        EXPECT_EQ(told.front(), std::make_pair(4096, layout.Height));
        EXPECT_EQ(told.back(), std::make_pair(layout.Height, layout.Height));
        const QImage saved(file);
        ASSERT_FALSE(saved.isNull()) << name;
        EXPECT_EQ(saved.colorCount(), 16) << name;
        EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), whole) << name;
    }
}

TEST_F(ChartPictureTest, AnUnwritablePlaceLeavesNoFileAndSaysWhy) {
    const TChartLayout layout = MakeChartLayout({0, 0, 0});
    TPictureFailure failure;
    const QString file = QString::fromStdString((dir_ / "missing" / "chart.bmp").string());
    EXPECT_FALSE(SaveChartPicture(layout, file, ".", &failure));
    EXPECT_EQ(failure.File.Step, TFileStep::Create);
    EXPECT_TRUE(PictureFailureText(failure, file, layout.Height).contains("chart.bmp"));

    // A picture too tall for the BMP's size field is refused before anything is written.
    TChartLayout tall = layout;
    tall.Height = MaxBmpChartHeight + 1;
    const std::filesystem::path bmp = dir_ / "tall.bmp";
    const QString bmpName = QString::fromStdString(bmp.string());
    EXPECT_FALSE(SaveChartPicture(tall, bmpName, ".", &failure));
    EXPECT_TRUE(failure.TooTallForBmp);
    EXPECT_TRUE(PictureFailureText(failure, bmpName, tall.Height).contains("PNG"));
    EXPECT_FALSE(std::filesystem::exists(bmp));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

// A save that the disk cuts short or the user stops leaves the older picture of that name as
// it was and nothing else.
TEST_F(ChartPictureTest, AFullDiskOrAStopKeepsTheOlderPicture) {
    const TChartLayout layout = MakeChartLayout({0, 0, 0});
    for (const char* name : {"chart.bmp", "chart.png"}) {
        SCOPED_TRACE(name);
        const std::filesystem::path path = dir_ / name;
        const QString file = QString::fromStdString(path.string());
        const std::string older = "an older picture";
        {
            std::ofstream out(path, std::ios::binary);
            out << older;
        }
        const auto unchanged = [&] {
            std::ifstream in(path, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            return bytes == older && std::distance(std::filesystem::directory_iterator(dir_.path()),
                                                   std::filesystem::directory_iterator()) == 1;
        };

        // The disk takes 64 KiB of the new file, no more.
        signal(SIGXFSZ, SIG_IGN);
        rlimit previous{};
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limited);
        TPictureFailure failure;
        const bool saved = SaveChartPicture(layout, file, ".", &failure);
        setrlimit(RLIMIT_FSIZE, &previous);
        EXPECT_FALSE(saved);
        EXPECT_EQ(failure.File.Step, TFileStep::Write);
        EXPECT_EQ(failure.File.Errno, EFBIG);
        EXPECT_TRUE(unchanged());

        // Stopped after the second band.
        std::vector<std::pair<int, int>> told;
        const bool finished = SaveChartPicture(layout, file, ".", &failure, [&](int done, int all) {
            told.emplace_back(done, all);
            return told.size() < 2;
        });
        EXPECT_FALSE(finished);
        EXPECT_TRUE(failure.Cancelled);
        EXPECT_FALSE(failure.File.Failed());
        EXPECT_EQ(told,
                  (std::vector<std::pair<int, int>>{{4096, layout.Height}, {8192, layout.Height}}));
        EXPECT_TRUE(unchanged());
        std::filesystem::remove(path);
    }
}

// A user at the window's save: names the file in the dialog and confirms it with Enter, stops
// the save in the progress window when told to, and reads the message at the end.
class PictureSaveUser {
public:
    PictureSaveUser(QString file, bool stop) : file_(std::move(file)), stop_(stop) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start(20);
    }

    bool NamedTheFile = false;
    int ProgressMaximum = -1; // of the progress window, once seen
    bool Stopped = false;
    bool Replaced = false; // the older file's replacement confirmed
    QStringList Messages;
    std::vector<bool> Painted; // of each message, whether the screen showed it as painted

private:
    void Look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal);
            dialog != nullptr && dialog->objectName() == "SavePictureDialog" && !NamedTheFile) {
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(file_);
            NamedTheFile = true;
            // After this look: the dialog may ask a question of its own in a loop of its own.
            QTimer::singleShot(0, name, [name] { QTest::keyClick(name, Qt::Key_Return); });
        } else if (auto* progress = qobject_cast<QProgressDialog*>(modal);
                   progress != nullptr && progress->isVisible()) {
            ProgressMaximum = progress->maximum();
            Picture(*progress, "save-progress");
            if (stop_ && !Stopped) {
                auto* cancel = progress->findChild<QPushButton*>();
                ASSERT_NE(cancel, nullptr);
                EXPECT_EQ(cancel->text(), "Отмена");
                Stopped = true;
                QTest::mouseClick(cancel, Qt::LeftButton);
            }
        } else if (auto* box = qobject_cast<QMessageBox*>(modal);
                   box != nullptr && box->isVisible()) {
            // The file dialog's question whether to replace the older file is answered Yes.
            if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
                Replaced = true;
                yes->click();
                return;
            }
            Messages.append(box->text());
            // On the screen as it paints itself, never a black box.
            Painted.push_back(ShownAsPainted(*box));
            Picture(*box, stop_ ? "save-stopped" : "save-ended");
            box->button(QMessageBox::Ok)->click();
        }
    }

    // The screen with the window, when pictures are asked for (STENDO_SHOT_DIR).
    static void Picture(QWidget& window, const char* name) {
        const QByteArray dir = qgetenv("STENDO_SHOT_DIR");
        if (dir.isEmpty())
            return;
        ShownAsPainted(window); // on the screen before the screen is taken
        window.screen()->grabWindow(0).save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
    }

    QString file_;
    bool stop_;
    QTimer timer_;
};

TEST_F(ChartPictureTest, TheWindowSavesTheSelectionShownWhereTheUserSays) {
    TVideoResults window;
    window.show();
    const std::string file = (dir_ / "Одна машина.bmp").string();
    window.findChild<QWidget*>("RadioComputer1")->setFocus();
    QTest::keyClick(window.findChild<QWidget*>("RadioComputer1"), Qt::Key_Space);
    PictureSaveUser user(QString::fromStdString(file), false);
    window.SavePictureClick();
    ASSERT_TRUE(user.NamedTheFile);
    const TChartLayout shown = MakeChartLayout({1, 0, 0});
    const QImage saved(QString::fromStdString(file));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              ChartRows(shown, 0, shown.Height, QLocale().decimalPoint()));
    EXPECT_EQ(user.Messages,
              QStringList{QString::fromStdString("Рисунок сохранён в файле " + file + ".")});
}

// A picture of several bands: the progress window counts its rows, its "Отмена" stops the save
// with the older picture of that name left as it was and nothing else written, and the user
// is told; saved to the end, the user is told that too.
TEST_F(ChartPictureTest, TheWindowsSaveShowsProgressAndCanBeStopped) {
    TVideoResults window;
    window.show();
    const TChartLayout layout = MakeChartLayout({0, 0, 0});
    ASSERT_GT(layout.Height, 4096 * 3);
    const std::filesystem::path path = dir_ / "chart.png";
    const QString file = QString::fromStdString(path.string());
    {
        std::ofstream older(path, std::ios::binary);
        older << "an older picture";
    }
    {
        PictureSaveUser user(file, true);
        window.SavePictureClick();
        EXPECT_TRUE(user.Replaced);
        EXPECT_TRUE(user.Stopped);
        EXPECT_EQ(user.ProgressMaximum, layout.Height);
        ASSERT_EQ(user.Messages.size(), 1);
        EXPECT_TRUE(user.Messages[0].startsWith("Сохранение рисунка прервано"))
            << user.Messages[0].toStdString();
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "an older picture");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                                std::filesystem::directory_iterator()),
                  1);
    }
    PictureSaveUser user(file, false);
    window.SavePictureClick();
    EXPECT_EQ(user.ProgressMaximum, layout.Height);
    EXPECT_EQ(user.Messages, QStringList{"Рисунок сохранён в файле " + file + "."});
    EXPECT_EQ(user.Painted, std::vector<bool>{true});
    // What the picture holds is the whole chart's test's; here, that it is whole.
    EXPECT_EQ(QImage(file).size(), QSize(ChartWidth, layout.Height));
}

} // namespace
