// Texture preparation checked against the decoded pictures themselves: where the wall
// picture sits, what surrounds it, the upside-down order, and the arguments it ignores.
#include "render/TextureSet.h"
#include "render/Jpeg.h"
#include "state/Variables.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int Size = 1024;

std::uint32_t Argb(const QImage& image, int x, int y) {
    const uchar* p = image.constScanLine(y) + 3 * x;
    return 0xFF000000u | std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
}

QImage Decoded(const std::string& name) {
    QImage image;
    LoadJpegResource(name, image);
    return image;
}

std::vector<std::uint32_t> Prepared(unsigned set, unsigned index) {
    std::vector<std::uint32_t> pixels(Size * Size, 0x12345678u);
    PrepareTexture(set, index, pixels.data());
    return pixels;
}

// The composed (top-down) pixel at x, y of a prepared texture.
std::uint32_t Composed(const std::vector<std::uint32_t>& pixels, int x, int y) {
    return pixels[std::size_t(Size - 1 - y) * Size + x];
}

} // namespace

TEST(LoadJpegResource, DecodesEveryPictureAtItsSizeWhateverTheLetterCase) {
    const struct {
        const char* name;
        int width, height;
    } pictures[] = {{"FON10", 1024, 1024}, {"Tex10", 371, 425}, {"tex11", 548, 425},
                    {"TEX12", 560, 425},   {"tEx13", 294, 425}, {"Tex14", 1024, 1024},
                    {"Tex15", 1024, 1024}};
    for (const auto& picture : pictures) {
        QImage image(3, 3, QImage::Format_RGB32);
        LoadJpegResource(picture.name, image);
        EXPECT_EQ(image.width(), picture.width) << picture.name;
        EXPECT_EQ(image.height(), picture.height) << picture.name;
        EXPECT_EQ(image.format(), QImage::Format_RGB888) << picture.name;
    }
}

TEST(LoadJpegResource, UnknownNamesAndBadDataThrow) {
    QImage image;
    for (const char* name : {"Tex16", "Fon20", "", "TEX10.jpg", "../jpeg/TEX10", "Tex1"})
        EXPECT_THROW(LoadJpegResource(name, image), std::runtime_error) << name;

    QFile file(":/jpeg/TEX10.jpg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    const QByteArray bad[] = {QByteArray(), QByteArray("not a picture at all"),
                              good.left(good.size() / 3), good.left(2)};
    for (const QByteArray& bytes : bad) {
        QImage kept(2, 2, QImage::Format_RGB888);
        EXPECT_THROW(DecodeJpegData(bytes.constData(), std::size_t(bytes.size()), kept),
                     std::runtime_error)
            << bytes.size() << " bytes";
        EXPECT_EQ(kept.size(), QSize(2, 2)); // a failed decode leaves the bitmap alone
    }
    DecodeJpegData(good.constData(), std::size_t(good.size()), image);
    EXPECT_EQ(image.size(), QSize(371, 425));
}

// Each wall texture: the background everywhere but the centred picture block, whose rows are
// the picture's rows, stretched (each source row repeated, in order, top to bottom). Texture
// 0 is 371 wide: its block is 370 columns, the picture's last column is dropped.
TEST(PrepareTexture, WallPictureBlockSitsCentredOnTheBackground) {
    const struct {
        unsigned index;
        int left, right; // columns of the block, right excluded
    } walls[] = {{0, 327, 697}, {1, 238, 786}, {2, 232, 792}, {3, 365, 659}};
    const int top = 158, bottom = 866; // 425 rows stretched to 708

    const QImage background = Decoded("Fon10");
    for (const auto& wall : walls) {
        SCOPED_TRACE("texture " + std::to_string(wall.index));
        const QImage picture = Decoded("Tex1" + std::to_string(wall.index));
        const auto pixels = Prepared(1, wall.index);

        int backgroundMismatches = 0;
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x) {
                const bool inBlock = y >= top && y < bottom && x >= wall.left && x < wall.right;
                if (!inBlock && Composed(pixels, x, y) != Argb(background, x, y))
                    ++backgroundMismatches;
            }
        EXPECT_EQ(backgroundMismatches, 0);

        // Block rows must be the picture's rows in order, each used at least once.
        int sourceRow = 0;
        bool rowsMatch = true;
        for (int y = top; y < bottom && rowsMatch; ++y) {
            const auto rowMatches = [&](int k) {
                for (int x = wall.left; x < wall.right; ++x)
                    if (Composed(pixels, x, y) != Argb(picture, x - wall.left, k))
                        return false;
                return true;
            };
            if (y > top && !rowMatches(sourceRow))
                ++sourceRow;
            rowsMatch = sourceRow < picture.height() && rowMatches(sourceRow);
            EXPECT_TRUE(rowsMatch) << "composed row " << y;
        }
        EXPECT_GE(sourceRow, picture.height() - 2) << "the stretch lost the bottom rows";
    }
}

TEST(PrepareTexture, WholeImageTexturesAreTheirPictureUpsideDown) {
    for (unsigned index : {4u, 5u}) {
        const QImage image = Decoded("Tex1" + std::to_string(index));
        const auto pixels = Prepared(1, index);
        int mismatches = 0;
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x)
                mismatches += Composed(pixels, x, y) != Argb(image, x, y);
        EXPECT_EQ(mismatches, 0) << "texture " << index;
    }
}

TEST(PrepareTexture, FirstOutputPixelIsTheComposedBottomLeftOpaque) {
    const QImage background = Decoded("FON10");
    for (unsigned index = 0; index < 6; ++index) {
        const QImage source = index < 4 ? background : Decoded("Tex1" + std::to_string(index));
        const auto pixels = Prepared(1, index);
        EXPECT_EQ(pixels[0], Argb(source, 0, Size - 1)) << index;
        EXPECT_EQ(pixels[0] >> 24, 0xFFu) << index;
    }
}

TEST(PrepareTexture, OtherSetsAndIndicesLeaveTheOutputAlone) {
    const struct { unsigned set, index; } ignored[] = {{2, 0}, {0, 3}, {1, 6}, {1, 100}, {7, 4}};
    for (const auto& call : ignored) {
        const auto pixels = Prepared(call.set, call.index);
        EXPECT_EQ(pixels, std::vector<std::uint32_t>(Size * Size, 0x12345678u))
            << "set " << call.set << " index " << call.index;
    }
}
