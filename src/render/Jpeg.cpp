#include "render/Jpeg.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <stdexcept>
#include <string>

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
