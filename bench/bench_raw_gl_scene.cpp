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
#include "ToolArguments.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Refuse(const char* why) {
    std::fprintf(stderr, "bench_raw_gl_scene: %s; see bench_raw_gl_scene --help\n", why);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.addPositionalArgument("WIDTH", "The width of the window drawn in.");
    parser.addPositionalArgument("HEIGHT", "Its height.");
    parser.addPositionalArgument("DEPTH", "Its colour depth, 16 or 32.");
    parser.addPositionalArgument("DETAIL", "The detail level, 1 to 16 (4: the test).");
    const QCommandLineOption roundsOption("rounds", "Rounds of both variants, 1 to 99.", "N");
    const QCommandLineOption onlyOption("only", "One variant alone: lit or limit.", "VARIANT");
    const QCommandLineOption screenshotOption(
        "screenshot", "Saves PREFIX-lit.png and PREFIX-limit.png half way through round one.",
        "PREFIX");
    parser.addOptions({roundsOption, onlyOption, screenshotOption});
    if (const auto status = ReadToolArguments(
            parser, "bench_raw_gl_scene",
            "Draws the benchmark's scene with plain OpenGL, lit by GL and as the limit, and "
            "prints the triangles per millisecond of each run.",
            argc, argv, 4, 4))
        return *status;
    const QStringList given = parser.positionalArguments();
    const int width = given[0].toInt();
    const int height = given[1].toInt();
    const int depth = given[2].toInt();
    const int detail = given[3].toInt();
    const int rounds = parser.isSet(roundsOption) ? parser.value(roundsOption).toInt() : 1;
    const std::string screenshot = parser.value(screenshotOption).toStdString();
    std::vector<rawgl::Variant> variants{rawgl::Variant::Lit, rawgl::Variant::Limit};
    if (parser.value(onlyOption) == "lit")
        variants = {rawgl::Variant::Lit};
    else if (parser.value(onlyOption) == "limit")
        variants = {rawgl::Variant::Limit};
    else if (parser.isSet(onlyOption))
        return Refuse("--only takes lit or limit");
    if (width <= 0 || height <= 0 || detail < 1 || detail > 16 || rounds < 1 || rounds > 99)
        return Refuse("the size, the detail level or the rounds are out of range");
    QGuiApplication app(argc, argv);

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
