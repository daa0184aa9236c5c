// Draws the results chart of a layout (ChartModel.h), band by band: any run of rows painted
// on its own gives exactly the pixels that the whole picture has there. The window paints the
// rows in view; the command line and the server paint whatever rows they are asked for.
//
// The picture is a 16-colour one: silver background, black text, blue bars with black
// outlines, labels composited by exclusive-or of palette indices, no antialiasing.
#pragma once

#include "chart/ChartModel.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// The 16 colours of the standard palette, in palette order (black 0, silver 7, blue 12,
// white 15).
const std::array<QRgb, 16>& ChartPalette();
// The palette index of a colour: exact for palette colours, the nearest for others.
int ChartPaletteIndex(QRgb colour);
// The palette indices of count pixels, as ChartPaletteIndex gives them, two to a byte as rows
// of 4-bit pictures hold them: the left pixel in the high four bits; (count + 1) / 2 bytes.
void ChartPaletteNibbles(const QRgb* pixels, int count, std::uint8_t* packed);
inline constexpr QRgb ChartSilver = 0xFFC0C0C0;
inline constexpr QRgb ChartBlack = 0xFF000000;
inline constexpr QRgb ChartBlue = 0xFF0000FF;

// A chart font given by its cell height (ascent + descent) in pixels, as the chart names them.
struct TChartFont {
    QFont Font;
    int Cell;
    int Ascent;
};
enum class TChartFace { CourierNew, TimesNewRoman };
TChartFont ChartFont(TChartFace face, int cellHeight, bool bold);

// F(v): a whole number from 10 up, otherwise two decimals with the given separator; halves
// round away from zero. "n/d" for a value that is not a number or infinite.
QString ChartNumberText(double v, const QString& decimalPoint);
// The label of a bar: F(value), two spaces, "(", F(frame rate), " FPS)".
QString BarLabelText(float value, const QString& decimalPoint);
// Bar length in pixels: fullLength x ratio, halves to even, never beyond fullLength; 0 when the
// value or ratio is not a positive finite number (a value from a damaged file draws no bar).
int BarLength(float value, float ratio, int fullLength);

class TTextLine;

// A band of the chart: the image holds chart rows firstRow .. firstRow + height - 1, and all
// coordinates given to it are chart coordinates.
class TChartCanvas {
public:
    TChartCanvas(QImage& band, int firstRow, QString decimalPoint);
    ~TChartCanvas();
    TChartCanvas(const TChartCanvas&) = delete;
    TChartCanvas& operator=(const TChartCanvas&) = delete;

    // Whether any of the chart rows top .. top + height - 1 is in the band.
    bool Shows(int top, int height) const;
    void Fill(int x, int y, int width, int height, QRgb colour);
    // Text with the top-left corner of its cell at (x, y), on an opaque silver box.
    void Text(int x, int y, const QString& text, const TChartFont& font);
    // The same, centred: x = (600 - width) div 2.
    void CentredText(int y, const QString& text, const TChartFont& font);
    // Copies image onto the chart at (x, y) with exclusive-or of palette indices, as a copy
    // with SRCINVERT onto a 16-colour bitmap does.
    void XorImage(int x, int y, const QImage& image);
    const QString& DecimalPoint() const { return decimalPoint_; }
    // "Times New Roman", bold, cell height 16: the font of the bar labels.
    const TChartFont& LabelFont();
    // An image of that size for a bar's label, kept for the next bar.
    QImage& LabelImage(int width, int height);

private:
    QPainter& Painter();
    void TextLine(int x, int y, const TTextLine& line, const TChartFont& font);

    QImage& band_;
    int firstRow_;
    QString decimalPoint_;
    std::optional<QPainter> painter_;
    std::optional<TChartFont> labelFont_;
    QImage label_;
};

// One bar at (x, y) with its tick marks and its label right of it.
void DrawResultBar(TChartCanvas& canvas, int x, int y, float value, float ratio, int fullLength);

// Paints the chart rows firstRow .. firstRow + band.height() - 1 of the layout into band
// (Format_RGB32, of any width); rows and columns beyond the picture stay silver. Numbers use
// decimalPoint (the user's, QLocale().decimalPoint(), in the window).
void PaintChartRows(QImage& band, const TChartLayout& layout, int firstRow,
                    const QString& decimalPoint);
// A new ChartWidth x rowCount image of those rows.
QImage ChartRows(const TChartLayout& layout, int firstRow, int rowCount,
                 const QString& decimalPoint);
