// Small routines that several windows share: registry texts, the common blue background and
// the decoding of the program's JPEG pictures.
#include "state/Variables.h"

#include "platform/Registry.h"

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <stdexcept>
#include <string>

// ---- ReadRegistryText ---------------------------------------------------------------------

TStringSlot ReadRegistryText(HKEY root, std::string_view keyPath, std::string_view valueName) {
    std::string text;
    const RegistryKey* key = CurrentRegistry().OpenKey(root, keyPath);
    const RegistryValue* value = key != nullptr ? key->FindValue(valueName) : nullptr;
    if (value != nullptr && value->Type == REG_SZ) {
        // A stored string ends at its first zero, as the registry hands it back.
        text = value->Text.substr(0, std::min(value->Text.find('\0'), std::size_t{255}));
    } else if (value != nullptr && value->Type == REG_DWORD) {
        text = std::to_string(value->Number);
    }
    if (text.empty())
        text = NotDetermined;
    return ScrambleText(MakeStringSlot(text));
}

// ---- PaintBackground ----------------------------------------------------------------------

void PaintBackground(QPainter& canvas, int W, int H, int R, int N) {
    canvas.save();
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.fillRect(QRect(0, 0, W, H), QColor(16, 32, 255));
    QColor colour(16, 32, 255);
    const double lnN = std::log(static_cast<double>(N));
    for (int r = 1; r <= N; ++r) {
        const double t = std::log(static_cast<double>(r)) / lnN;
        // nearbyint rounds half to even in the default rounding mode.
        colour = QColor(static_cast<int>(std::nearbyint(16 + 79 * t)),
                        static_cast<int>(std::nearbyint(32 + 127 * t)), 255);
        canvas.setPen(colour);
        canvas.setBrush(colour);
        const int radius = R - r;
        if (radius > 0) {
            const int d = 2 * radius;
            // Qt's angles are in sixteenths of a degree, counter-clockwise from three o'clock.
            canvas.drawPie(QRect(R - radius, R - radius, d, d), 90 * 16, 90 * 16);
            canvas.drawPie(QRect(W - R - radius, R - radius, d, d), 0, 90 * 16);
            canvas.drawPie(QRect(R - radius, H - R - radius, d, d), 180 * 16, 90 * 16);
            canvas.drawPie(QRect(W - R - radius, H - R - radius, d, d), 270 * 16, 90 * 16);
        }
        // Bands between the sectors; every range includes its lower and excludes its upper
        // bound. The side bands reach down to row H - R - 1 too: the lower sectors start
        // at row H - R, and a band stopping a row short would leave a line of the base colour
        // across the ring on either side.
        const auto band = [&](int x0, int x1, int y0, int y1) {
            if (x1 > x0 && y1 > y0)
                canvas.fillRect(QRect(x0, y0, x1 - x0, y1 - y0), colour);
        };
        band(R, W - R, r, R);
        band(R, W - R, H - R - 1, H - r);
        band(r, R, R, H - R);
        band(W - R - 1, W - r, R, H - R);
    }
    if (W - 2 * R > 0 && H - 2 * R > 0)
        canvas.fillRect(QRect(R, R, W - 2 * R, H - 2 * R), colour);
    canvas.setPen(Qt::black);
    canvas.drawPoint(0, H - 1);
    canvas.restore();
}

QImage ButtonGlyph(int buttonWidth, int buttonHeight) {
    QImage glyph(buttonWidth - 4, buttonHeight - 4, QImage::Format_RGB32);
    QPainter canvas(&glyph);
    PaintBackground(canvas, glyph.width(), glyph.height(), 10, 3);
    return glyph;
}

// ---- LoadJpegResource ---------------------------------------------------------------------

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's default error handler ends the process; ours jumps back to DecodeJpeg, which
// reports the failure to C++.
[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

void JpegSilentMessage(j_common_ptr) {}

// A warning means damaged data (a truncated file, a broken segment) that libjpeg would
// paper over with grey; a texture made of it is wrong, so it fails like an error.
void JpegWarningIsError(j_common_ptr cinfo, int level) {
    if (level < 0)
        JpegErrorExit(cinfo);
}

// Decodes into image as 24-bit RGB. No object with a destructor lives in this frame, so the
// jump from JpegErrorExit skips nothing that needs cleaning up; image belongs to the caller.
bool DecodeJpeg(jpeg_decompress_struct& cinfo, JpegErrorManager& errors, const unsigned char* data,
                unsigned long size, QImage& image) {
    if (setjmp(errors.jump) != 0)
        return false;
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                   QImage::Format_RGB888);
    if (image.isNull()) {
        std::snprintf(errors.message, sizeof errors.message, "image too large");
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

QString FindJpegResource(std::string_view name) {
    const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
                           QStringLiteral(".jpg");
    const QDir folder(QStringLiteral(":/jpeg"));
    for (const QString& entry : folder.entryList(QDir::Files))
        if (entry.compare(wanted, Qt::CaseInsensitive) == 0)
            return folder.filePath(entry);
    return {};
}

} // namespace

void DecodeJpegData(const void* data, std::size_t size, QImage& bitmap) {
    jpeg_decompress_struct cinfo{};
    JpegErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = JpegErrorExit;
    errors.base.output_message = JpegSilentMessage;
    errors.base.emit_message = JpegWarningIsError;
    jpeg_create_decompress(&cinfo);
    QImage image;
    const bool decoded = DecodeJpeg(cinfo, errors, static_cast<const unsigned char*>(data),
                                    static_cast<unsigned long>(size), image);
    jpeg_destroy_decompress(&cinfo);
    if (!decoded)
        throw std::runtime_error(std::string("cannot decode JPEG data: ") + errors.message);
    bitmap = QImage();
    bitmap = std::move(image);
}

void LoadJpegResource(std::string_view name, QImage& bitmap) {
    const QString path = FindJpegResource(name);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw std::runtime_error("no JPEG resource named " + std::string(name));
    const QByteArray bytes = file.readAll();
    try {
        DecodeJpegData(bytes.constData(), static_cast<std::size_t>(bytes.size()), bitmap);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(std::string(name) + ": " + error.what());
    }
}
