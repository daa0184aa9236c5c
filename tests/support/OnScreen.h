// What the X server shows of a window, against what the window paints: a test of the windows
// sees the program as a user does only when the two agree (no popup left black, unpainted).
#pragma once

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWidget>

// Whether the screen shows the window's client area as the window paints itself, waiting up
// to timeoutMs for the window to be painted there. A few pixels may differ, as where the
// pointer rests and a button's hover is drawn in steps; an unpainted window differs all over.
inline bool ShownAsPainted(QWidget& window, int timeoutMs = 5000) {
    if (!QTest::qWaitForWindowExposed(&window, timeoutMs))
        return false;
    return QTest::qWaitFor(
        [&window] {
            const QImage painted = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
            const QRect area(window.mapToGlobal(QPoint(0, 0)), window.size());
            const QImage shown =
                window.screen()
                    ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                    .toImage()
                    .convertToFormat(QImage::Format_RGB32);
            if (painted.isNull() || shown.size() != painted.size())
                return false;
            qsizetype differing = 0;
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x)
                    differing += shown.pixel(x, y) != painted.pixel(x, y) ? 1 : 0;
            return differing * 50 < static_cast<qsizetype>(shown.width()) * shown.height();
        },
        timeoutMs);
}
