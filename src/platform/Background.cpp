#include "platform/Background.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <cmath>

void PaintBackground(QPainter& canvas, int W, int H, int R, int N) {
    canvas.save();
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.fillRect(QRect(0, 0, W, H), QColor(16, 32, 255));
    QColor colour(16, 32, 255);
    const double lnN = std::log(static_cast<double>(N));
    for (int r = 1; r <= N; ++r) {
        const double t = std::log(static_cast<double>(r)) / lnN;
        // nearbyint rounds half to even in the default rounding mode.
        colour = QColor(static_cast<int>(std::nearbyint(16 + 79 * t)),
                        static_cast<int>(std::nearbyint(32 + 127 * t)), 255);
        canvas.setPen(colour);
        canvas.setBrush(colour);
        const int radius = R - r;
        if (radius > 0) {
            const int d = 2 * radius;
            // Qt's angles are in sixteenths of a degree, counter-clockwise from three o'clock.
            canvas.drawPie(QRect(R - radius, R - radius, d, d), 90 * 16, 90 * 16);
            canvas.drawPie(QRect(W - R - radius, R - radius, d, d), 0, 90 * 16);
            canvas.drawPie(QRect(R - radius, H - R - radius, d, d), 180 * 16, 90 * 16);
            canvas.drawPie(QRect(W - R - radius, H - R - radius, d, d), 270 * 16, 90 * 16);
        }
        // Bands between the sectors; every range includes its lower and excludes its upper
        // bound. The side bands reach down to row H - R - 1 too: the lower sectors start
        // at row H - R, and a band stopping a row short would leave a line of the base colour
        // across the ring on either side.
        const auto band = [&](int x0, int x1, int y0, int y1) {
            if (x1 > x0 && y1 > y0)
                canvas.fillRect(QRect(x0, y0, x1 - x0, y1 - y0), colour);
        };
        band(R, W - R, r, R);
        band(R, W - R, H - R - 1, H - r);
        band(r, R, R, H - R);
        band(W - R - 1, W - r, R, H - R);
    }
    if (W - 2 * R > 0 && H - 2 * R > 0)
        canvas.fillRect(QRect(R, R, W - 2 * R, H - 2 * R), colour);
    canvas.setPen(Qt::black);
    canvas.drawPoint(0, H - 1);
    canvas.restore();
}

QImage ButtonGlyph(int buttonWidth, int buttonHeight) {
    QImage glyph(buttonWidth - 4, buttonHeight - 4, QImage::Format_RGB32);
    QPainter canvas(&glyph);
    PaintBackground(canvas, glyph.width(), glyph.height(), 10, 3);
    return glyph;
}
