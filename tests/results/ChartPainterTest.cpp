// The chart's pixels: headings, entry lines, bars, tick marks, labels, marks of missing modes,
// the 16 colours, and bands that match the whole picture.
#include "ChartFixture.h"

#include "chart/ChartPainter.h"

#include <QSet>
#include <limits>

namespace {

using ChartPainterTest = ChartStoreTest;

const QString Point = ".";

QImage Whole(const TChartSelection& selection) {
    const TChartLayout layout = MakeChartLayout(selection);
    return ChartRows(layout, 0, layout.Height, Point);
}

void ExpectOnlyPaletteColours(const QImage& image) {
    QSet<QRgb> palette;
    for (QRgb c : ChartPalette())
        palette.insert(c);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_TRUE(palette.contains(image.pixel(x, y)))
                << "pixel " << x << "," << y << " is " << std::hex << image.pixel(x, y);
}

TEST(ChartText, NumbersAndLabels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float Value;
        QString Point;
        QString Label;
    } cases[] = {
        {4096, ".", "4096  (10 FPS)"},
        {2048, ".", "2048  (5.00 FPS)"},
        {7.5f, ".", "7.50  (0.02 FPS)"},
        {7.5f, ",", "7,50  (0,02 FPS)"},
        {10, ".", "10  (0.02 FPS)"}, // the switch is at exactly 10
        {9.99f, ".", "9.99  (0.02 FPS)"},
        {4095.7f, ".", "4096  (10.00 FPS)"}, // each number is tested on its own
        {0.125f, ".", "0.13  (0.00 FPS)"},   // halves away from zero
        {0, ".", "0.00  (0.00 FPS)"},
        {-5, ".", "-5.00  (-0.01 FPS)"},
        {nan, ".", "n/d  (n/d FPS)"},
        {inf, ".", "n/d  (n/d FPS)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BarLabelText(c.Value, c.Point), c.Label) << c.Value;
}

TEST(ChartText, BarLengthsRoundHalvesToEven) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float Value, Ratio;
        int Full, Length;
    } cases[] = {
        {1, 1, 180, 180},
        {1, 1, 100, 100},
        {1, 0.5f, 180, 90},
        {1, 0.5f, 100, 50},
        {1, 0.125f, 180, 22},
        {1, 0.375f, 180, 68},
        {1, 0.125f, 100, 12},
        {1, 0.375f, 100, 38},
        {1, 0.025f, 100, 3}, // the 32-bit ratio is a hair above 0.025
        {1, 0.004f, 100, 0},
        {nan, nan, 180, 0},
        {-1, -0.5f, 180, 0},
        {0, 0, 180, 0},
        {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(), 180, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BarLength(c.Value, c.Ratio, c.Full), c.Length) << c.Ratio << " of " << c.Full;
}

TEST_F(ChartPainterTest, AnEmptyChartIsTheTwoCentredHeadingLines) {
    Add(MakeComputer("P", "A"), {MakeResult(1024, 768, 32, 0, 50, 1)}); // presentation only
    const QImage chart = Whole({0, 0, 0});
    ASSERT_EQ(chart.size(), QSize(600, 56));
    ExpectOnlyPaletteColours(chart);
    EXPECT_EQ(InkBounds(chart, chart.rect()).top() >= 5, true);
    EXPECT_LT(InkBounds(chart, chart.rect()).bottom(), 35);
    for (const int top : {5, 19}) {
        // Ink of each line within its cell; the line centred.
        const QRect line = InkBounds(chart, QRect(0, top + 2, 600, 10));
        ASSERT_FALSE(line.isEmpty()) << top;
        EXPECT_NEAR(line.left(), 600 - 1 - line.right(), 3) << top;
    }
    // The version line is shorter than "Результаты тестирований".
    EXPECT_GT(InkBounds(chart, QRect(0, 7, 600, 10)).left(),
              InkBounds(chart, QRect(0, 21, 600, 10)).left());
}

TEST_F(ChartPainterTest, AnEntryHasFourLinesAndABarOnTheLastLine) {
    // The same processor text twice; computer 0 is this one and is drawn bold.
    Add(MakeComputer("Intel Pentium 4 (~2400MHz)", "RADEON 9600", true, true, "one"),
        {MakeResult(1024, 768, 32, 0, 100)});
    Add(MakeComputer("Intel Pentium 4 (~2400MHz)", "RADEON 9600", true, true, "two"),
        {MakeResult(1024, 768, 32, 0, 50)});
    const QImage chart = Whole({0, 0, 0});
    ASSERT_EQ(chart.height(), 42 + 2 * 70 + 14);
    ExpectOnlyPaletteColours(chart);

    for (const int top : {42, 112})
        for (int j = 0; j < 4; ++j) {
            const QRect ink = InkBounds(chart, QRect(0, top + 14 * j + 2, 299, 10));
            ASSERT_FALSE(ink.isEmpty()) << top << " line " << j;
            EXPECT_GE(ink.left(), 10);
            EXPECT_LE(ink.left(), 12);
        }
    // Bold names for the current computer, regular ones for the other; the kind lines alike.
    EXPECT_GT(Ink(chart, QRect(0, 42, 600, 14)), Ink(chart, QRect(0, 112, 600, 14)) * 5 / 4);
    EXPECT_EQ(Ink(chart, QRect(0, 42 + 30, 299, 11)), Ink(chart, QRect(0, 112 + 30, 299, 11)));

    // Full bar: columns 300..479, rows 84..98; black outline, blue inside, silver tick marks
    // every 18 pixels inside the outline.
    const int y = 42 + 42;
    EXPECT_EQ(chart.pixel(300, y + 7), ChartBlack);
    EXPECT_EQ(chart.pixel(479, y + 7), ChartBlack);
    EXPECT_EQ(chart.pixel(301, y + 7), ChartBlue);
    EXPECT_EQ(chart.pixel(478, y + 7), ChartBlue);
    EXPECT_EQ(chart.pixel(480, y + 14), ChartSilver);
    EXPECT_EQ(chart.pixel(390, y), ChartBlack);
    EXPECT_EQ(chart.pixel(390, y + 14), ChartBlack);
    EXPECT_EQ(chart.pixel(390, y + 15), ChartSilver);
    for (int i = 1; i <= 9; ++i) {
        EXPECT_EQ(chart.pixel(300 + 18 * i, y), ChartBlack) << i;
        EXPECT_EQ(chart.pixel(300 + 18 * i, y + 1), ChartSilver) << i;
        EXPECT_EQ(chart.pixel(300 + 18 * i, y + 13), ChartSilver) << i;
        EXPECT_EQ(chart.pixel(300 + 18 * i, y + 14), ChartBlack) << i;
        EXPECT_EQ(chart.pixel(300 + 18 * i + 1, y + 7), ChartBlue) << i;
    }
    // Label: black text from 3 pixels right of the bar, 13 rows high, no black box.
    const QRect label = InkBounds(chart, QRect(480, y, 120, 15));
    EXPECT_GE(label.left(), 483);
    EXPECT_LE(label.left(), 485);
    EXPECT_LE(label.bottom(), y + 12);
    EXPECT_LT(Ink(chart, QRect(483, y, 117, 13)), 117 * 13 / 3);

    // Half bar: 90 pixels, columns 300..389; the tick mark at 390 is outside it.
    const int y2 = 112 + 42;
    EXPECT_EQ(chart.pixel(389, y2 + 7), ChartBlack);
    EXPECT_EQ(chart.pixel(388, y2 + 7), ChartBlue);
    EXPECT_EQ(chart.pixel(372, y2 + 7), ChartSilver);
    EXPECT_EQ(chart.pixel(390, y2 + 7), ChartSilver);
    EXPECT_GE(InkBounds(chart, QRect(390, y2, 210, 15)).left(), 393);
}

TEST_F(ChartPainterTest, ValuesFromADamagedFileDrawNoBarButAReadableLabel) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Add(MakeComputer("P", "A"), {MakeResult(800, 600, 32, 0, nan), MakeResult(800, 600, 32, 1, 8)});
    Add(MakeComputer("Q", "B"),
        {MakeResult(800, 600, 32, 0, inf), MakeResult(800, 600, 32, 1, -3)});
    const TChartLayout layout = MakeChartLayout({0, 0, 0});
    ASSERT_EQ(layout.Entries.size(), 4u);
    EXPECT_TRUE(std::isnan(layout.Entries[3].Value));
    const QImage chart = ChartRows(layout, 0, layout.Height, Point);
    ExpectOnlyPaletteColours(chart);
    for (int i = 0; i < 4; ++i) {
        const int y = 42 + 70 * i + 42;
        const bool bar = layout.Entries[static_cast<std::size_t>(i)].Value == 8;
        EXPECT_EQ(chart.pixel(301, y + 7) == ChartBlue, bar) << i;
        const QRect label = InkBounds(chart, QRect(300, y, 300, 13));
        ASSERT_FALSE(label.isEmpty()) << i;
        if (!bar) {
            EXPECT_GE(label.left(), 303) << i;
        }
    }
}

TEST_F(ChartPainterTest, OneComputerTablesMarkUntestedAndUnavailableModes) {
    ModeAvailable[0][0] = 1; // 640 x 480 at 16 bits accepted, not tested
    ModeAvailable[0][1] = 0; // 640 x 480 at 32 bits not accepted
    const std::vector<TResultRecord> results = {MakeResult(800, 600, 32, 0, 100),
                                                MakeResult(800, 600, 16, 0, 50)};
    Add(MakeComputer("P", "A"), results);
    Add(MakeComputer("Q", "B"), results);

    const QImage current = Whole({1, 0, 0});
    ASSERT_EQ(current.height(), 378);
    ExpectOnlyPaletteColours(current);
    const int row640 = 84 + 42;
    const QRect question = InkBounds(current, QRect(214, row640, 20, 15));
    const QRect dash = InkBounds(current, QRect(434, row640, 20, 15));
    EXPECT_GE(question.height(), 6);
    EXPECT_GE(question.left(), 216);
    EXPECT_LE(dash.height(), 2);
    EXPECT_GE(dash.left(), 436);
    // Another computer never shows "?".
    const QImage other = Whole({2, 1, 0});
    EXPECT_LE(InkBounds(other, QRect(214, row640, 20, 15)).height(), 2);

    // 800 x 600: a full 100-pixel bar at 32 bits, half of it at 16 bits; tenths every 10 pixels.
    const int row800 = row640 + 20;
    EXPECT_EQ(current.pixel(390, row800 + 7), ChartBlack);
    EXPECT_EQ(current.pixel(489, row800 + 7), ChartBlack);
    EXPECT_EQ(current.pixel(488, row800 + 7), ChartBlue);
    EXPECT_EQ(current.pixel(400, row800 + 7), ChartSilver);
    EXPECT_EQ(current.pixel(219, row800 + 7), ChartBlack);
    EXPECT_EQ(current.pixel(218, row800 + 7), ChartBlue);
    EXPECT_EQ(current.pixel(220, row800 + 7), ChartSilver);
    // The software table of this computer holds marks only.
    const int softwareRows = 84 + 140 + 42;
    EXPECT_EQ(Ink(current, QRect(170, softwareRows, 430, 100)) > 0, true);
    for (int x = 170; x < 600; ++x)
        EXPECT_NE(current.pixel(x, softwareRows + 20 + 7), ChartBlue);
}

TEST_F(ChartPainterTest, LabelsComposeByExclusiveOrOfPaletteIndices) {
    QImage band(600, 20, QImage::Format_RGB32);
    band.fill(ChartBlue);
    QImage label(2, 1, QImage::Format_RGB32);
    label.setPixel(0, 0, ChartSilver);
    label.setPixel(1, 0, ChartBlack);
    {
        TChartCanvas canvas(band, 100, Point);
        canvas.XorImage(10, 105, label);
        canvas.XorImage(598, 106, label); // cut at the chart's right edge
    }
    EXPECT_EQ(band.pixel(10, 5), 0xFFFFFF00u); // blue 12 xor silver 7 = yellow 11
    EXPECT_EQ(band.pixel(11, 5), ChartBlue);
    EXPECT_EQ(band.pixel(598, 6), 0xFFFFFF00u);
}

TEST_F(ChartPainterTest, AnyBandOfRowsIsThoseRowsOfTheWholePicture) {
    CurrentComputerIndex = 1;
    ModeAvailable[2][1] = 1;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Add(MakeComputer("Athlon XP 2000+ (~1666MHz)", "GeForce4 Ti 4200"),
        {MakeResult(1024, 768, 32, 0, 4096), MakeResult(800, 600, 16, 1, 2048),
         MakeResult(640, 480, 32, 0, 7.5f)});
    Add(MakeComputer("Йцукен g j y (~800MHz)", "Адаптер"),
        {MakeResult(1024, 768, 16, 0, 3000), MakeResult(1280, 1024, 32, 1, nan),
         MakeResult(640, 480, 16, 0, 9.99f)});
    Add(MakeComputer("Celeron", "Mesa llvmpipe", false), {MakeResult(800, 600, 32, 2, 10)});
    for (const TChartSelection selection : {TChartSelection{0, 0, 0}, TChartSelection{1, 1, 0},
                                            TChartSelection{2, 0, 0}, TChartSelection{2, 2, 0}}) {
        const TChartLayout layout = MakeChartLayout(selection);
        const QImage whole = ChartRows(layout, 0, layout.Height, Point);
        for (const int rows : {1, 13, 37, 70}) {
            for (int first = 0; first < layout.Height; first += 3) {
                const int count = std::min(rows, layout.Height - first);
                const QImage band = ChartRows(layout, first, count, Point);
                ASSERT_EQ(band, whole.copy(0, first, ChartWidth, count))
                    << "view " << selection.ComputerView << " rows " << first << "+" << count;
            }
        }
    }
}

} // namespace
