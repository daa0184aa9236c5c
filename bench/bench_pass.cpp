// Runs one real benchmark pass through MainProc in the current display and prints the
// recorded result as one JSON line:
//
//     bench_pass WIDTH HEIGHT DEPTH ref|hal-hw|hal-sw DETAIL [--screenshot FILE]
//
// ref is full software emulation, hal-hw the HAL device with hardware vertex processing,
// hal-sw with software vertex processing. Where the desktop's renderer is a software one
// (no GPU), hal-* turns on the runtime's test switch that lets it count as hardware; a note
// on standard error says so. --screenshot saves the picture on the screen halfway through
// the measured fly-through as a PNG file.
//
// Against the limit of the renderer:
//
//     bench_pass WIDTH HEIGHT DEPTH KIND[,KIND...] DETAIL --against-limit ROUNDS
//                [--runtime NAME=LIBRARY]...
//
// runs ROUNDS rounds, each of them the plain-GL limit and lit variants of the scene
// (bench_raw_gl_scene, RawGlCorridor.h) and then one pass of every kind with every runtime
// library given (by default the one next to this program). Each run is a process of its own,
// as a pass of the program starts from a device of its own: what one run leaves in the
// process (the driver's caches, the heap) cannot favour the next. Every run prints a JSON
// line; the last lines give for each runtime and kind the median triangles per millisecond,
// its ratio to the median limit and the median of each round's ratio to that round's limit. Two
// --runtime libraries (say, before and after a change) are compared run for run. A single pass
// takes --library FILE for another runtime library.
#include "RunFigures.h"
#include "ToolArguments.h"
#include "bench/Test1.h"
#include "platform/Clock.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

int Refuse(const char* why) {
    std::fprintf(stderr, "bench_pass: %s; see bench_pass --help\n", why);
    return 2;
}

bool KnownKind(const std::string& kind) {
    return kind == "ref" || kind == "hal-hw" || kind == "hal-sw";
}

bool ReadCaps(D3DCAPS8& hal, D3DCAPS8& ref) {
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (d3d == nullptr)
        return false;
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &hal)))
        hal = D3DCAPS8{};
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref)))
        ref = D3DCAPS8{};
    d3d->Release();
    return true;
}

// The front buffer as a picture (what the screen shows, at the mode's size).
bool SaveFrontBuffer(IDirect3DDevice8* device, int width, int height, const QString& file) {
    IDirect3DSurface8* surface = nullptr;
    if (FAILED(device->CreateImageSurface(width, height, D3DFMT_A8R8G8B8, &surface)))
        return false;
    bool saved = false;
    D3DLOCKED_RECT rect{};
    if (SUCCEEDED(device->GetFrontBuffer(surface)) &&
        SUCCEEDED(surface->LockRect(&rect, nullptr, 0))) {
        const QImage view(static_cast<const uchar*>(rect.pBits), width, height, rect.Pitch,
                          QImage::Format_RGB32);
        saved = view.copy().save(file, "PNG");
        surface->UnlockRect();
    }
    surface->Release();
    return saved;
}

void PrintRecord(const TResultRecord& r) {
    QJsonArray availPhys, availTextureMem;
    for (int k = 0; k < 4; ++k) {
        availPhys.append(static_cast<qint64>(r.AvailPhys[k]));
        availTextureMem.append(static_cast<qint64>(r.AvailTextureMem[k]));
    }
    const QJsonObject record{
        {"Timestamp", r.Timestamp},
        {"TestSet", r.TestSet},
        {"Width", r.Width},
        {"Height", r.Height},
        {"Depth", r.Depth},
        {"RefreshRate", r.RefreshRate},
        {"HardwareDevice", r.HardwareDevice},
        {"HardwareVertexProcessing", r.HardwareVertexProcessing},
        {"VertexBufferMode", r.VertexBufferMode},
        {"TextureMode", r.TextureMode},
        {"DetailLevel", r.DetailLevel},
        {"BlackPercent", r.BlackPercent},
        {"SumLogFrameTime", r.SumLogFrameTime},
        {"SumSqLogFrameTime", r.SumSqLogFrameTime},
        {"TrianglesPerMs", r.TrianglesPerMs},
        {"Fps", r.Fps},
        {"MinFps", r.MinFps},
        {"MaxFps", r.MaxFps},
        {"FrameTimeSpread", r.FrameTimeSpread},
        {"FrameCount", static_cast<qint64>(r.FrameCount)},
        {"TotalTimeMs", r.TotalTimeMs},
        {"EmptyFps", r.EmptyFps},
        {"AvailPhys", availPhys},
        {"AvailTextureMem", availTextureMem},
        {"FpsSum", r.FpsSum},
        {"FpsMin", r.FpsMin},
        {"FpsMax", r.FpsMax},
        {"RunCount", r.RunCount},
    };
    std::printf("%s\n", QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
}

// Loads the runtime library (the default one for an empty path) and fills this computer's
// record with its caps; for a HAL kind without a HAL device, turns on the test switch. False,
// having said why, when that cannot be done.
bool UseRuntime(const std::string& library, const std::string& kind) {
    LoadDirect3DLibrary(library.empty() ? nullptr : library.c_str());
    D3DCAPS8 hal{}, ref{};
    if (!ReadCaps(hal, ref)) {
        std::fprintf(stderr, "the Direct3D runtime library did not load\n");
        return false;
    }
    if (kind != "ref" && hal.DeviceType == 0) {
        void* proc = dlsym(Direct3DLibraryHandle(), Direct3DTestSoftwareAsHardwareSymbol);
        if (proc == nullptr) {
            std::fprintf(stderr, "no HAL device, and the runtime has no test switch\n");
            return false;
        }
        reinterpret_cast<Direct3DTestSoftwareAsHardwareProc>(proc)(1);
        static bool said = false;
        if (!said)
            std::fprintf(stderr, "note: no hardware renderer here; the software renderer is "
                                 "treated as the HAL device (runtime test switch)\n");
        said = true;
        ReadCaps(hal, ref);
    }
    CurrentComputer = TComputerRecord{};
    CurrentComputer.HalCaps = hal;
    CurrentComputer.RefCaps = ref;
    Computers.assign(1, CurrentComputer);
    ComputerDevices.assign(1, {});
    ComputerResults.assign(1, {});
    CurrentComputerIndex = 0;
    return true;
}

// One pass through MainProc; the recorded result, or nothing (having said why) on failure.
std::optional<TResultRecord> RunPass(int width, int height, int depth, const std::string& kind,
                                     int detail, const QString& screenshot) {
    CurrentTest = TTestConfig{};
    CurrentTest.Width = static_cast<std::uint16_t>(width);
    CurrentTest.Height = static_cast<std::uint16_t>(height);
    CurrentTest.Depth = static_cast<std::uint16_t>(depth);
    CurrentTest.HardwareDevice = kind == "ref" ? 0 : 1;
    CurrentTest.HardwareVertexProcessing = kind == "hal-hw" ? 1 : 0;
    CurrentTest.VertexBufferMode = 2;
    CurrentTest.TextureMode = 2;
    CurrentTest.DetailLevel = static_cast<std::uint8_t>(detail);
    TestFailed = false;

    // The screenshot is taken at a message pump, half way through the measured 7 s.
    QTimer timer;
    std::uint32_t measuringStart = 0;
    bool shot = false;
    auto* screen = new TTestScreen;
    if (!screenshot.isEmpty()) {
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (shot || screen->FramesDrawn < 4 || screen->Device == nullptr)
                return;
            if (measuringStart == 0)
                measuringStart = GetTickCount();
            if (GetTickCount() - measuringStart >= MeasuredDurationMs / 2) {
                shot = true;
                if (!SaveFrontBuffer(screen->Device, width, height, screenshot))
                    std::fprintf(stderr, "the screenshot could not be saved\n");
            }
        });
        timer.start(5);
    }

    TestScreen = screen;
    screen->show();
    screen->MainProc();
    TestScreen = nullptr;
    delete screen;
    timer.stop();

    if (TestFailed || ComputerResults[0].empty()) {
        std::fprintf(stderr, "the pass failed: %s\n", StatusText.c_str());
        return std::nullopt;
    }
    const TResultRecord record = ComputerResults[0].back();
    ComputerResults[0].clear();
    return record;
}

struct Runtime {
    std::string name, library; // an empty library: the one next to this program
};

// The triangles per millisecond a child benchmark process prints on its last line; 0, having
// said why, when it fails.
double RunChild(const QString& program, const QStringList& arguments) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, arguments);
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        std::fprintf(stderr, "%s %s failed\n", qPrintable(program),
                     qPrintable(arguments.join(' ')));
        return 0;
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    return QJsonDocument::fromJson(lines.last()).object().value("TrianglesPerMs").toDouble();
}

// Alternating rounds of the limit, the lit plain-GL scene and the passes; medians at the end.
int AgainstLimit(const QStringList& mode, const std::vector<std::string>& kinds, int rounds,
                 const std::vector<Runtime>& runtimes) {
    const auto print = [](const QJsonObject& line) {
        std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    };
    const QString folder = QCoreApplication::applicationDirPath();
    const QString raw = QDir(folder).filePath("bench_raw_gl_scene");
    benchfig::Series limit, lit;
    std::vector<benchfig::Series> passes(runtimes.size() * kinds.size());
    for (int round = 1; round <= rounds; ++round) {
        for (const char* variant : {"limit", "lit"}) {
            const double rate = RunChild(raw, mode + QStringList{"--only", variant});
            if (rate <= 0)
                return 1;
            (std::strcmp(variant, "limit") == 0 ? limit : lit).push_back(rate);
            print({{"Round", round},
                   {"Run", QString("plain GL ") + variant},
                   {"TrianglesPerMs", rate}});
        }
        for (std::size_t r = 0; r < runtimes.size(); ++r) {
            for (std::size_t k = 0; k < kinds.size(); ++k) {
                QStringList arguments = mode;
                arguments.insert(3, QString::fromStdString(kinds[k]));
                if (!runtimes[r].library.empty())
                    arguments << "--library" << QString::fromStdString(runtimes[r].library);
                const double rate = RunChild(QCoreApplication::applicationFilePath(), arguments);
                if (rate <= 0)
                    return 1;
                passes[r * kinds.size() + k].push_back(rate);
                print({{"Round", round},
                       {"Run", QString::fromStdString(kinds[k])},
                       {"Runtime", QString::fromStdString(runtimes[r].name)},
                       {"TrianglesPerMs", rate}});
            }
        }
    }
    const double limitMedian = benchfig::Median(limit);
    print({{"Mode", mode.join(' ')},
           {"Rounds", rounds},
           {"LimitTrianglesPerMs", limitMedian},
           {"LitTrianglesPerMs", benchfig::Median(lit)},
           {"LitOfLimit", benchfig::Median(lit) / limitMedian}});
    for (std::size_t r = 0; r < runtimes.size(); ++r)
        for (std::size_t k = 0; k < kinds.size(); ++k) {
            const benchfig::Series& rates = passes[r * kinds.size() + k];
            // Each round's pass against that round's limit too: the machine's load drifts
            // between rounds, less within one.
            benchfig::Series ofRoundLimit;
            for (std::size_t i = 0; i < rates.size(); ++i)
                ofRoundLimit.push_back(rates[i] / limit[i]);
            const double median = benchfig::Median(rates);
            print({{"Run", QString::fromStdString(kinds[k])},
                   {"Runtime", QString::fromStdString(runtimes[r].name)},
                   {"TrianglesPerMs", median},
                   {"OfLimit", median / limitMedian},
                   {"MedianOfRoundRatios", benchfig::Median(ofRoundLimit)}});
        }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.addPositionalArgument("WIDTH", "The display mode's width.");
    parser.addPositionalArgument("HEIGHT", "Its height.");
    parser.addPositionalArgument("DEPTH", "Its colour depth, 16 or 32.");
    parser.addPositionalArgument(
        "KIND", "ref (full software emulation), hal-hw or hal-sw (the HAL device with hardware "
                "or software vertex processing); with --against-limit a list, KIND[,KIND...]. "
                "hal-* on a machine whose renderer is software turns on the runtime's test "
                "switch that treats the software renderer as a hardware one.");
    parser.addPositionalArgument("DETAIL", "The detail level, 1 to 16 (4: the test).");
    const QCommandLineOption screenshotOption(
        "screenshot", "Saves the screen half way through the pass as a PNG file.", "FILE");
    const QCommandLineOption libraryOption("library", "Another runtime library for the pass.",
                                           "FILE");
    const QCommandLineOption againstOption(
        "against-limit", "Rounds (1 to 99) of the plain-GL limit, the lit scene and the passes.",
        "ROUNDS");
    const QCommandLineOption runtimeOption(
        "runtime", "A runtime library to compare in --against-limit; may be repeated.",
        "NAME=LIBRARY");
    parser.addOptions({screenshotOption, libraryOption, againstOption, runtimeOption});
    if (const auto status = ReadToolArguments(
            parser, "bench_pass",
            "Runs one real benchmark pass in the current display and prints its result as a "
            "JSON line; or, with --against-limit, rounds of passes against the renderer's limit.",
            argc, argv, 5, 5))
        return *status;
    const QStringList given = parser.positionalArguments();
    const int width = given[0].toInt();
    const int height = given[1].toInt();
    const int depth = given[2].toInt();
    const std::string kindList = given[3].toStdString();
    const int detail = given[4].toInt();
    const QString screenshot = parser.value(screenshotOption);
    const std::string library = parser.value(libraryOption).toStdString();
    int rounds = 0;
    if (parser.isSet(againstOption)) {
        rounds = parser.value(againstOption).toInt();
        if (rounds < 1 || rounds > 99)
            return Refuse("--against-limit takes 1 to 99 rounds");
    }
    std::vector<Runtime> runtimes;
    for (const QString& runtime : parser.values(runtimeOption)) {
        const std::string value = runtime.toStdString();
        const std::size_t equals = value.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == value.size())
            return Refuse("--runtime takes NAME=LIBRARY");
        runtimes.push_back({value.substr(0, equals), value.substr(equals + 1)});
    }
    std::vector<std::string> kinds;
    for (std::size_t begin = 0; begin <= kindList.size();) {
        const std::size_t end = std::min(kindList.find(',', begin), kindList.size());
        kinds.push_back(kindList.substr(begin, end - begin));
        if (!KnownKind(kinds.back()))
            return Refuse("a kind is ref, hal-hw or hal-sw");
        begin = end + 1;
    }
    if (width <= 0 || width > 65535 || height <= 0 || height > 65535 || detail < 1 || detail > 16)
        return Refuse("the mode or the detail level is out of range");
    if (rounds == 0 && (kinds.size() != 1 || !runtimes.empty()))
        return Refuse("a single pass takes one kind and no --runtime");
    if (rounds > 0 && (!screenshot.isEmpty() || !library.empty()))
        return Refuse("--against-limit takes no --screenshot and no --library");

    QGuiApplication app(argc, argv);
    if (rounds > 0) {
        if (runtimes.empty())
            runtimes.push_back({"this", ""});
        const QStringList mode{given[0], given[1], given[2], given[4]};
        return AgainstLimit(mode, kinds, rounds, runtimes);
    }
    if (!UseRuntime(library, kinds[0]))
        return 1;
    const auto record = RunPass(width, height, depth, kinds[0], detail, screenshot);
    FreeDirect3DLibrary();
    if (!record)
        return 1;
    PrintRecord(*record);
    return 0;
}
