// Draws the seven pictures of the benchmark's corridor and writes them as baseline JPEG files:
// the wall background FON10, the four framed wall pictures TEX10..TEX13, the floor tiles
// TEX14 and the ceiling panels TEX15.
//
//     make_pictures <output folder>      (the repository keeps them in resources/)
//
// Everything is drawn from a fixed seed, so a rebuild gives the same files byte for byte.
#include "ToolArguments.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and the same on every platform (unlike std:: distributions).
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }

private:
    std::uint64_t state_;
};

double latticeValue(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

double smooth(double t) {
    return t * t * (3 - 2 * t);
}

// Value noise in 0..1 with a lattice of one unit.
double valueNoise(double x, double y, std::uint32_t seed) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = smooth(x - x0), fy = smooth(y - y0);
    const double a = latticeValue(x0, y0, seed), b = latticeValue(x0 + 1, y0, seed);
    const double c = latticeValue(x0, y0 + 1, seed), d = latticeValue(x0 + 1, y0 + 1, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

double fbm(double x, double y, std::uint32_t seed, int octaves = 4) {
    double sum = 0, amplitude = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + i * 101);
        total += amplitude;
        x *= 2.03;
        y *= 2.03;
        amplitude *= 0.5;
    }
    return sum / total;
}

int clampByte(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

QColor shade(const QColor& c, double factor) {
    return QColor(clampByte(c.red() * factor), clampByte(c.green() * factor),
                  clampByte(c.blue() * factor));
}

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor(clampByte(a.red() + (b.red() - a.red()) * t),
                  clampByte(a.green() + (b.green() - a.green()) * t),
                  clampByte(a.blue() + (b.blue() - a.blue()) * t));
}

// Multiplies every pixel of the area by a noise-driven factor around 1: plaster, canvas,
// stone grain.
void addGrain(QImage& image, const QRect& area, double scale, double strength, std::uint32_t seed) {
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            const double n = fbm(x / scale, y / scale, seed, 3) - 0.5;
            const double fine = latticeValue(x, y, seed + 7) - 0.5;
            const double f = 1 + strength * (n * 1.6 + fine * 0.5);
            const QRgb p = line[x];
            line[x] =
                qRgb(clampByte(qRed(p) * f), clampByte(qGreen(p) * f), clampByte(qBlue(p) * f));
        }
    }
}

// Repaints the area as short brush strokes that take their colours from the flat drawing
// underneath, which gives the wall pictures their painted look.
void brushOver(QImage& image, const QRect& area, int strokes, double length, double width,
               std::uint64_t seed) {
    const QImage reference = image.copy();
    Rng rng(seed);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(area);
    for (int i = 0; i < strokes; ++i) {
        const double x = rng.range(area.left(), area.right());
        const double y = rng.range(area.top(), area.bottom());
        // Strokes follow a slowly turning direction field, as a painter's hand would.
        const double angle = fbm(x / 180.0, y / 180.0, static_cast<std::uint32_t>(seed)) * 6.3;
        const double len = length * rng.range(0.6, 1.4);
        const QColor base = reference.pixelColor(static_cast<int>(x), static_cast<int>(y));
        QColor c = shade(base, rng.range(0.92, 1.08));
        c.setAlpha(170);
        QPen pen(c, width * rng.range(0.7, 1.3), Qt::SolidLine, Qt::RoundCap);
        p.setPen(pen);
        const double dx = std::cos(angle) * len / 2, dy = std::sin(angle) * len / 2;
        p.drawLine(QPointF(x - dx, y - dy), QPointF(x + dx, y + dy));
    }
}

// A carved frame with a bevel and an inner slip around the whole picture; returns the area
// left for the painting.
QRect drawFrame(QImage& image, const QColor& wood, int border, std::uint32_t seed) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = image.width(), h = image.height();
    const QColor light = shade(wood, 1.45), dark = shade(wood, 0.55);
    // Four mitred sides, each lit as if from the upper left.
    const QPointF outer[4] = {{0, 0}, {double(w), 0}, {double(w), double(h)}, {0, double(h)}};
    const QPointF inner[4] = {{double(border), double(border)},
                              {double(w - border), double(border)},
                              {double(w - border), double(h - border)},
                              {double(border), double(h - border)}};
    const QColor sides[4] = {shade(wood, 1.25), shade(wood, 0.8), shade(wood, 0.65),
                             shade(wood, 1.05)};
    for (int s = 0; s < 4; ++s) {
        QPolygonF poly;
        poly << outer[s] << outer[(s + 1) % 4] << inner[(s + 1) % 4] << inner[s];
        p.setPen(Qt::NoPen);
        p.setBrush(sides[s]);
        p.drawPolygon(poly);
    }
    // Mouldings: a bright bead and a dark groove running round.
    for (int k = 0; k < 3; ++k) {
        const int inset = border * (k + 1) / 4;
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(k == 1 ? dark : light, k == 1 ? 2.5 : 1.5));
        p.drawRect(QRectF(inset, inset, w - 2 * inset, h - 2 * inset));
    }
    p.setPen(QPen(shade(wood, 0.35), 2));
    p.drawRect(QRectF(1, 1, w - 2, h - 2));
    // A thin gilt slip between frame and canvas.
    const int slip = std::max(4, border / 5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(196, 164, 92));
    p.drawRect(border, border, w - 2 * border, h - 2 * border);
    p.end();
    addGrain(image, image.rect(), 6, 0.12, seed);
    return QRect(border + slip, border + slip, w - 2 * (border + slip), h - 2 * (border + slip));
}

// ---- Wall ---------------------------------------------------------------------------------

QImage drawWall() {
    QImage image(1024, 1024, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor paper(190, 170, 128);
    p.fillRect(image.rect(), paper);
    // Wallpaper: soft vertical stripes with a small repeated lily motif between them.
    for (int x = 0; x < 1024; x += 64) {
        p.fillRect(QRect(x, 0, 22, 880), shade(paper, 1.06));
        p.fillRect(QRect(x + 22, 0, 2, 880), shade(paper, 0.93));
    }
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 14; ++row) {
        for (int col = 0; col < 16; ++col) {
            const double cx = col * 64 + 43 + ((row & 1) ? 0 : 0);
            const double cy = row * 64 + ((col & 1) ? 48 : 16);
            if (cy > 860)
                continue;
            QPainterPath lily;
            lily.moveTo(cx, cy - 12);
            lily.cubicTo(cx + 9, cy - 4, cx + 5, cy + 6, cx, cy + 12);
            lily.cubicTo(cx - 5, cy + 6, cx - 9, cy - 4, cx, cy - 12);
            p.setBrush(shade(paper, 0.9));
            p.drawPath(lily);
            p.setBrush(shade(paper, 1.1));
            p.drawEllipse(QPointF(cx, cy - 2), 2.5, 2.5);
        }
    }
    // Picture rail with a hook and two cords down to where the pictures hang.
    const QColor wood(110, 68, 36);
    QLinearGradient rail(0, 36, 0, 58);
    rail.setColorAt(0, shade(wood, 1.4));
    rail.setColorAt(0.5, wood);
    rail.setColorAt(1, shade(wood, 0.5));
    p.fillRect(QRect(0, 36, 1024, 22), rail);
    p.setPen(QPen(QColor(60, 50, 40), 2));
    p.drawLine(QPointF(512, 56), QPointF(420, 170));
    p.drawLine(QPointF(512, 56), QPointF(604, 170));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 150, 90));
    p.drawEllipse(QPointF(512, 54), 6, 6);
    // Dado rail, panelled wainscot and skirting board.
    QLinearGradient dado(0, 880, 0, 904);
    dado.setColorAt(0, shade(wood, 1.5));
    dado.setColorAt(0.4, wood);
    dado.setColorAt(1, shade(wood, 0.45));
    p.fillRect(QRect(0, 880, 1024, 24), dado);
    const QColor panel(126, 98, 70);
    p.fillRect(QRect(0, 904, 1024, 76), panel);
    for (int x = 8; x < 1024; x += 128) {
        const QRect box(x + 10, 914, 108, 56);
        p.fillRect(box, shade(panel, 0.92));
        p.setPen(QPen(shade(panel, 1.3), 2));
        p.drawLine(box.bottomLeft(), box.bottomRight());
        p.drawLine(box.topRight(), box.bottomRight());
        p.setPen(QPen(shade(panel, 0.6), 2));
        p.drawLine(box.topLeft(), box.topRight());
        p.drawLine(box.topLeft(), box.bottomLeft());
        p.setPen(Qt::NoPen);
    }
    QLinearGradient skirting(0, 980, 0, 1024);
    skirting.setColorAt(0, shade(wood, 1.3));
    skirting.setColorAt(0.15, shade(wood, 0.9));
    skirting.setColorAt(1, shade(wood, 0.4));
    p.fillRect(QRect(0, 980, 1024, 44), skirting);
    // Light falls from the ceiling: brighter above, darker towards the floor.
    QLinearGradient light(0, 0, 0, 1024);
    light.setColorAt(0, QColor(255, 250, 235, 40));
    light.setColorAt(0.6, QColor(0, 0, 0, 0));
    light.setColorAt(1, QColor(0, 0, 0, 60));
    p.fillRect(image.rect(), light);
    p.end();
    addGrain(image, QRect(0, 0, 1024, 880), 24, 0.08, 11);
    addGrain(image, QRect(0, 880, 1024, 144), 5, 0.14, 12);
    return image;
}

// ---- Wall pictures ------------------------------------------------------------------------

// A seated figure in dark clothes before a green drapery, in three-quarter view.
QImage drawPortrait() {
    QImage image(371, 425, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QRect canvas = drawFrame(image, QColor(92, 58, 30), 26, 21);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(canvas);
    QRadialGradient back(canvas.center() + QPoint(-40, -60), 260);
    back.setColorAt(0, QColor(82, 104, 70));
    back.setColorAt(1, QColor(22, 34, 26));
    p.fillRect(canvas, back);
    const double cx = canvas.center().x() + 6;
    const double top = canvas.top();
    // Shoulders and body.
    QPainterPath body;
    body.moveTo(cx - 130, canvas.bottom() + 2);
    body.cubicTo(cx - 120, top + 250, cx - 70, top + 215, cx, top + 212);
    body.cubicTo(cx + 70, top + 215, cx + 125, top + 250, cx + 135, canvas.bottom() + 2);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 30, 44));
    p.drawPath(body);
    // White collar.
    QPainterPath collar;
    collar.moveTo(cx - 42, top + 214);
    collar.quadTo(cx, top + 262, cx + 42, top + 214);
    collar.quadTo(cx, top + 236, cx - 42, top + 214);
    p.setBrush(QColor(226, 220, 200));
    p.drawPath(collar);
    // Neck and head.
    p.setBrush(QColor(196, 150, 118));
    p.drawRect(QRectF(cx - 18, top + 178, 36, 42));
    QRadialGradient face(QPointF(cx - 14, top + 130), 70);
    face.setColorAt(0, QColor(236, 196, 164));
    face.setColorAt(1, QColor(168, 118, 90));
    p.setBrush(face);
    p.drawEllipse(QPointF(cx, top + 138), 46, 60);
    // Hair and a dark cap.
    p.setBrush(QColor(58, 38, 24));
    QPainterPath hair;
    hair.moveTo(cx - 50, top + 150);
    hair.cubicTo(cx - 58, top + 60, cx + 58, top + 60, cx + 50, top + 150);
    hair.cubicTo(cx + 40, top + 100, cx - 40, top + 100, cx - 50, top + 150);
    p.drawPath(hair);
    p.setBrush(QColor(24, 20, 26));
    p.drawEllipse(QPointF(cx, top + 84), 60, 20);
    // Eyes, nose shadow, mouth.
    p.setBrush(QColor(60, 40, 30));
    p.drawEllipse(QPointF(cx - 17, top + 132), 5, 3);
    p.drawEllipse(QPointF(cx + 17, top + 132), 5, 3);
    p.setPen(QPen(QColor(150, 100, 80), 2.5));
    p.drawLine(QPointF(cx + 2, top + 138), QPointF(cx + 6, top + 158));
    p.setPen(QPen(QColor(150, 70, 64), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx - 12, top + 172), QPointF(cx + 12, top + 171));
    // Hands folded at the bottom.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 164, 130));
    p.drawEllipse(QPointF(cx - 20, canvas.bottom() - 34), 34, 18);
    p.drawEllipse(QPointF(cx + 22, canvas.bottom() - 30), 30, 16);
    p.end();
    brushOver(image, canvas, 9000, 9, 3.5, 31);
    addGrain(image, canvas, 3, 0.06, 41);
    return image;
}

// Mountains over a lake at evening, with a birch grove on the near shore.
QImage drawLandscape() {
    QImage image(548, 425, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QRect canvas = drawFrame(image, QColor(150, 112, 44), 28, 22);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(canvas);
    const double l = canvas.left(), t = canvas.top(), w = canvas.width(), h = canvas.height();
    const double horizon = t + h * 0.58;
    QLinearGradient sky(0, t, 0, horizon);
    sky.setColorAt(0, QColor(70, 110, 170));
    sky.setColorAt(0.6, QColor(236, 180, 130));
    sky.setColorAt(1, QColor(250, 214, 150));
    p.fillRect(QRectF(l, t, w, horizon - t), sky);
    // Clouds.
    Rng rng(5);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 18; ++i) {
        p.setBrush(QColor(255, 236, 220, 90));
        p.drawEllipse(QPointF(l + rng.range(0, w), t + rng.range(20, h * 0.3)), rng.range(30, 80),
                      rng.range(8, 16));
    }
    // Far and near mountain ranges.
    const QColor ranges[3] = {QColor(132, 120, 150), QColor(92, 88, 110), QColor(58, 70, 62)};
    for (int k = 0; k < 3; ++k) {
        QPainterPath m;
        m.moveTo(l, horizon);
        for (int x = 0; x <= static_cast<int>(w); x += 4) {
            const double n = fbm(x / (110.0 - k * 25), k * 3.7, 50 + k, 4);
            m.lineTo(l + x, horizon - 30 - k * -18 - n * (140 - k * 40));
        }
        m.lineTo(l + w, horizon);
        m.closeSubpath();
        p.setBrush(ranges[k]);
        p.drawPath(m);
    }
    // Lake reflecting the sky, with streaks.
    QLinearGradient lake(0, horizon, 0, t + h);
    lake.setColorAt(0, QColor(230, 190, 140));
    lake.setColorAt(1, QColor(50, 80, 120));
    p.fillRect(QRectF(l, horizon, w, h * 0.22), lake);
    p.setPen(QPen(QColor(255, 240, 210, 120), 1.5));
    for (int i = 0; i < 40; ++i) {
        const double y = horizon + rng.range(4, h * 0.2);
        const double x = l + rng.range(0, w);
        p.drawLine(QPointF(x, y), QPointF(x + rng.range(10, 50), y));
    }
    // Near shore: meadow.
    p.setPen(Qt::NoPen);
    QPainterPath shore;
    shore.moveTo(l, t + h * 0.78);
    shore.cubicTo(l + w * 0.3, t + h * 0.74, l + w * 0.6, t + h * 0.82, l + w, t + h * 0.77);
    shore.lineTo(l + w, t + h);
    shore.lineTo(l, t + h);
    shore.closeSubpath();
    p.setBrush(QColor(86, 110, 46));
    p.drawPath(shore);
    // Birches on the right.
    for (int i = 0; i < 5; ++i) {
        const double x = l + w * 0.68 + i * 26 + rng.range(-6, 6);
        const double base = t + h * 0.8 + rng.range(-4, 8);
        const double top = t + h * rng.range(0.18, 0.3);
        p.setBrush(QColor(70, 106, 40));
        p.drawEllipse(QPointF(x, top + 40), 30, 60);
        p.setBrush(QColor(236, 232, 220));
        p.drawRect(QRectF(x - 3, top + 20, 6, base - top - 20));
        p.setBrush(QColor(40, 36, 30));
        for (double y = top + 30; y < base; y += rng.range(12, 22))
            p.drawRect(QRectF(x - 3, y, 6, 2));
    }
    p.end();
    brushOver(image, canvas, 14000, 10, 3.5, 32);
    addGrain(image, canvas, 3, 0.05, 42);
    return image;
}

// An abstract of overlapping circles, bars and a diagonal, in primary colours.
QImage drawAbstract() {
    QImage image(560, 425, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QRect canvas = drawFrame(image, QColor(40, 40, 44), 18, 23);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(canvas);
    p.fillRect(canvas, QColor(236, 228, 210));
    const double l = canvas.left(), t = canvas.top(), w = canvas.width(), h = canvas.height();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 64, 44, 220));
    p.drawEllipse(QPointF(l + w * 0.32, t + h * 0.42), 110, 110);
    p.setBrush(QColor(40, 84, 170, 200));
    p.drawEllipse(QPointF(l + w * 0.62, t + h * 0.56), 80, 80);
    p.setBrush(QColor(246, 196, 40, 220));
    p.drawRect(QRectF(l + w * 0.55, t + h * 0.08, w * 0.3, h * 0.22));
    p.setBrush(QColor(30, 30, 34));
    p.drawRect(QRectF(l + w * 0.08, t + h * 0.8, w * 0.6, 14));
    p.drawRect(QRectF(l + w * 0.78, t + h * 0.3, 12, h * 0.6));
    p.setPen(QPen(QColor(30, 30, 34), 6));
    p.drawLine(QPointF(l, t + h), QPointF(l + w * 0.9, t));
    p.setPen(QPen(QColor(60, 150, 110), 18, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(l + w * 0.1, t + h * 0.1, w * 0.5, h * 0.9), 20 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 34));
    p.drawEllipse(QPointF(l + w * 0.86, t + h * 0.82), 14, 14);
    p.end();
    brushOver(image, canvas, 11000, 8, 3, 33);
    addGrain(image, canvas, 3, 0.05, 43);
    return image;
}

// A still life: a blue jug with flowers and two apples on a draped table.
QImage drawStillLife() {
    QImage image(294, 425, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QRect canvas = drawFrame(image, QColor(120, 80, 40), 22, 24);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(canvas);
    const double l = canvas.left(), t = canvas.top(), w = canvas.width(), h = canvas.height();
    QLinearGradient wall(l, t, l + w, t + h);
    wall.setColorAt(0, QColor(96, 76, 56));
    wall.setColorAt(1, QColor(40, 30, 24));
    p.fillRect(canvas, wall);
    // Table with a white cloth.
    const double table = t + h * 0.72;
    p.fillRect(QRectF(l, table, w, h - (table - t)), QColor(110, 70, 40));
    p.setPen(Qt::NoPen);
    QPainterPath cloth;
    cloth.moveTo(l, table);
    cloth.lineTo(l + w * 0.7, table);
    cloth.cubicTo(l + w * 0.8, table + 40, l + w * 0.6, t + h - 30, l + w * 0.66, t + h);
    cloth.lineTo(l, t + h);
    cloth.closeSubpath();
    p.setBrush(QColor(226, 222, 208));
    p.drawPath(cloth);
    // Jug.
    const double jx = l + w * 0.48;
    QPainterPath jug;
    jug.moveTo(jx - 26, table - 120);
    jug.cubicTo(jx - 30, table - 80, jx - 60, table - 60, jx - 44, table + 6);
    jug.lineTo(jx + 44, table + 6);
    jug.cubicTo(jx + 60, table - 60, jx + 30, table - 80, jx + 26, table - 120);
    jug.closeSubpath();
    QLinearGradient glaze(jx - 50, 0, jx + 50, 0);
    glaze.setColorAt(0, QColor(40, 60, 120));
    glaze.setColorAt(0.35, QColor(110, 150, 210));
    glaze.setColorAt(1, QColor(24, 36, 80));
    p.setBrush(glaze);
    p.drawPath(jug);
    // Stems and flowers.
    Rng rng(9);
    p.setPen(QPen(QColor(60, 100, 40), 2.5));
    std::vector<QPointF> heads;
    for (int i = 0; i < 9; ++i) {
        const QPointF head(jx + rng.range(-80, 80), table - 150 - rng.range(0, 120));
        p.drawLine(QPointF(jx + rng.range(-10, 10), table - 118), head);
        heads.push_back(head);
    }
    p.setPen(Qt::NoPen);
    const QColor petals[3] = {QColor(220, 60, 60), QColor(240, 200, 80), QColor(240, 236, 226)};
    for (std::size_t i = 0; i < heads.size(); ++i) {
        p.setBrush(petals[i % 3]);
        for (int k = 0; k < 6; ++k) {
            const double a = k * 1.047 + i;
            p.drawEllipse(heads[i] + QPointF(std::cos(a) * 9, std::sin(a) * 9), 8, 8);
        }
        p.setBrush(QColor(90, 60, 20));
        p.drawEllipse(heads[i], 5, 5);
    }
    // Apples.
    for (int i = 0; i < 2; ++i) {
        QRadialGradient apple(QPointF(l + w * (0.2 + i * 0.55) - 6, table + 14), 26);
        apple.setColorAt(0, QColor(240, 170, 80));
        apple.setColorAt(1, QColor(150, 30, 20));
        p.setBrush(apple);
        p.drawEllipse(QPointF(l + w * (0.2 + i * 0.55), table + 20), 22, 20);
    }
    p.end();
    brushOver(image, canvas, 7000, 8, 3, 34);
    addGrain(image, canvas, 3, 0.06, 44);
    return image;
}

// ---- Floor and ceiling --------------------------------------------------------------------

// Four by four polished stone tiles, two marbles in a chequer, with grout lines.
QImage drawFloor() {
    QImage image(1024, 1024, QImage::Format_RGB32);
    const QColor stones[2] = {QColor(196, 186, 168), QColor(120, 96, 80)};
    for (int y = 0; y < 1024; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < 1024; ++x) {
            const int tx = x / 256, ty = y / 256;
            const int kind = (tx + ty) & 1;
            const std::uint32_t seed = 300 + tx * 4 + ty;
            // Marble veins: thin bright lines where turbulent noise crosses a level.
            const double turbulence = fbm(x / 90.0, y / 90.0, seed, 5);
            const double vein = std::abs(std::sin((x + y) / 60.0 + turbulence * 9.0));
            double f = 0.9 + 0.2 * fbm(x / 30.0, y / 30.0, seed + 50, 3);
            QColor c = shade(stones[kind], f);
            if (vein < 0.08)
                c = mix(c, kind ? QColor(220, 200, 180) : QColor(110, 100, 90), 0.6);
            // Grout between tiles, with a dark bevel edge.
            const int gx = x % 256, gy = y % 256;
            const int edge = std::min({gx, gy, 255 - gx, 255 - gy});
            if (edge < 3)
                c = QColor(70, 64, 58);
            else if (edge < 6)
                c = shade(c, 0.8);
            line[x] = c.rgb();
        }
    }
    addGrain(image, image.rect(), 4, 0.05, 60);
    return image;
}

// Two by two coffered panels with mouldings and a round glass light in the middle.
QImage drawCeiling() {
    QImage image(1024, 1024, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor plaster(226, 222, 210);
    p.fillRect(image.rect(), shade(plaster, 0.85));
    for (int py = 0; py < 2; ++py) {
        for (int px = 0; px < 2; ++px) {
            const QRect cell(px * 512, py * 512, 512, 512);
            // Beam between panels, then stepped recess.
            for (int k = 0; k < 4; ++k) {
                const QRect r = cell.adjusted(24 + k * 14, 24 + k * 14, -24 - k * 14, -24 - k * 14);
                p.fillRect(r, shade(plaster, 0.8 + k * 0.06));
                p.setPen(QPen(shade(plaster, 1.08), 2));
                p.drawLine(r.topLeft(), r.topRight());
                p.drawLine(r.topLeft(), r.bottomLeft());
                p.setPen(QPen(shade(plaster, 0.62), 2));
                p.drawLine(r.bottomLeft(), r.bottomRight());
                p.drawLine(r.topRight(), r.bottomRight());
            }
            // A rosette in each panel.
            const QPointF c = cell.center();
            p.setPen(Qt::NoPen);
            for (int k = 0; k < 8; ++k) {
                const double a = k * 0.785;
                p.setBrush(shade(plaster, 0.9));
                p.drawEllipse(c + QPointF(std::cos(a) * 40, std::sin(a) * 40), 16, 16);
            }
            p.setBrush(shade(plaster, 1.05));
            p.drawEllipse(c, 26, 26);
        }
    }
    // The light: a brass ring holding a glowing glass disc where the beams cross.
    QRadialGradient glow(QPointF(512, 512), 220);
    glow.setColorAt(0, QColor(255, 248, 220, 200));
    glow.setColorAt(1, QColor(255, 248, 220, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(512, 512), 220, 220);
    p.setBrush(QColor(150, 120, 60));
    p.drawEllipse(QPointF(512, 512), 84, 84);
    QRadialGradient glass(QPointF(500, 500), 80);
    glass.setColorAt(0, QColor(255, 255, 250));
    glass.setColorAt(0.7, QColor(255, 240, 200));
    glass.setColorAt(1, QColor(230, 200, 140));
    p.setBrush(glass);
    p.drawEllipse(QPointF(512, 512), 72, 72);
    p.end();
    addGrain(image, image.rect(), 20, 0.05, 70);
    return image;
}

// Baseline JPEG, 8-bit YCbCr from three components, quality 90.
bool writeJpeg(const QImage& source, const std::string& path) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr); // a failure here ends the tool, which is what we want
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.addPositionalArgument("FOLDER", "Where the JPEG files are written.");
    if (const auto status = ReadToolArguments(
            parser, "make_pictures",
            "Draws the seven pictures of the corridor as baseline JPEG files.", argc, argv, 1, 1))
        return *status;
    QGuiApplication app(argc, argv); // fonts and painting need the application object
    const std::string folder =
        QFile::encodeName(parser.positionalArguments().first()).toStdString();
    const struct {
        const char* name;
        QImage (*draw)();
    } pictures[] = {{"FON10", drawWall},     {"TEX10", drawPortrait},  {"TEX11", drawLandscape},
                    {"TEX12", drawAbstract}, {"TEX13", drawStillLife}, {"TEX14", drawFloor},
                    {"TEX15", drawCeiling}};
    for (const auto& picture : pictures) {
        const std::string path = folder + "/" + picture.name + ".jpg";
        if (!writeJpeg(picture.draw(), path)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
