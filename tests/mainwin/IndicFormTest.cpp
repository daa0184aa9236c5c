// The progress window as the series shows it: modal, closed by its own timer after three
// ticks, deaf to Esc meanwhile.
#include "mainwin/IndicForm1.h"
#include "mainwin/Series.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(IndicForm, LayoutAsDesigned) {
    TIndicForm form;
    EXPECT_EQ(form.windowTitle(), "Подождите, пожалуйста");
    EXPECT_EQ(form.size(), QSize(266, 75));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    ASSERT_NE(form.StaticText1, nullptr);
    EXPECT_EQ(form.StaticText1->text(), "Индикатор выполненной работы:");
    EXPECT_EQ(form.StaticText1->geometry(), QRect(18, 16, 231, 17));
    EXPECT_EQ(form.StaticText1->frameShadow(), QFrame::Sunken);
    ASSERT_NE(form.IndicBar, nullptr);
    EXPECT_EQ(form.IndicBar->geometry(), QRect(16, 40, 233, 17));
    EXPECT_EQ(form.IndicBar->minimum(), 0);
    EXPECT_EQ(form.Timer1.interval(), 1000);
    EXPECT_FALSE(form.Timer1.isActive());
}

TEST(IndicForm, ClosesItselfAfterThreeTicksOfItsModalShowing) {
    TIndicForm form;
    IndicForm = &form;
    int ticks = 0;
    QObject::connect(&form.Timer1, &QTimer::timeout, [&] { ++ticks; });
    // Esc after half a second, as a user still pressing it after a pass: the pause goes on.
    bool visibleAfterEsc = false;
    QTimer::singleShot(500, [&] {
        QTest::keyClick(&form, Qt::Key_Escape);
        visibleAfterEsc = form.isVisible();
    });
    int shownValue = -1, shownMaximum = -1;
    QTimer::singleShot(1500, [&] {
        shownValue = form.IndicBar->value();
        shownMaximum = form.IndicBar->maximum();
        // A picture to look at, when asked for.
        if (const QByteArray dir = qgetenv("STENDO_SHOT_DIR"); !dir.isEmpty())
            form.grab().save(QString::fromLocal8Bit(dir) + "/indicform.png");
    });

    QElapsedTimer clock;
    clock.start();
    ShowProgressWindow(2, 6); // returns when the window has closed itself
    const qint64 elapsed = clock.elapsed();
    IndicForm = nullptr;

    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(form.Countdown, 0);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1.isActive());
    EXPECT_TRUE(visibleAfterEsc);
    EXPECT_EQ(shownValue, 2);
    EXPECT_EQ(shownMaximum, 6);
    EXPECT_GE(elapsed, 2900); // three whole ticks, not fewer

    // Shown again, it counts from three again.
    ticks = 0;
    form.IndicBar->setValue(3);
    form.exec();
    EXPECT_EQ(ticks, 3);
}

} // namespace
