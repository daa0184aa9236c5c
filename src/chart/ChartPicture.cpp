#include "chart/ChartPicture.h"

#include "chart/ChartPainter.h"

#include <QBuffer>
#include <QFile>
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

// Hands the bytes on to the file in blocks of a megabyte, so that rows of a few hundred bytes
// are not written one by one.
class BlockWriter {
public:
    explicit BlockWriter(FileReplacement& file) : file_(file) { block_.reserve(BlockSize); }

    bool Write(const char* bytes, std::size_t size) {
        if (block_.size() + size > BlockSize && !Flush())
            return false;
        block_.insert(block_.end(), bytes, bytes + size);
        return true;
    }

    bool Flush() {
        const bool ok = file_.Write(block_.data(), block_.size());
        block_.clear();
        return ok;
    }

private:
    static constexpr std::size_t BlockSize = 1u << 20;
    FileReplacement& file_;
    std::vector<char> block_;
};

// Little-endian bytes of an integer.
template <typename T> void Put(std::vector<char>& out, T value) {
    auto bits = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        out.push_back(static_cast<char>(bits & 0xFF));
}

bool WriteBmp(const TChartLayout& layout, FileReplacement& file, const QString& decimalPoint) {
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
    BlockWriter out(file);
    if (!out.Write(header.data(), header.size()))
        return false;
    bool ok = true;
    std::vector<char> packed(rowBytes);
    ForEachRow(layout, decimalPoint, [&](int, const std::vector<std::uint8_t>& indices) {
        for (std::size_t x = 0; x < rowBytes; ++x)
            packed[x] = static_cast<char>((indices[2 * x] << 4) | indices[2 * x + 1]);
        ok = out.Write(packed.data(), rowBytes);
        return ok;
    });
    return ok && out.Flush();
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

namespace {

// The PNG encoded in memory, then written to the file in one checked piece.
bool WritePng(const TChartLayout& layout, FileReplacement& file, const QString& decimalPoint) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return WriteChartPng(layout, buffer, decimalPoint) &&
           file.Write(png.constData(), static_cast<std::size_t>(png.size()));
}

} // namespace

bool SaveChartPicture(const TChartLayout& layout, const QString& fileName,
                      const QString& decimalPoint, TPictureFailure* failure) {
    *failure = {};
    const bool bmp = fileName.endsWith(".bmp", Qt::CaseInsensitive);
    if (!bmp && layout.Height > MaxPngChartHeight) {
        failure->TooTallForPng = true;
        return false;
    }
    FileReplacement file;
    if (!file.Begin(QFile::encodeName(fileName).toStdString())) {
        failure->File = file.Error();
        return false;
    }
    const bool written =
        bmp ? WriteBmp(layout, file, decimalPoint) : WritePng(layout, file, decimalPoint);
    if (!written || !file.Commit()) {
        // A failure of the encoder itself, with no error of the file, is a failed write.
        failure->File = file.Error().Failed() ? file.Error() : TFileError{TFileStep::Write, 0};
        file.Discard();
        return false;
    }
    return true;
}
