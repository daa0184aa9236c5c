// Time to prepare the six textures of the corridor, against the bare libjpeg-turbo decoding
// of the same seven pictures: what texture preparation adds to decoding.
//
//     bench_textures [rounds]
#include "ToolArguments.h"
#include "render/TextureSet.h"
#include "state/Variables.h"

#include <QFile>
#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Plain decoding to RGB rows, with the library's own error handling (the pictures are good).
void Decode(const QByteArray& bytes, std::vector<unsigned char>& out) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * 3;
    out.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QCommandLineParser parser;
    parser.addPositionalArgument("ROUNDS", "How many times each is measured (default 20).",
                                 "[ROUNDS]");
    if (const auto status = ReadToolArguments(
            parser, "bench_textures",
            "Times the preparation of the six textures against the bare decoding of their "
            "pictures.",
            argc, argv, 0, 1))
        return *status;
    const int rounds = parser.positionalArguments().isEmpty()
                           ? 20
                           : std::max(1, parser.positionalArguments().first().toInt());
    QGuiApplication app(argc, argv);

    std::vector<QByteArray> files;
    for (const char* name : {"FON10", "TEX10", "TEX11", "TEX12", "TEX13", "TEX14", "TEX15"}) {
        QFile file(QStringLiteral(":/jpeg/%1.jpg").arg(QLatin1String(name)));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "missing picture %s\n", name);
            return 1;
        }
        files.push_back(file.readAll());
    }

    std::vector<std::uint32_t> pixels(1024 * 1024);
    std::vector<unsigned char> decoded;
    // One round of each first, so that neither pays for first touches of memory.
    for (unsigned i = 0; i < TextureCount; ++i)
        PrepareTexture(TestSet, i, pixels.data());
    for (const QByteArray& bytes : files)
        Decode(bytes, decoded);

    double prepareBest = 1e30, decodeBest = 1e30, prepareSum = 0, decodeSum = 0;
    for (int round = 0; round < rounds; ++round) {
        double start = Now();
        for (unsigned i = 0; i < TextureCount; ++i)
            PrepareTexture(TestSet, i, pixels.data());
        const double prepare = Now() - start;
        start = Now();
        for (const QByteArray& bytes : files)
            Decode(bytes, decoded);
        const double decode = Now() - start;
        prepareBest = std::min(prepareBest, prepare);
        decodeBest = std::min(decodeBest, decode);
        prepareSum += prepare;
        decodeSum += decode;
    }
    std::printf("rounds: %d\n", rounds);
    std::printf("%-34s %10s %10s\n", "", "best ms", "mean ms");
    std::printf("%-34s %10.2f %10.2f\n", "prepare six textures", prepareBest, prepareSum / rounds);
    std::printf("%-34s %10.2f %10.2f\n", "decode seven JPEGs (libjpeg-turbo)", decodeBest,
                decodeSum / rounds);
    std::printf("%-34s %10.2f %10.2f\n", "ratio prepare / decode", prepareBest / decodeBest,
                prepareSum / decodeSum);
    return 0;
}
