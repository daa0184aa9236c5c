#include "chart/ChartPicture.h"

#include "chart/ChartPainter.h"

#include <QSaveFile>
#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {

constexpr int BandRows = 4096;

// Paints the layout band by band, handing each band's rows as palette indices to row().
template <typename RowSink>
void ForEachRow(const TChartLayout& layout, const QString& decimalPoint, RowSink row) {
    QImage band(ChartWidth, BandRows, QImage::Format_RGB32);
    std::vector<std::uint8_t> indices(ChartWidth);
    for (int first = 0; first < layout.Height; first += BandRows) {
        PaintChartRows(band, layout, first, decimalPoint);
        const int rows = std::min(BandRows, layout.Height - first);
        QRgb last = ChartSilver;
        std::uint8_t lastIndex = static_cast<std::uint8_t>(ChartPaletteIndex(ChartSilver));
        for (int y = 0; y < rows; ++y) {
            const auto* pixels = reinterpret_cast<const QRgb*>(band.constScanLine(y));
            for (int x = 0; x < ChartWidth; ++x) {
                if (pixels[x] != last) {
                    last = pixels[x];
                    lastIndex = static_cast<std::uint8_t>(ChartPaletteIndex(last));
                }
                indices[static_cast<std::size_t>(x)] = lastIndex;
            }
            if (!row(first + y, indices))
                return;
        }
    }
}

// Little-endian bytes of an integer.
template <typename T> void Put(std::vector<char>& out, T value) {
    auto bits = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        out.push_back(static_cast<char>(bits & 0xFF));
}

bool WriteBmp(const TChartLayout& layout, QSaveFile& file, const QString& decimalPoint) {
    constexpr std::uint32_t headerSize = 14 + 40 + 16 * 4;
    constexpr std::uint32_t rowBytes = ChartWidth / 2; // 4 bits a pixel, a multiple of 4
    const std::uint64_t imageBytes =
        std::uint64_t{rowBytes} * static_cast<std::uint64_t>(layout.Height);
    if (headerSize + imageBytes > 0xFFFFFFFFu)
        return false;
    std::vector<char> header;
    header.push_back('B');
    header.push_back('M');
    Put<std::uint32_t>(header, static_cast<std::uint32_t>(headerSize + imageBytes));
    Put<std::uint32_t>(header, 0);
    Put<std::uint32_t>(header, headerSize);
    Put<std::uint32_t>(header, 40);
    Put<std::int32_t>(header, ChartWidth);
    Put<std::int32_t>(header, -layout.Height); // rows from the top down
    Put<std::uint16_t>(header, 1);
    Put<std::uint16_t>(header, 4);
    Put<std::uint32_t>(header, 0); // uncompressed
    Put<std::uint32_t>(header, static_cast<std::uint32_t>(imageBytes));
    Put<std::int32_t>(header, 3780); // 96 dots per inch
    Put<std::int32_t>(header, 3780);
    Put<std::uint32_t>(header, 16);
    Put<std::uint32_t>(header, 0);
    for (QRgb colour : ChartPalette()) {
        header.push_back(static_cast<char>(qBlue(colour)));
        header.push_back(static_cast<char>(qGreen(colour)));
        header.push_back(static_cast<char>(qRed(colour)));
        header.push_back(0);
    }
    if (file.write(header.data(), static_cast<qint64>(header.size())) !=
        static_cast<qint64>(header.size()))
        return false;
    bool ok = true;
    std::vector<char> packed(rowBytes);
    ForEachRow(layout, decimalPoint, [&](int, const std::vector<std::uint8_t>& indices) {
        for (std::size_t x = 0; x < rowBytes; ++x)
            packed[x] = static_cast<char>((indices[2 * x] << 4) | indices[2 * x + 1]);
        ok = file.write(packed.data(), rowBytes) == rowBytes;
        return ok;
    });
    return ok;
}

} // namespace

bool WriteChartPng(const TChartLayout& layout, QIODevice& device, const QString& decimalPoint) {
    if (layout.Height > MaxPngChartHeight)
        return false;
    QImage picture(ChartWidth, layout.Height, QImage::Format_Indexed8);
    if (picture.isNull())
        return false;
    const auto& palette = ChartPalette();
    picture.setColorTable(QList<QRgb>(palette.begin(), palette.end()));
    ForEachRow(layout, decimalPoint, [&](int y, const std::vector<std::uint8_t>& indices) {
        std::memcpy(picture.scanLine(y), indices.data(), indices.size());
        return true;
    });
    return picture.save(&device, "PNG");
}

bool SaveChartPicture(const TChartLayout& layout, const QString& fileName,
                      const QString& decimalPoint, QString* error) {
    const bool bmp = fileName.endsWith(".bmp", Qt::CaseInsensitive);
    if (!bmp && layout.Height > MaxPngChartHeight) {
        *error = QString("Рисунок высотой %1 пикселей слишком велик для PNG. "
                         "Сохраните его в формате BMP.")
                     .arg(layout.Height);
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QString("Файл %1 не доступен для записи.").arg(fileName);
        return false;
    }
    const bool written =
        bmp ? WriteBmp(layout, file, decimalPoint) : WriteChartPng(layout, file, decimalPoint);
    if (!written || !file.commit()) {
        file.cancelWriting();
        *error = QString("Рисунок не удалось записать в файл %1.").arg(fileName);
        return false;
    }
    return true;
}
