// The results window as a user meets it: real widgets under the X server, driven by clicks and
// keys.
#include "ChartFixture.h"

#include "chart/ChartPainter.h"
#include "platform/BitBtn.h"
#include "platform/Cp1251.h"
#include "results/ChartBox.h"
#include "results/ComputerList.h"
#include "results/VideoResults1.h"
#include "support/OnScreen.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QGroupBox>
#include <QLocale>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// The colours of an image, row by row, whatever its format.
std::vector<std::vector<QRgb>> Pixels(const QImage& image) {
    std::vector<std::vector<QRgb>> rows(static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            rows[static_cast<std::size_t>(y)].push_back(image.pixel(x, y) | 0xFF000000u);
    return rows;
}

// Where two pictures first differ, for a readable failure; "" when they are equal.
std::string FirstDifference(const std::vector<std::vector<QRgb>>& a,
                            const std::vector<std::vector<QRgb>>& b) {
    if (a.size() != b.size())
        return "heights " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (std::size_t y = 0; y < a.size(); ++y) {
        if (a[y].size() != b[y].size())
            return "widths " + std::to_string(a[y].size()) + " and " + std::to_string(b[y].size());
        for (std::size_t x = 0; x < a[y].size(); ++x)
            if (a[y][x] != b[y][x])
                return "pixel " + std::to_string(x) + "," + std::to_string(y);
    }
    return "";
}

class VideoResultsTest : public ChartStoreTest {
protected:
    void SetUp() override {
        ChartStoreTest::SetUp();
        // Twelve computers, the current one at index 1; computer 3 without a HAL device.
        for (int c = 0; c < 12; ++c)
            Add(MakeComputer("Processor " + std::to_string(c) + " (~2400MHz)",
                             "Adapter " + std::to_string(c), c != 3),
                {MakeResult(1024, 768, 32, c == 3 ? 2 : 0, 100.0f + 10 * c),
                 MakeResult(800, 600, 16, 1, 50.0f + c)});
        CurrentComputerIndex = 1;
        ModeAvailable[0][0] = 1;
        window_ = std::make_unique<TVideoResults>();
    }
    void TearDown() override {
        window_.reset();
        ChartStoreTest::TearDown();
    }

    template <typename T> T* Child(const char* name) {
        auto* child = window_->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    void Click(const char* radio) {
        auto* button = Child<QRadioButton>(radio);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    TChartBox* Box() { return Child<TChartBox>("Box1"); }
    TChartSelection Shown() const {
        return {ShownComputerView, ShownComputerIndex, ShownAcceleration};
    }
    void ShowWindow() {
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    std::unique_ptr<TVideoResults> window_;
};

TEST_F(VideoResultsTest, LayoutAndStartState) {
    EXPECT_EQ(window_->windowTitle(), "Результаты тестирований");
    EXPECT_EQ(window_->size(), QSize(648, 537));
    EXPECT_EQ(window_->minimumSize(), window_->maximumSize());
    const struct {
        const char* Name;
        QRect Geometry;
    } controls[] = {
        {"RadioComputer", {16, 16, 153, 73}},   {"RadioAcceleration", {176, 16, 457, 73}},
        {"BoxForComputer", {176, 16, 457, 73}}, {"ComboComputer", {8, 16, 441, 51}},
        {"Box1", {16, 96, 617, 385}},           {"BitBtn2", {224, 488, 201, 34}},
    };
    for (const auto& c : controls)
        EXPECT_EQ(Child<QWidget>(c.Name)->geometry(), c.Geometry) << c.Name;

    EXPECT_TRUE(Child<QRadioButton>("RadioComputer0")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>("RadioAcceleration0")->isChecked());
    EXPECT_TRUE(Child<QWidget>("BoxForComputer")->isHidden());
    auto* combo = Child<TComputerCombo>("ComboComputer");
    EXPECT_EQ(combo->count(), 12);
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(Shown(), (TChartSelection{0, 0, 0}));

    // The close button's glyph: the shaded background, 4 pixels smaller than the button.
    const QImage glyph = Child<TBitBtn>("BitBtn2")->Glyph();
    ASSERT_EQ(glyph.size(), QSize(197, 30));
    EXPECT_EQ(glyph.pixel(0, 0), qRgb(16, 32, 255));
    EXPECT_EQ(glyph.pixel(0, 29), qRgb(0, 0, 0));
    EXPECT_EQ(glyph.pixel(98, 15), qRgb(95, 159, 255));
}

TEST_F(VideoResultsTest, SelectionControlsSwitchTheViews) {
    ShowWindow();
    EXPECT_EQ(Box()->Layout().Height, 42 + 70 * 24 + 14);

    Click("RadioAcceleration2");
    EXPECT_EQ(Shown(), (TChartSelection{0, 0, 2}));
    EXPECT_EQ(Box()->Layout().Entries.size(), 12u); // every computer has a software result

    Click("RadioComputer1");
    auto* combo = Child<TComputerCombo>("ComboComputer");
    EXPECT_TRUE(Child<QWidget>("BoxForComputer")->isVisible());
    EXPECT_TRUE(Child<QWidget>("RadioAcceleration")->isHidden());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(Shown(), (TChartSelection{1, 1, 2}));
    EXPECT_EQ(Box()->Layout().Computer, 1);
    EXPECT_EQ(Box()->Layout().Height, 378);

    Click("RadioComputer2");
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_EQ(Shown(), (TChartSelection{2, 1, 2}));

    // The user picks another computer with the keyboard: the one without a HAL device.
    combo->setFocus();
    for (int i = 0; i < 2; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(combo->currentIndex(), 3);
    EXPECT_EQ(Shown(), (TChartSelection{2, 3, 2}));
    EXPECT_EQ(Box()->Layout().Height, 238);
    ASSERT_EQ(Box()->Layout().Sections.size(), 1u);
    EXPECT_EQ(Box()->Layout().Sections[0].Kind, 2);

    Click("RadioComputer0");
    EXPECT_TRUE(Child<QWidget>("RadioAcceleration")->isVisible());
    EXPECT_TRUE(Child<QWidget>("BoxForComputer")->isHidden());
    EXPECT_TRUE(Child<QRadioButton>("RadioAcceleration2")->isChecked());
    EXPECT_EQ(Shown(), (TChartSelection{0, 3, 2}));
    EXPECT_EQ(Box()->Layout().Entries.size(), 12u);
}

TEST_F(VideoResultsTest, ClickingWhatIsShownDrawsNothingNew) {
    ShowWindow();
    QScrollBar* bar = Box()->verticalScrollBar();
    bar->setValue(300);
    Click("RadioComputer0");
    Click("RadioAcceleration0");
    EXPECT_EQ(bar->value(), 300); // a redraw would have shown the top

    // A one-computer table is never taller than the box; what it shows tells a redraw.
    Click("RadioComputer1");
    ComputerResults[1].push_back(MakeResult(640, 480, 16, 0, 900));
    Click("RadioComputer1");
    EXPECT_EQ(Box()->Layout().Sections[0].Reference, 110);
    Click("RadioComputer2"); // the view changed, the computer did not: drawn again
    EXPECT_EQ(Box()->Layout().Sections[0].Reference, 900);

    ComputerResults[1].push_back(MakeResult(640, 480, 32, 0, 950));
    auto* combo = Child<TComputerCombo>("ComboComputer");
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Up);
    QTest::keyClick(combo, Qt::Key_Down); // back to the computer shown: drawn for the change
    EXPECT_EQ(Shown(), (TChartSelection{2, 1, 0}));
    EXPECT_EQ(Box()->Layout().Sections[0].Reference, 950);
    ComputerResults[1].push_back(MakeResult(800, 600, 32, 0, 990));
    Click("RadioComputer2");
    EXPECT_EQ(Box()->Layout().Sections[0].Reference, 950);
}

TEST_F(VideoResultsTest, EscClosesTheModalWindowAndReopeningKeepsTheSelection) {
    bool answered = false;
    QTimer::singleShot(0, window_.get(), [&] {
        Click("RadioComputer2");
        auto* combo = Child<TComputerCombo>("ComboComputer");
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClick(window_.get(), Qt::Key_Escape);
        answered = true;
    });
    EXPECT_EQ(window_->exec(), QDialog::Rejected);
    ASSERT_TRUE(answered);
    EXPECT_TRUE(window_->isHidden());
    EXPECT_EQ(Shown(), (TChartSelection{2, 1, 0}));

    // A result recorded meanwhile: 640 x 480 at 16 bits, better than the others.
    ComputerResults[1].push_back(MakeResult(640, 480, 16, 0, 1000));
    QTimer::singleShot(0, window_.get(), [&] {
        EXPECT_TRUE(Child<QRadioButton>("RadioComputer2")->isChecked());
        EXPECT_EQ(Child<TComputerCombo>("ComboComputer")->currentIndex(), 1);
        ASSERT_FALSE(Box()->Layout().Sections.empty());
        EXPECT_EQ(Box()->Layout().Sections[0].Reference, 1000);
        QTest::mouseClick(Child<TBitBtn>("BitBtn2"), Qt::LeftButton);
    });
    EXPECT_EQ(window_->exec(), QDialog::Rejected);
    EXPECT_TRUE(window_->isHidden());
}

TEST_F(VideoResultsTest, TheBoxShowsExactlyTheChartRowsInViewAndScrollsByKeys) {
    ShowWindow();
    TChartBox* box = Box();
    box->setFocus();
    const auto shownRows = [&] {
        QApplication::processEvents();
        return Pixels(box->viewport()->grab().toImage());
    };
    const auto expectedRows = [&](int first) {
        const QSize size = box->viewport()->size();
        // The chart's rows, silver beyond its 600 columns.
        QImage expected(size, QImage::Format_RGB32);
        expected.fill(ChartSilver);
        QPainter(&expected).drawImage(
            0, 0, ChartRows(box->Layout(), first, size.height(), QLocale().decimalPoint()));
        return Pixels(expected);
    };
    EXPECT_EQ(FirstDifference(shownRows(), expectedRows(0)), "");

    QTest::keyClick(box, Qt::Key_End);
    const int bottom = box->Layout().Height - box->viewport()->height();
    EXPECT_EQ(box->FirstRow(), bottom);
    EXPECT_EQ(box->verticalScrollBar()->maximum(), bottom);
    EXPECT_EQ(FirstDifference(shownRows(), expectedRows(bottom)), "");

    QTest::keyClick(box, Qt::Key_PageUp);
    EXPECT_EQ(box->FirstRow(), bottom - box->viewport()->height());
    QTest::keyClick(box, Qt::Key_Up);
    const int first = bottom - box->viewport()->height() - 14;
    EXPECT_EQ(box->FirstRow(), first);
    EXPECT_EQ(FirstDifference(shownRows(), expectedRows(first)), "");
    QTest::keyClick(box, Qt::Key_Home);
    EXPECT_EQ(box->FirstRow(), 0);
}

TEST_F(VideoResultsTest, TabVisitsTheControlsInTheirOrder) {
    ShowWindow();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    Child<QRadioButton>("RadioAcceleration0")->setFocus();
    std::vector<QString> visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(window_->focusWidget(), Qt::Key_Tab);
        visited.push_back(window_->focusWidget()->objectName());
    }
    EXPECT_EQ(visited,
              (std::vector<QString>{"Box1", "BitBtn2", "RadioComputer0", "RadioAcceleration0"}));
}

TEST_F(VideoResultsTest, AComputerItemIsTwoLinesOnASilverPanel) {
    QImage item(441, ComputerItemHeight, QImage::Format_RGB32);
    item.fill(Qt::red);
    {
        QPainter painter(&item);
        ComboComputerDrawItem(painter, item.rect(), 4);
    }
    EXPECT_EQ(item.pixel(0, 0), ChartSilver);
    EXPECT_EQ(item.pixel(220, 1), qRgb(255, 255, 255)); // the outline
    EXPECT_EQ(item.pixel(220, 43), qRgb(255, 255, 255));
    EXPECT_EQ(item.pixel(220, 44), ChartSilver);
    const QRect processor = InkBounds(item, QRect(0, 3, 441, 18));
    const QRect adapter = InkBounds(item, QRect(0, 21, 441, 20));
    ASSERT_FALSE(processor.isEmpty());
    ASSERT_FALSE(adapter.isEmpty());
    EXPECT_GE(processor.top(), 7);
    EXPECT_LT(processor.bottom(), 7 + 13);
    EXPECT_GE(adapter.top(), 23);
    EXPECT_LT(adapter.bottom(), 23 + 13);
    EXPECT_GE(processor.left(), 7);
    EXPECT_LE(processor.left(), 9);
    EXPECT_GT(processor.width(), adapter.width()); // "Processor 4 (~2400MHz)" is the longer
}

// The list's small, unsmoothed text reads as words: no gap between the letters of a word is as
// wide as the face's space (3 pixels at its 11), as it was when the glyphs were drawn hinted
// and spaced unhinted ("M Hz", "M X 440").
TEST_F(VideoResultsTest, AComputerItemsLettersAreSpacedAsWords) {
    for (const char* word :
         {"Pentium", "(~2400MHz)", "MX", "GeForce4", "RADEON", "Athlon", "Mobility", "Intel"}) {
        SCOPED_TRACE(word);
        const int computer = Add(MakeComputer(word, word));
        QImage item(441, ComputerItemHeight, QImage::Format_RGB32);
        {
            QPainter painter(&item);
            ComboComputerDrawItem(painter, item.rect(), computer);
        }
        const QRect line = InkBounds(item, QRect(3, 3, 435, 18));
        ASSERT_FALSE(line.isEmpty());
        int widestGap = 0;
        int gap = 0;
        for (int x = line.left(); x <= line.right(); ++x) {
            bool ink = false;
            for (int y = line.top(); y <= line.bottom(); ++y)
                ink = ink || IsInk(item.pixel(x, y));
            gap = ink ? 0 : gap + 1;
            widestGap = std::max(widestGap, gap);
        }
        EXPECT_LT(widestGap, 3);
    }
}

// A right-click on the chart, delivered to the window as the window system delivers it, opens
// the chart's menu with its one item.
TEST_F(VideoResultsTest, ARightClickOnTheChartOpensItsMenu) {
    ShowWindow();
    QStringList items;
    bool painted = false;
    QTimer::singleShot(0, window_.get(), [&] {
        // The menu runs a loop of its own: look for it from inside that loop.
        QTimer* look = new QTimer(window_.get());
        QObject::connect(look, &QTimer::timeout, [&, look] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr)
                return;
            // On the screen as it paints itself, never a black box.
            painted = ShownAsPainted(*menu);
            for (const QAction* action : menu->actions())
                items.append(action->text());
            menu->close();
            look->deleteLater();
        });
        look->start(20);
        QTimer::singleShot(5000, look, [look] { look->stop(); }); // never hang
    });
    const QPoint onChart = Box()->viewport()->mapTo(window_.get(), QPoint(300, 100));
    QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {}, onChart);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !items.isEmpty(); }, 5000));
    EXPECT_EQ(items, QStringList{QStringLiteral("Сохранить рисунок…")});
    EXPECT_TRUE(painted);
}

// The computer list drops down five computers at a time, whatever the style.
TEST_F(VideoResultsTest, TheComputerListDropsDownFiveItems) {
    ShowWindow();
    Click("RadioComputer2");
    auto* combo = Child<TComputerCombo>("ComboComputer");
    ASSERT_TRUE(combo->isEnabled());
    combo->showPopup();
    QAbstractItemView* list = combo->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
    const int rows = list->viewport()->height() / ComputerItemHeight;
    EXPECT_EQ(rows, 5) << list->viewport()->height();
    EXPECT_NE(list->verticalScrollBar()->maximum(), 0) << "the other seven are scrolled to";
    combo->hidePopup();
}

// Within the layout's geometry (items 14 and 18 pixels apart) every radio circle stands clear
// of the next, and each group's title is set in from the frame's left edge, its top line
// running through it, as the window shows them.
TEST_F(VideoResultsTest, TheGroupsFitTheirItemsAndTitles) {
    ShowWindow();
    const auto silver = [](QRgb pixel) { return (pixel & 0xFFFFFF) == (ChartSilver & 0xFFFFFF); };
    for (const char* name : {"RadioComputer", "RadioAcceleration"}) {
        SCOPED_TRACE(name);
        auto* group = Child<QWidget>(name);
        const QImage picture = group->grab().toImage();
        const QList<QRadioButton*> items = group->findChildren<QRadioButton*>();
        ASSERT_GE(items.size(), 3);
        // The rows where circles are drawn, in the columns of the circles.
        const int left = items[0]->x();
        std::vector<bool> circleRows(static_cast<std::size_t>(picture.height()));
        for (int y = 0; y < picture.height(); ++y)
            for (int x = left; x < left + 16; ++x)
                circleRows[static_cast<std::size_t>(y)] =
                    circleRows[static_cast<std::size_t>(y)] || !silver(picture.pixel(x, y));
        for (int i = 0; i + 1 < items.size(); ++i) {
            const int boundary = items[i + 1]->y();
            bool clear = false;
            for (int y = boundary - 2; y <= boundary + 1; ++y)
                clear = clear || !circleRows[static_cast<std::size_t>(y)];
            EXPECT_TRUE(clear) << "the circles of items " << i << " and " << i + 1 << " touch";
        }

        // The title: black letters from some pixels right of the frame's edge, and the frame's
        // line through the title's rows left of it.
        int titleLeft = picture.width();
        for (int y = 0; y < items[0]->y(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (qRed(picture.pixel(x, y)) < 64 && qGreen(picture.pixel(x, y)) < 64)
                    titleLeft = std::min(titleLeft, x);
        EXPECT_GE(titleLeft, 6);
        EXPECT_LT(titleLeft, 16);
        int lineRow = -1;
        for (int y = 0; y < items[0]->y() && lineRow < 0; ++y)
            if (!silver(picture.pixel(2, y)) && !silver(picture.pixel(4, y)))
                lineRow = y;
        EXPECT_GE(lineRow, 4) << "the frame's top line runs through the title, not above it";
    }
}

// The groups and the chart's box are silver inside, the window's colour, as far as the eye
// can tell: no style's tint over them.
TEST_F(VideoResultsTest, TheGroupsAreSilverInside) {
    ShowWindow();
    for (const char* name : {"RadioComputer", "RadioAcceleration", "BoxForComputer"}) {
        SCOPED_TRACE(name);
        QWidget* group = Child<QWidget>(name);
        group->show();
        const QImage picture = group->grab().toImage();
        // Inside the frame, right of the items and the list, at the bottom.
        const QPoint inside(picture.width() - 5, picture.height() - 5);
        EXPECT_EQ(QColor(picture.pixel(inside)), QColor(192, 192, 192))
            << QColor(picture.pixel(inside)).name().toStdString();
    }
}

} // namespace
