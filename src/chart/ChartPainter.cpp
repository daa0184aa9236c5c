#include "chart/ChartPainter.h"

#include "state/RecordColumns.h"
#include "state/Variables.h"

#include <QFontMetricsF>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// Frames per second from triangles per ms: 409,600 triangles a frame.
constexpr double FrameRateFactor = static_cast<float>(0.00244140625);

constexpr int BarHeight = 15;
constexpr int LabelHeight = 13;

QString ModeText(const TResultRecord& r) {
    return QString("%1 на %2 пикселей, %3-битный цвет").arg(r.Width).arg(r.Height).arg(r.Depth);
}

struct TChartFonts {
    TChartFont Regular = ChartFont(TChartFace::CourierNew, 15, false);
    TChartFont Bold = ChartFont(TChartFace::CourierNew, 16, true);
};

void PaintHeading(TChartCanvas& canvas, const TChartFonts& fonts) {
    canvas.CentredText(5, QString("Стендограф %1.%2").arg(VersionMajor).arg(VersionMinor),
                       fonts.Bold);
    canvas.CentredText(19, "Результаты тестирований", fonts.Bold);
}

// Rows an entry or table row may touch, with room for glyphs that reach out of their cells.
constexpr int Margin = 14;

void PaintAllComputers(TChartCanvas& canvas, const TChartLayout& layout, int firstRow, int lastRow,
                       const TChartFonts& fonts) {
    const auto n = static_cast<std::int64_t>(layout.Entries.size());
    const std::int64_t first = std::max<std::int64_t>(0, (firstRow - 42 - 70 - Margin) / 70);
    const std::int64_t last = std::min<std::int64_t>(n - 1, (lastRow - 42 + Margin) / 70 + 1);
    for (std::int64_t i = first; i <= last; ++i) {
        const int top = 42 + 70 * static_cast<int>(i);
        if (!canvas.Shows(top - Margin, 70 + 2 * Margin))
            continue;
        const TChartEntry& entry = layout.Entries[static_cast<std::size_t>(i)];
        const TComputerRecord& computer = layout.Source->Computer(entry.Computer);
        const TChartFont& nameFont = entry.IsCurrent ? fonts.Bold : fonts.Regular;
        canvas.Text(10, top, ReadableText(computer.Processor), nameFont);
        canvas.Text(10, top + 14, ReadableText(computer.VideoAdapter), nameFont);
        canvas.Text(10, top + 28, ChartKinds[entry.Kind].Heading, fonts.Regular);
        const TResultRecord& record =
            layout.Source->Results(entry.Computer)[static_cast<std::size_t>(entry.Result)];
        canvas.Text(10, top + 42, ModeText(record), fonts.Regular);
        if (layout.Max > 0)
            DrawResultBar(canvas, 300, top + 42, entry.Value, entry.Value / layout.Max, 180);
    }
}

void PaintOneComputer(TChartCanvas& canvas, const TChartLayout& layout, const TChartFonts& fonts) {
    if (layout.Computer < 0)
        return;
    const std::int32_t m = layout.Computer;
    const TChartSource& source = *layout.Source;
    const TComputerRecord& computer = source.Computer(m);
    if (canvas.Shows(42 - Margin, 30 + 2 * Margin)) {
        canvas.CentredText(42, ReadableText(computer.Processor), fonts.Bold);
        canvas.CentredText(56, ReadableText(computer.VideoAdapter), fonts.Bold);
    }
    const auto& results = source.Results(m);
    for (std::size_t p = 0; p < layout.Sections.size(); ++p) {
        const int top = 84 + 140 * static_cast<int>(p);
        if (!canvas.Shows(top - Margin, 140 + 2 * Margin))
            continue;
        const TChartSection& section = layout.Sections[p];
        const TChartKind& kind = ChartKinds[section.Kind];
        canvas.CentredText(top + 8, kind.Heading, fonts.Bold);
        canvas.Text(170, top + 26, QString("%1-битный цвет").arg(ModeDepths[0]), fonts.Regular);
        canvas.Text(390, top + 26, QString("%1-битный цвет").arg(ModeDepths[1]), fonts.Regular);
        for (int k = 0; k < 10; ++k) {
            const int i = k / 2;
            const int d = k % 2;
            const int y = top + 42 + 20 * i;
            if (d == 0)
                canvas.Text(
                    10, y,
                    QString("%1 на %2 пикселей").arg(ModeSizes[i].Width).arg(ModeSizes[i].Height),
                    fonts.Regular);
            const std::int32_t r = FindKindResult(results, i, d, section.Kind);
            if (r != -1) {
                const float value = results[static_cast<std::size_t>(r)].TrianglesPerMs;
                const float ratio = section.HasReference ? value / section.Reference : 0.0f;
                DrawResultBar(canvas, 170 + 220 * d, y, value, ratio, 100);
            } else {
                const bool untested = source.ModeUntested(m, i, d);
                canvas.Text(216 + 220 * d, y, untested ? "?" : "-", fonts.Regular);
            }
        }
    }
}

} // namespace

const std::array<QRgb, 16>& ChartPalette() {
    static constexpr std::array<QRgb, 16> palette = {
        0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
        0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
        0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
    return palette;
}

namespace {

// The nearest palette colour by the sum of squared channel differences.
int NearestPaletteIndex(QRgb colour) {
    const auto& palette = ChartPalette();
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < 16; ++i) {
        const int dr = qRed(colour) - qRed(palette[i]);
        const int dg = qGreen(colour) - qGreen(palette[i]);
        const int db = qBlue(colour) - qBlue(palette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

// The top three bits of each channel tell the 16 colours apart (their channels are 0x00, 0x80,
// 0xC0 and 0xFF), so a colour's index is a look-up in a table of 512, checked against the
// palette; only a colour outside it takes the search.
unsigned PaletteKey(QRgb colour) {
    return ((colour >> 21) & 0x7) | ((colour >> 10) & 0x38) | ((colour << 1) & 0x1C0);
}

const std::array<std::uint8_t, 512>& PaletteKeyTable() {
    static const std::array<std::uint8_t, 512> table = [] {
        std::array<std::uint8_t, 512> indices{};
        for (unsigned key = 0; key < indices.size(); ++key) {
            const QRgb colour =
                qRgb(static_cast<int>((key & 0x7) << 5), static_cast<int>(((key >> 3) & 0x7) << 5),
                     static_cast<int>(((key >> 6) & 0x7) << 5));
            indices[key] = static_cast<std::uint8_t>(NearestPaletteIndex(colour));
        }
        for (int i = 0; i < 16; ++i)
            indices[PaletteKey(ChartPalette()[static_cast<std::size_t>(i)])] =
                static_cast<std::uint8_t>(i);
        return indices;
    }();
    return table;
}

} // namespace

namespace {

// Palette indices through the table, the search only for colours outside the palette.
class TPaletteLookup {
public:
    TPaletteLookup() : table_(PaletteKeyTable()), palette_(ChartPalette()) {}

    int operator()(QRgb colour) const {
        const int index = table_[PaletteKey(colour)];
        if (((palette_[static_cast<std::size_t>(index)] ^ colour) & 0xFFFFFF) == 0)
            return index;
        return NearestPaletteIndex(colour);
    }

private:
    const std::array<std::uint8_t, 512>& table_;
    const std::array<QRgb, 16>& palette_;
};

} // namespace

int ChartPaletteIndex(QRgb colour) {
    return TPaletteLookup()(colour);
}

void ChartPaletteNibbles(const QRgb* pixels, int count, std::uint8_t* packed) {
    const TPaletteLookup index;
    const auto silver = static_cast<std::uint8_t>(index(ChartSilver));
    const auto silverPair = static_cast<std::uint8_t>(silver << 4 | silver);
    const auto nibble = [&](QRgb pixel) -> std::uint8_t {
        // Mostly black letters on silver.
        const QRgb colour = pixel & 0xFFFFFF;
        return colour == (ChartSilver & 0xFFFFFF) ? silver
               : colour == 0                      ? 0
                                                  : static_cast<std::uint8_t>(index(colour));
    };
    // Most of a row is the silver background: eight pixels at a time are checked for it.
    constexpr int Block = 8;
    int x = 0;
    for (; x + Block <= count; x += Block) {
        bool allSilver = true;
        for (int i = 0; i < Block; ++i)
            allSilver &= ((pixels[x + i] ^ ChartSilver) & 0xFFFFFF) == 0;
        if (allSilver) {
            std::memset(packed + x / 2, silverPair, Block / 2);
            continue;
        }
        for (int i = 0; i < Block; i += 2)
            packed[(x + i) / 2] =
                static_cast<std::uint8_t>(nibble(pixels[x + i]) << 4 | nibble(pixels[x + i + 1]));
    }
    for (; x + 1 < count; x += 2)
        packed[x / 2] = static_cast<std::uint8_t>(nibble(pixels[x]) << 4 | nibble(pixels[x + 1]));
    if (x < count)
        packed[x / 2] = static_cast<std::uint8_t>(nibble(pixels[x]) << 4);
}

TChartFont ChartFont(TChartFace face, int cellHeight, bool bold) {
    // The metric twins of the fonts the chart is designed for.
    QFont font(face == TChartFace::CourierNew ? "Liberation Mono" : "Liberation Serif");
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setKerning(false);
    // A cell height names ascent + descent, as the classic font APIs do; the em size is what
    // makes the face's ascent and descent add up to it.
    QFont reference = font;
    reference.setPixelSize(1000);
    const QFontMetricsF metrics(reference);
    const double cellPerEm = (metrics.ascent() + metrics.descent()) / 1000.0;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(cellHeight / cellPerEm))));
    const int ascent = static_cast<int>(
        std::lround(cellHeight * metrics.ascent() / (metrics.ascent() + metrics.descent())));
    return {font, cellHeight, ascent};
}

QString ChartNumberText(double v, const QString& decimalPoint) {
    if (!std::isfinite(v))
        return "n/d";
    if (v >= 10)
        return QString::number(std::round(v), 'f', 0);
    const double hundredths = std::round(v * 100); // exact for a float times 100
    QString text = QString::number(std::abs(hundredths) / 100.0, 'f', 2);
    text.replace('.', decimalPoint);
    return hundredths < 0 ? "-" + text : text;
}

QString BarLabelText(float value, const QString& decimalPoint) {
    return ChartNumberText(value, decimalPoint) + "  (" +
           ChartNumberText(static_cast<double>(value) * FrameRateFactor, decimalPoint) + " FPS)";
}

int BarLength(float value, float ratio, int fullLength) {
    if (!std::isfinite(value) || !(value > 0) || !std::isfinite(ratio) || !(ratio > 0))
        return 0;
    const double length = std::nearbyint(static_cast<double>(fullLength) * ratio);
    return static_cast<int>(std::min<double>(length, fullLength));
}

TChartCanvas::TChartCanvas(QImage& band, int firstRow, QString decimalPoint)
    : band_(band), firstRow_(firstRow), decimalPoint_(std::move(decimalPoint)) {}

TChartCanvas::~TChartCanvas() = default;

const TChartFont& TChartCanvas::LabelFont() {
    if (!labelFont_)
        labelFont_ = ChartFont(TChartFace::TimesNewRoman, 16, true);
    return *labelFont_;
}

QImage& TChartCanvas::LabelImage(int width, int height) {
    if (label_.width() != width || label_.height() != height)
        label_ = QImage(width, height, QImage::Format_RGB32);
    return label_;
}

QPainter& TChartCanvas::Painter() {
    if (!painter_) {
        painter_.emplace(&band_);
        painter_->setRenderHint(QPainter::Antialiasing, false);
        painter_->setRenderHint(QPainter::TextAntialiasing, false);
        painter_->translate(0, -firstRow_);
        painter_->setClipRect(QRect(0, firstRow_, ChartWidth, band_.height()));
    }
    return *painter_;
}

bool TChartCanvas::Shows(int top, int height) const {
    return top < firstRow_ + band_.height() && top + height > firstRow_;
}

void TChartCanvas::Fill(int x, int y, int width, int height, QRgb colour) {
    if (width > 0 && height > 0 && Shows(y, height))
        Painter().fillRect(QRect(x, y, width, height), QColor::fromRgb(colour));
}

// A line of text shaped once, for its width and its drawing both.
class TTextLine {
public:
    TTextLine(const QString& text, const QFont& font) : layout_(text, font) {
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        layout_.setTextOption(option);
        layout_.beginLayout();
        line_ = layout_.createLine();
        line_.setLineWidth(1 << 20);
        layout_.endLayout();
    }

    // As QFontMetrics::horizontalAdvance rounds it.
    int Width() const { return static_cast<int>(std::lround(line_.horizontalAdvance())); }

    // With the baseline at y, as QPainter::drawText(QPoint(x, y), text) draws it.
    void Draw(QPainter& painter, int x, int y) const {
        layout_.draw(&painter, QPointF(x, y - line_.ascent()));
    }

private:
    QTextLayout layout_;
    QTextLine line_;
};

void TChartCanvas::Text(int x, int y, const QString& text, const TChartFont& font) {
    if (text.isEmpty() || !Shows(y - font.Cell, 3 * font.Cell))
        return;
    TextLine(x, y, TTextLine(text, font.Font), font);
}

void TChartCanvas::CentredText(int y, const QString& text, const TChartFont& font) {
    if (text.isEmpty() || !Shows(y - font.Cell, 3 * font.Cell))
        return;
    const TTextLine line(text, font.Font);
    TextLine((ChartWidth - line.Width()) / 2, y, line, font);
}

void TChartCanvas::TextLine(int x, int y, const TTextLine& line, const TChartFont& font) {
    QPainter& painter = Painter();
    painter.fillRect(QRect(x, y, line.Width(), font.Cell), QColor::fromRgb(ChartSilver));
    painter.setPen(QColor::fromRgb(ChartBlack));
    line.Draw(painter, x, y + font.Ascent);
}

void TChartCanvas::XorImage(int x, int y, const QImage& image) {
    // Pixels are read and written directly; the painter must not hold the image meanwhile.
    painter_.reset();
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    const auto& palette = ChartPalette();
    const TPaletteLookup index;
    const int columns = std::min(source.width(), std::min(band_.width(), ChartWidth) - x);
    const int firstColumn = std::max(0, -x);
    for (int row = 0; row < source.height(); ++row) {
        const int bandRow = y + row - firstRow_;
        if (bandRow < 0 || bandRow >= band_.height())
            continue;
        const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(row));
        auto* to = reinterpret_cast<QRgb*>(band_.scanLine(bandRow));
        for (int column = firstColumn; column < columns; ++column) {
            // Black, index 0, leaves the chart as it is.
            if ((from[column] & 0xFFFFFF) == 0)
                continue;
            QRgb& pixel = to[x + column];
            pixel = palette[static_cast<std::size_t>(index(pixel) ^ index(from[column]))];
        }
    }
}

void DrawResultBar(TChartCanvas& canvas, int x, int y, float value, float ratio, int fullLength) {
    if (!canvas.Shows(y, BarHeight))
        return;
    const int length = BarLength(value, ratio, fullLength);
    // An outlined, filled rectangle covering columns x .. x + length - 1.
    canvas.Fill(x, y, length, BarHeight, ChartBlack);
    canvas.Fill(x + 1, y + 1, length - 2, BarHeight - 2, ChartBlue);
    // Tenths of the full length; they show only where they cross the bar.
    for (int i = 1; i <= 9; ++i) {
        const int column = x + static_cast<int>(std::nearbyint(i * fullLength / 10.0));
        canvas.Fill(column, y + 1, 1, BarHeight - 2, ChartSilver);
    }

    const TChartFont& labelFont = canvas.LabelFont();
    QImage& label = canvas.LabelImage(std::max(1, fullLength - 2), LabelHeight);
    label.fill(ChartBlack);
    {
        QPainter painter(&label);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(labelFont.Font);
        painter.setPen(QColor::fromRgb(ChartSilver));
        painter.drawText(QPoint(0, labelFont.Ascent), BarLabelText(value, canvas.DecimalPoint()));
    }
    canvas.XorImage(x + length + 3, y, label);
}

void PaintChartRows(QImage& band, const TChartLayout& layout, int firstRow,
                    const QString& decimalPoint) {
    band.fill(ChartSilver);
    const int lastRow = std::min(firstRow + band.height(), layout.Height) - 1;
    if (lastRow < firstRow)
        return;
    const TChartFonts fonts;
    TChartCanvas canvas(band, firstRow, decimalPoint);
    if (canvas.Shows(0, 42 + Margin))
        PaintHeading(canvas, fonts);
    if (!layout.Source)
        return; // an empty layout: the heading alone
    if (layout.Selection.ComputerView == 0)
        PaintAllComputers(canvas, layout, firstRow, lastRow, fonts);
    else
        PaintOneComputer(canvas, layout, fonts);
}

QImage ChartRows(const TChartLayout& layout, int firstRow, int rowCount,
                 const QString& decimalPoint) {
    QImage band(ChartWidth, std::max(1, rowCount), QImage::Format_RGB32);
    PaintChartRows(band, layout, firstRow, decimalPoint);
    return band;
}
