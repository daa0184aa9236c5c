// The benchmark's scene drawn with plain OpenGL, no Direct3D runtime in between, in its two
// variants (RawGlCorridor.h): lit by GL's fixed function, and the limit, the same draws with
// their colours known in advance. Rounds alternate the two, so that both see the same machine;
// every run prints a JSON line, and the last line gives the medians and the lit variant's
// share of the limit. The pass's own figure divided by these tells what the runtime costs
// (bench_pass --against-limit does it in one run).
//
//     bench_raw_gl_scene WIDTH HEIGHT DEPTH DETAIL [--rounds N] [--only lit|limit]
//                        [--screenshot PREFIX]
//
// --only runs one variant; --screenshot saves PREFIX-lit.png and PREFIX-limit.png half way
// through the first round.
#include "RawGlCorridor.h"
#include "RunFigures.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: bench_raw_gl_scene WIDTH HEIGHT DEPTH DETAIL [--rounds N] "
                         "[--only lit|limit] [--screenshot PREFIX]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 5)
        return Usage();
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const int depth = std::atoi(argv[3]);
    const int detail = std::atoi(argv[4]);
    int rounds = 1;
    std::string screenshot;
    std::vector<rawgl::Variant> variants{rawgl::Variant::Lit, rawgl::Variant::Limit};
    for (int i = 5; i < argc; i += 2) {
        if (i + 1 >= argc)
            return Usage();
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--only") == 0 && std::strcmp(argv[i + 1], "lit") == 0)
            variants = {rawgl::Variant::Lit};
        else if (std::strcmp(argv[i], "--only") == 0 && std::strcmp(argv[i + 1], "limit") == 0)
            variants = {rawgl::Variant::Limit};
        else if (std::strcmp(argv[i], "--screenshot") == 0)
            screenshot = argv[i + 1];
        else
            return Usage();
    }
    if (width <= 0 || height <= 0 || detail < 1 || detail > 16 || rounds < 1 || rounds > 99)
        return Usage();

    benchfig::Series lit, limit;
    for (int round = 0; round < rounds; ++round) {
        for (const rawgl::Variant variant : variants) {
            const std::string shot = screenshot.empty() || round > 0
                                         ? std::string()
                                         : screenshot + "-" + rawgl::VariantName(variant) + ".png";
            const rawgl::CorridorFigures f = rawgl::RunCorridor(
                width, height, depth, detail, variant, shot.empty() ? nullptr : shot.c_str());
            if (!f.ok)
                return 1;
            (variant == rawgl::Variant::Lit ? lit : limit).push_back(f.trianglesPerMs);
            const QJsonObject run{
                {"Variant", rawgl::VariantName(variant)},
                {"Round", round + 1},
                {"Width", width},
                {"Height", height},
                {"Depth", depth},
                {"DetailLevel", detail},
                {"TrianglesPerMs", f.trianglesPerMs},
                {"Fps", f.fps},
                {"FrameCount", static_cast<qint64>(f.frames)},
                {"TotalTimeMs", static_cast<qint64>(f.totalMs)},
                {"Renderer", f.renderer},
            };
            std::printf("%s\n", QJsonDocument(run).toJson(QJsonDocument::Compact).constData());
            std::fflush(stdout);
        }
    }
    if (variants.size() == 1)
        return 0; // the run's own line says it all
    const double litMedian = benchfig::Median(lit), limitMedian = benchfig::Median(limit);
    const QJsonObject summary{
        {"Rounds", rounds},
        {"LitTrianglesPerMs", litMedian},
        {"LimitTrianglesPerMs", limitMedian},
        {"LitOfLimit", litMedian / limitMedian},
    };
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Compact).constData());
    return 0;
}
