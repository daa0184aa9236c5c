// The window background's geometry and colours.
#include "platform/Background.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

QColor Pixel(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

} // namespace

TEST(PaintBackground, RingsCornersAndCentreAt200By100) {
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing); // the routine must switch it off
        PaintBackground(painter, 200, 100, 35, 12);
    }
    // Step r's colour: round(16 + 79 t), round(32 + 127 t), 255, t = ln r / ln 12.
    const QColor step[13] = {{16, 32, 255},  {16, 32, 255},  {38, 67, 255},  {51, 88, 255},
                             {60, 103, 255}, {67, 114, 255}, {73, 124, 255}, {78, 131, 255},
                             {82, 138, 255}, {86, 144, 255}, {89, 150, 255}, {92, 155, 255},
                             {95, 159, 255}};
    const QColor base(16, 32, 255), last(95, 159, 255);
    EXPECT_EQ(Pixel(image, 0, 0), base);
    EXPECT_EQ(Pixel(image, 100, 12), step[12]);
    EXPECT_EQ(Pixel(image, 100, 50), last);
    EXPECT_EQ(Pixel(image, 0, 99), QColor(Qt::black));

    // Down the top band every row is one step further in; the outermost row keeps the base.
    EXPECT_EQ(Pixel(image, 100, 0), base);
    for (int y = 1; y <= 12; ++y)
        EXPECT_EQ(Pixel(image, 100, y), step[y]) << "row " << y;
    EXPECT_EQ(Pixel(image, 100, 30), last);
    // The other three sides, one and two pixels in.
    const struct {
        int x, y;
        QColor colour;
    } sides[] = {{199, 50, base}, {198, 50, step[1]}, {197, 50, step[2]}, // right band
                 {100, 99, base}, {100, 98, step[1]}, {100, 97, step[2]}, // bottom band
                 {0, 50, base},   {1, 50, step[1]},   {2, 50, step[2]},   // left band
                 {3, 3, base},    {196, 3, base},     {3, 96, base},      // rounded corners
                 {196, 96, base}, {20, 20, last},     {180, 80, last}};
    for (const auto& side : sides)
        EXPECT_EQ(Pixel(image, side.x, side.y), side.colour) << side.x << "," << side.y;
    // The row just above the lower sectors continues the side rings without a seam.
    for (int x = 1; x <= 12; ++x) {
        EXPECT_EQ(Pixel(image, x, 100 - 35 - 1), step[x]) << "left, column " << x;
        EXPECT_EQ(Pixel(image, 199 - x, 100 - 35 - 1), step[x]) << "right, column " << x;
    }
    // Nothing outside the area's palette: no antialiased blends, no white left.
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            const QColor c = Pixel(image, x, y);
            bool known = c == QColor(Qt::black);
            for (const QColor& s : step)
                known = known || c == s;
            ASSERT_TRUE(known) << x << "," << y << " is " << c.red() << "," << c.green();
        }
}
