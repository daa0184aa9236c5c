// The six textures of the benchmark's corridor, built from the program's JPEG pictures as
// 1024 x 1024 A8R8G8B8 pixels, bottom row first.
#include "render/TextureSet.h"

#include "render/Jpeg.h"
#include "state/Variables.h"

#include <QImage>
#include <QPainter>

#include <stdexcept>
#include <string>

namespace {

constexpr int TextureSize = 1024;

inline std::uint32_t Argb(const uchar* rgb) {
    return 0xFF000000u | std::uint32_t(rgb[0]) << 16 | std::uint32_t(rgb[1]) << 8 | rgb[2];
}

inline void ConvertRow(const uchar* rgb, int count, std::uint32_t* out) {
    for (int x = 0; x < count; ++x, rgb += 3)
        out[x] = Argb(rgb);
}

void RequireWholeTexture(const QImage& image, const std::string& name) {
    if (image.width() < TextureSize || image.height() < TextureSize)
        throw std::runtime_error("picture " + name + " is smaller than the texture");
}

void BuildWallTexture(const std::string& set, unsigned index, std::uint32_t* pixels) {
    const std::string backgroundName = "Fon" + set + "0";
    const std::string pictureName = "Tex" + set + std::to_string(index);
    QImage background;
    LoadJpegResource(backgroundName, background);
    RequireWholeTexture(background, backgroundName);
    QImage picture;
    LoadJpegResource(pictureName, picture);

    // The walls are taller on screen than the pictures are drawn: stretch them vertically.
    {
        QImage stretched(picture.width(), picture.height() * 5 / 3, picture.format());
        QPainter painter(&stretched);
        painter.drawImage(stretched.rect(), picture);
        painter.end();
        picture = std::move(stretched);
    }
    const int halfW = picture.width() / 2;
    const int halfH = picture.height() / 2;
    if (picture.isNull() || halfW > TextureSize / 2 || halfH > TextureSize / 2)
        throw std::runtime_error("picture " + pictureName + " does not fit the texture");
    const int left = TextureSize / 2 - halfW;
    const int top = TextureSize / 2 - halfH;
    const int right = left + 2 * halfW;
    const int bottom = top + 2 * halfH;

    const QImage& back = background;
    const QImage& front = picture;
    for (int r = 0; r < TextureSize; ++r) {
        const int y = TextureSize - 1 - r;
        std::uint32_t* out = pixels + std::size_t(r) * TextureSize;
        const uchar* backRow = back.constScanLine(y);
        if (y < top || y >= bottom) {
            ConvertRow(backRow, TextureSize, out);
            continue;
        }
        const uchar* frontRow = front.constScanLine(y - top);
        ConvertRow(backRow, left, out);
        ConvertRow(frontRow, right - left, out + left);
        ConvertRow(backRow + 3 * right, TextureSize - right, out + right);
    }
}

void BuildWholeTexture(const std::string& set, unsigned index, std::uint32_t* pixels) {
    const std::string name = "Tex" + set + std::to_string(index);
    QImage image;
    LoadJpegResource(name, image);
    RequireWholeTexture(image, name);
    if (image.format() != QImage::Format_RGB888)
        image = image.convertToFormat(QImage::Format_RGB888);
    const QImage& source = image;
    for (int r = 0; r < TextureSize; ++r)
        ConvertRow(source.constScanLine(TextureSize - 1 - r), TextureSize,
                   pixels + std::size_t(r) * TextureSize);
}

} // namespace

void PrepareTexture(unsigned setNumber, unsigned textureIndex, std::uint32_t* pixels) {
    if (setNumber != 1 || pixels == nullptr)
        return;
    const std::string set = std::to_string(setNumber);
    if (textureIndex <= 3)
        BuildWallTexture(set, textureIndex, pixels);
    else if (textureIndex <= 5)
        BuildWholeTexture(set, textureIndex, pixels);
}
