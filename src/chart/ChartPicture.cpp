#include "chart/ChartPicture.h"

#include "chart/ChartPainter.h"
#include "chart/PngRows.h"

#include <QFile>
#include <QIODevice>
#include <algorithm>
#include <future>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

constexpr int BandRows = 4096;
constexpr std::size_t RowBytes = ChartWidth / 2; // 4 bits a pixel

// The rows first .. first + rows - 1 of the picture as palette indices, 4 bits each, a row
// after another.
struct TBand {
    int First = 0;
    int Rows = 0;
    std::vector<std::uint8_t> Packed = std::vector<std::uint8_t>(RowBytes * BandRows);
};

// Paints the band's rows into canvas (Format_RGB32, ChartWidth x BandRows) and takes their
// palette indices.
void PaintBand(const TChartLayout& layout, const QString& decimalPoint, QImage& canvas,
               TBand& band) {
    PaintChartRows(canvas, layout, band.First, decimalPoint);
    for (int y = 0; y < band.Rows; ++y)
        ChartPaletteNibbles(reinterpret_cast<const QRgb*>(canvas.constScanLine(y)), ChartWidth,
                            band.Packed.data() + static_cast<std::size_t>(y) * RowBytes);
}

// Encodes bands of palette indices in one of the two formats, handing the bytes to a sink.
class TEncoder {
public:
    using TSink = TPngRows::TSink;
    virtual ~TEncoder() = default;
    virtual bool Begin(int height) = 0;
    virtual bool Band(const TBand& band) = 0;
    virtual bool End() = 0;
};

// Little-endian bytes of an integer.
template <typename T> void Put(std::vector<char>& out, T value) {
    auto bits = static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<T>>(value));
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        out.push_back(static_cast<char>(bits & 0xFF));
}

// An uncompressed 4-bit BMP stored top row first, a band's rows in one write: its rows are
// the band's as they are, their 300 bytes a multiple of 4 as BMP rows must be.
class TBmpEncoder : public TEncoder {
public:
    explicit TBmpEncoder(TSink sink) : sink_(std::move(sink)) {}

    bool Begin(int height) override {
        constexpr std::uint32_t headerSize = 14 + 40 + 16 * 4;
        const auto imageBytes =
            static_cast<std::uint32_t>(RowBytes * static_cast<std::size_t>(height));
        std::vector<char> header;
        header.push_back('B');
        header.push_back('M');
        Put<std::uint32_t>(header, headerSize + imageBytes);
        Put<std::uint32_t>(header, 0);
        Put<std::uint32_t>(header, headerSize);
        Put<std::uint32_t>(header, 40);
        Put<std::int32_t>(header, ChartWidth);
        Put<std::int32_t>(header, -height); // rows from the top down
        Put<std::uint16_t>(header, 1);
        Put<std::uint16_t>(header, 4);
        Put<std::uint32_t>(header, 0); // uncompressed
        Put<std::uint32_t>(header, imageBytes);
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
        return sink_(header.data(), header.size());
    }

    bool Band(const TBand& band) override {
        return sink_(reinterpret_cast<const char*>(band.Packed.data()),
                     RowBytes * static_cast<std::size_t>(band.Rows));
    }

    bool End() override { return true; }

private:
    TSink sink_;
};

class TPngEncoder : public TEncoder {
public:
    explicit TPngEncoder(TSink sink) : rows_(std::move(sink)) {}

    bool Begin(int height) override { return rows_.Begin(ChartWidth, height, ChartPalette()); }

    bool Band(const TBand& band) override {
        for (int y = 0; y < band.Rows; ++y)
            if (!rows_.Row(band.Packed.data() + static_cast<std::size_t>(y) * RowBytes))
                return false;
        return true;
    }

    bool End() override { return rows_.End(); }

private:
    TPngRows rows_;
};

// Paints the picture band by band and encodes each band while the next is painted: the
// painter stays on the calling thread, the encoder and its sink work on one other thread,
// one band at a time. False when the encoder failed or progress asked to stop (*stopped).
bool PaintAndEncode(const TChartLayout& layout, const QString& decimalPoint, TEncoder& encoder,
                    const TPictureProgress& progress, bool* stopped) {
    if (!encoder.Begin(layout.Height))
        return false;
    QImage canvas(ChartWidth, BandRows, QImage::Format_RGB32);
    TBand bands[2];
    std::future<bool> encoding;
    int next = 0;
    for (int first = 0; first < layout.Height; first += BandRows) {
        TBand& band = bands[next];
        next = 1 - next;
        band.First = first;
        band.Rows = std::min(BandRows, layout.Height - first);
        PaintBand(layout, decimalPoint, canvas, band);
        if (encoding.valid() && !encoding.get())
            return false;
        encoding = std::async(std::launch::async, [&encoder, &band] { return encoder.Band(band); });
        if (progress && !progress(first + band.Rows, layout.Height)) {
            *stopped = true;
            encoding.wait();
            return false;
        }
    }
    return (!encoding.valid() || encoding.get()) && encoder.End();
}

} // namespace

bool WriteChartPng(const TChartLayout& layout, QIODevice& device, const QString& decimalPoint) {
    TPngEncoder encoder([&device](const char* bytes, std::size_t size) {
        return device.write(bytes, static_cast<qint64>(size)) == static_cast<qint64>(size);
    });
    bool stopped = false;
    return PaintAndEncode(layout, decimalPoint, encoder, {}, &stopped);
}

bool SaveChartPicture(const TChartLayout& layout, const QString& fileName,
                      const QString& decimalPoint, TPictureFailure* failure,
                      const TPictureProgress& progress) {
    *failure = {};
    const bool bmp = fileName.endsWith(".bmp", Qt::CaseInsensitive);
    if (bmp && layout.Height > MaxBmpChartHeight) {
        failure->TooTallForBmp = true;
        return false;
    }
    FileReplacement file;
    if (!file.Begin(QFile::encodeName(fileName).toStdString())) {
        failure->File = file.Error();
        return false;
    }
    const auto sink = [&file](const char* bytes, std::size_t size) {
        return file.Write(bytes, size);
    };
    std::unique_ptr<TEncoder> encoder;
    if (bmp)
        encoder = std::make_unique<TBmpEncoder>(sink);
    else
        encoder = std::make_unique<TPngEncoder>(sink);
    const bool written =
        PaintAndEncode(layout, decimalPoint, *encoder, progress, &failure->Cancelled);
    if (!written || !file.Commit()) {
        // A failure of the encoder itself, with no error of the file, is a failed write.
        if (!failure->Cancelled)
            failure->File = file.Error().Failed() ? file.Error() : TFileError{TFileStep::Write, 0};
        file.Discard();
        return false;
    }
    return true;
}
