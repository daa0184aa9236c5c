// Saves the six prepared textures side by side as one PNG, each at half size and the right
// way up (as it appears in the corridor; the prepared pixels are stored bottom row first).
//
//     texture_sheet <file.png>
#include "render/TextureSet.h"
#include "state/Variables.h"

#include "ToolArguments.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.addPositionalArgument("FILE", "The PNG file to write.");
    if (const auto status = ReadToolArguments(
            parser, "texture_sheet",
            "Saves the six prepared textures side by side as one PNG, at half size.", argc, argv, 1,
            1))
        return *status;
    const QString fileName = parser.positionalArguments().first();
    QGuiApplication app(argc, argv);
    constexpr int Size = 1024, Shown = Size / 2, Gap = 8;
    QImage sheet(TextureCount * Shown + (TextureCount - 1) * Gap, Shown, QImage::Format_RGB32);
    sheet.fill(QColor(48, 48, 48));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    std::vector<std::uint32_t> pixels(Size * Size);
    for (unsigned index = 0; index < TextureCount; ++index) {
        try {
            PrepareTexture(TestSet, index, pixels.data());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "texture %u: %s\n", index, error.what());
            return 1;
        }
        // 0xAARRGGBB words are QImage's ARGB32 layout.
        const QImage texture(reinterpret_cast<const uchar*>(pixels.data()), Size, Size,
                             QImage::Format_ARGB32);
        painter.drawImage(QRect(int(index) * (Shown + Gap), 0, Shown, Shown),
                          texture.mirrored(false, true));
    }
    painter.end();
    if (!sheet.save(fileName, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", fileName.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
