#include "bench/PassLogic.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double SceneCentre = 100.0;

// Grid point (i, j) of a block whose cells are 1/d wide, in the order the blocks are drawn:
// for each column l, for each row m, two triangles.
template <typename MakeVertex>
TSceneVertex* WriteBlock(TSceneVertex* out, int columns, int rows, MakeVertex make) {
    for (int l = 0; l < columns; ++l) {
        for (int m = 0; m < rows; ++m) {
            *out++ = make(l, m);
            *out++ = make(l + 1, m);
            *out++ = make(l, m + 1);
            *out++ = make(l, m + 1);
            *out++ = make(l + 1, m);
            *out++ = make(l + 1, m + 1);
        }
    }
    return out;
}

double PathAngle(std::int64_t elapsedMs, double aheadMs) {
    return 2.0 * Pi * (static_cast<double>(MeasuredDurationMs - elapsedMs) - aheadMs) /
           MeasuredDurationMs;
}

} // namespace

double PolygonRadius(int n) {
    return 5.0 / (2.0 * std::sin(Pi / n));
}

double PathRadius() {
    return (PolygonRadius(20) + PolygonRadius(23)) / 2.0;
}

std::uint32_t SceneVertexCount(int detail) {
    return 240u * static_cast<std::uint32_t>(detail * detail);
}

std::uint32_t FloorBlockStart(int detail) {
    return 90u * static_cast<std::uint32_t>(detail * detail);
}

void WriteSceneGeometry(TSceneVertex* vertices, int detail) {
    const double d = detail;
    TSceneVertex* out = WriteBlock(vertices, 5 * detail, 3 * detail, [d](int i, int j) {
        return TSceneVertex{static_cast<float>(i / d),
                            static_cast<float>(j / d),
                            0.0f,
                            0.0f,
                            0.0f,
                            -1.0f,
                            static_cast<float>(i / (5.0 * d)),
                            static_cast<float>(j / (3.0 * d))};
    });
    WriteBlock(out, 5 * detail, 5 * detail, [d](int i, int j) {
        return TSceneVertex{static_cast<float>(i / d),
                            0.0f,
                            static_cast<float>(j / d),
                            0.0f,
                            1.0f,
                            0.0f,
                            static_cast<float>(i / (5.0 * d)),
                            static_cast<float>(j / (5.0 * d))};
    });
}

int RingWallCount(int ring) {
    return ring == OuterRing ? 24 : 20;
}

int WallTextureIndex(int ring, int wall) {
    return (wall + ring) % (TextureCount - 2);
}

int TileGridSize() {
    return 4 * (static_cast<int>(std::lround(PolygonRadius(20) + 1.0)) / 5 + 1);
}

std::int32_t FrameTriangleCount(int detail) {
    const int tiles = TileGridSize();
    return 2 * tiles * tiles * 50 * detail * detail;
}

double CameraXAt(std::int64_t elapsedMs) {
    return PathRadius() * std::cos(PathAngle(elapsedMs, 0.0)) + SceneCentre;
}

double CameraZAt(std::int64_t elapsedMs) {
    return PathRadius() * std::sin(PathAngle(elapsedMs, 0.0)) + SceneCentre;
}

double CameraYawAt(std::int64_t elapsedMs) {
    return -(2.0 * Pi * static_cast<double>(elapsedMs) / MeasuredDurationMs + Pi / 2.0);
}

double LightXAt(int light, std::int64_t elapsedMs) {
    return PathRadius() * std::cos(PathAngle(elapsedMs, LightSpacingMs * light)) + SceneCentre;
}

double LightZAt(int light, std::int64_t elapsedMs) {
    return PathRadius() * std::sin(PathAngle(elapsedMs, LightSpacingMs * light)) + SceneCentre;
}

D3DLIGHT8 SceneLight(float x, float y, float z) {
    D3DLIGHT8 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Specular = {1, 1, 1, 1};
    light.Ambient = {0, 0, 0, 1};
    light.Position = {x, y, z};
    light.Range = 250;
    light.Attenuation0 = 0;
    light.Attenuation1 = 5;
    light.Attenuation2 = 0;
    return light;
}

void TFrameStats::Reset() {
    S1 = 0;
    S2 = 0;
    SumLog = 0;
    SumSqLog = 0;
    SumMs = 0;
    Shortest = 0xFFFFFFFFu;
    Longest = 0;
}

void TFrameStats::AddFrame(std::uint32_t dt) {
    if (dt == 0)
        dt = 1;
    const double lnDt = std::log(static_cast<double>(dt));
    // The stored sums are rounded once a frame, never the logarithm on its own.
    S1 = static_cast<float>(static_cast<double>(S1) + lnDt);
    S2 = static_cast<float>(static_cast<double>(S2) + lnDt * lnDt);
    SumLog += lnDt;
    SumSqLog += lnDt * lnDt;
    SumMs += dt;
    Shortest = std::min(Shortest, dt);
    Longest = std::max(Longest, dt);
}

std::string TextureCacheFileName(int set, int index) {
    return "Data" + std::to_string(set) + "1" + std::to_string(index) + ".dat";
}

bool ReadTextureCache(const std::string& fileName, void* level) {
    std::FILE* cache = std::fopen(fileName.c_str(), "rb");
    if (cache == nullptr)
        return false;
    // How much was read does not matter: a short file fills only its bytes.
    [[maybe_unused]] const std::size_t read = std::fread(level, 1, TextureCacheBytes, cache);
    std::fclose(cache);
    return true;
}

TFrameStats RunFrameLoop(const TFrameLoopHooks& hooks) {
    TFrameStats stats;
    std::uint32_t t0 = hooks.Clock();
    std::uint32_t frames = 0;
    bool warmed = false;
    bool drawnAny = false;
    for (;;) {
        // A clock that leaps before the first frame must not leave a pass without frames.
        if (drawnAny && hooks.Clock() - t0 > MeasuredDurationMs)
            break;
        if (hooks.Stopped())
            break;
        if (!warmed && frames <= 3) {
            if (frames == 3) {
                warmed = true;
                frames = 0;
            }
            t0 = hooks.Clock();
            stats.Reset();
            if (hooks.FrameTimes != nullptr)
                hooks.FrameTimes->Clear();
        }
        const std::uint32_t tf = hooks.Clock();
        hooks.DrawFrame(t0);
        hooks.AfterFrame();
        ++frames;
        drawnAny = true;
        const std::uint32_t dt = hooks.Clock() - tf;
        stats.AddFrame(dt);
        if (hooks.FrameTimes != nullptr)
            hooks.FrameTimes->Add(dt);
        hooks.PumpMessages();
    }
    // Ended inside the warm-up: the statistics hold only the last warm-up frame.
    stats.N = warmed ? frames : std::min<std::uint32_t>(frames, 1);
    return stats;
}

TBlackSample SampleBlackPoints(const std::uint8_t* pixels, int pitch, int width, int height) {
    TBlackSample sample;
    if (width <= 0 || height <= 0)
        return sample;
    for (int y = 0; y <= (height - 1) / 10; ++y) {
        const auto* row = pixels + static_cast<std::ptrdiff_t>(10 * y) * pitch;
        for (int x = 0; x <= (width - 1) / 10; ++x) {
            const std::uint8_t* p = row + 4 * (10 * x); // blue, green, red, alpha
            ++sample.Total;
            if (p[0] == 0 && p[1] == 0 && p[2] == 0)
                ++sample.Black;
        }
    }
    return sample;
}

std::uint8_t BlackPercentOf(const TBlackSample& sample) {
    if (sample.Total == 0)
        return 0;
    const std::uint64_t scaled = std::uint64_t{sample.Black} * 100;
    std::uint64_t q = scaled / sample.Total;
    const std::uint64_t twiceRest = 2 * (scaled % sample.Total);
    if (twiceRest > sample.Total || (twiceRest == sample.Total && (q & 1) != 0))
        ++q;
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(q, 100));
}

std::uint16_t EmptyFpsFromCount(std::uint64_t emptyFrames) {
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(emptyFrames / 2, 65535));
}

double DaysSince1899(const QDateTime& local) {
    const qint64 days = QDate(1899, 12, 30).daysTo(local.date());
    return static_cast<double>(days) + local.time().msecsSinceStartOfDay() / 86400000.0;
}

double CurrentDateTime() {
    return DaysSince1899(QDateTime::currentDateTime());
}

TResultRecord ResultOfConfiguration(const TTestConfig& test) {
    TResultRecord r{};
    r.TestSet = TestSet;
    r.Width = test.Width;
    r.Height = test.Height;
    r.Depth = test.Depth;
    r.RefreshRate = test.RefreshRate;
    r.HardwareDevice = test.HardwareDevice;
    r.HardwareVertexProcessing = test.HardwareVertexProcessing;
    r.VertexBufferMode = test.VertexBufferMode;
    r.TextureMode = test.TextureMode;
    r.DetailLevel = test.DetailLevel;
    return r;
}

TResultRecord BuildResultRecord(const TTestConfig& test, const TPassMeasurements& pass,
                                double timestamp) {
    const TFrameStats& s = pass.Stats;
    const double n = std::max<std::uint32_t>(s.N, 1);
    const double meanLog = s.SumLog / n;
    const double g = std::exp(meanLog);

    TResultRecord r = ResultOfConfiguration(test);
    r.Timestamp = timestamp;
    r.BlackPercent = pass.BlackPercent;
    r.SumLogFrameTime = s.S1;
    r.SumSqLogFrameTime = s.S2;
    r.TrianglesPerMs = static_cast<float>(pass.TriangleCount / g);
    r.Fps = static_cast<float>(1000.0 / g);
    r.MinFps = static_cast<float>(1000.0 / std::max<std::uint32_t>(s.Longest, 1));
    r.MaxFps = static_cast<float>(1000.0 / std::max<std::uint32_t>(s.Shortest, 1));
    r.FrameTimeSpread =
        static_cast<float>(std::exp(std::sqrt(std::abs(s.SumSqLog / n - meanLog * meanLog))));
    r.FrameCount = s.N;
    r.TotalTimeMs = static_cast<std::int32_t>(
        std::min<std::int64_t>(s.SumMs, std::numeric_limits<std::int32_t>::max()));
    r.EmptyFps = pass.EmptyFps;
    for (int k = 0; k < 4; ++k) {
        r.AvailPhys[k] = pass.AvailPhys[k];
        r.AvailTextureMem[k] = pass.AvailTextureMem[k];
    }
    return r;
}

std::size_t StoreResult(std::vector<TResultRecord>& results, const TResultRecord& record) {
    std::size_t index = results.size();
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (SameResultKey(results[i], record))
            index = i;
    }
    TResultRecord entry = record;
    if (index == results.size()) {
        results.push_back(TResultRecord{});
        entry.RunCount = 1;
        entry.FpsSum = entry.FpsMin = entry.FpsMax = record.Fps;
    } else {
        const TResultRecord& old = results[index];
        // A stored count may come from a merged file of any origin: never wrap it.
        entry.RunCount = old.RunCount < std::numeric_limits<std::int32_t>::max() ? old.RunCount + 1
                                                                                 : old.RunCount;
        entry.FpsSum = old.FpsSum + record.Fps;
        entry.FpsMin = record.Fps < old.FpsMin ? record.Fps : old.FpsMin;
        entry.FpsMax = record.Fps > old.FpsMax ? record.Fps : old.FpsMax;
    }
    results[index] = entry;
    return index;
}
