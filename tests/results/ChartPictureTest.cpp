// Saving the whole chart as a picture file, and the window's save command answered as a user
// would.
#include "ChartFixture.h"

#include "chart/ChartPainter.h"
#include "results/PictureFailure.h"
#include "results/VideoResults1.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
        ASSERT_TRUE(SaveChartPicture(layout, file, ".", &failure))
            << PictureFailureText(failure, file, layout.Height).toStdString();
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

    // A picture too tall for the PNG writer is refused before anything is written.
    TChartLayout tall = layout;
    tall.Height = MaxPngChartHeight + 1;
    const std::filesystem::path png = dir_ / "tall.png";
    const QString pngName = QString::fromStdString(png.string());
    EXPECT_FALSE(SaveChartPicture(tall, pngName, ".", &failure));
    EXPECT_TRUE(failure.TooTallForPng);
    EXPECT_TRUE(PictureFailureText(failure, pngName, tall.Height).contains("BMP"));
    EXPECT_FALSE(std::filesystem::exists(png));
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(ChartPictureTest, TheWindowSavesTheSelectionShownWhereTheUserSays) {
    TVideoResults window;
    window.show();
    const std::string file = (dir_ / "Одна машина.bmp").string();
    window.findChild<QWidget*>("RadioComputer1")->setFocus();
    QTest::keyClick(window.findChild<QWidget*>("RadioComputer1"), Qt::Key_Space);
    bool answered = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = window.findChild<QFileDialog*>("SavePictureDialog");
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(10000, dialog, [dialog] { dialog->reject(); }); // never hang
        // Typed into the dialog's file name field and confirmed with Enter.
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(QString::fromStdString(file));
        answered = true;
        QTest::keyClick(name, Qt::Key_Return);
    });
    window.SavePictureClick();
    ASSERT_TRUE(answered);
    const TChartLayout shown = MakeChartLayout({1, 0, 0});
    const QImage saved(QString::fromStdString(file));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              ChartRows(shown, 0, shown.Height, QLocale().decimalPoint()));
}

} // namespace
