// The pass's logic without a screen: geometry, camera path, the timing loop with a scripted
// clock, the post-run figures and the recording of results.
#include "bench/PassLogic.h"
#include "support/TempDir.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double Pi = std::numbers::pi;

// ---- Geometry -------------------------------------------------------------------------------

TEST(SceneGeometry, BlocksHaveTheirSizesAndCorners) {
    struct Case {
        int d;
        std::uint32_t vertices;
        std::int32_t triangles;
    };
    for (const Case c : {Case{1, 240, 25600}, Case{4, 3840, 409600}}) {
        SCOPED_TRACE(c.d);
        const float d = static_cast<float>(c.d);
        EXPECT_EQ(SceneVertexCount(c.d), c.vertices);
        EXPECT_EQ(FloorBlockStart(c.d), 90u * c.d * c.d);
        EXPECT_EQ(FrameTriangleCount(c.d), c.triangles);

        // One spare vertex past the end, to catch a writer that runs over.
        std::vector<TSceneVertex> v(c.vertices + 1);
        const TSceneVertex sentinel{9, 9, 9, 9, 9, 9, 9, 9};
        v.back() = sentinel;
        WriteSceneGeometry(v.data(), c.d);
        EXPECT_EQ(std::memcmp(&v.back(), &sentinel, sizeof sentinel), 0);

        const TSceneVertex& first = v[0];
        EXPECT_FLOAT_EQ(first.X, 0);
        EXPECT_FLOAT_EQ(first.Y, 0);
        EXPECT_FLOAT_EQ(first.Z, 0);
        EXPECT_FLOAT_EQ(first.NZ, -1);
        EXPECT_FLOAT_EQ(first.TU, 0);
        EXPECT_FLOAT_EQ(first.TV, 0);
        const TSceneVertex& sixth = v[5];
        EXPECT_FLOAT_EQ(sixth.X, 1 / d);
        EXPECT_FLOAT_EQ(sixth.Y, 1 / d);
        EXPECT_FLOAT_EQ(sixth.Z, 0);
        EXPECT_FLOAT_EQ(sixth.TU, 1 / (5 * d));
        EXPECT_FLOAT_EQ(sixth.TV, 1 / (3 * d));
        // The second triangle's first vertex is grid point (0, 1): rows run inside columns.
        EXPECT_FLOAT_EQ(v[3].X, 0);
        EXPECT_FLOAT_EQ(v[3].Y, 1 / d);
        // The wall block ends at its far corner (5, 3).
        const TSceneVertex& wallEnd = v[FloorBlockStart(c.d) - 1];
        EXPECT_FLOAT_EQ(wallEnd.X, 5);
        EXPECT_FLOAT_EQ(wallEnd.Y, 3);
        EXPECT_FLOAT_EQ(wallEnd.TU, 1);
        EXPECT_FLOAT_EQ(wallEnd.TV, 1);

        const TSceneVertex& floor = v[FloorBlockStart(c.d)];
        EXPECT_FLOAT_EQ(floor.X, 0);
        EXPECT_FLOAT_EQ(floor.NY, 1);
        EXPECT_FLOAT_EQ(floor.NZ, 0);
        const TSceneVertex& floorSixth = v[FloorBlockStart(c.d) + 5];
        EXPECT_FLOAT_EQ(floorSixth.X, 1 / d);
        EXPECT_FLOAT_EQ(floorSixth.Y, 0);
        EXPECT_FLOAT_EQ(floorSixth.Z, 1 / d);
        EXPECT_FLOAT_EQ(floorSixth.TV, 1 / (5 * d));
        const TSceneVertex& floorEnd = v[c.vertices - 1];
        EXPECT_FLOAT_EQ(floorEnd.X, 5);
        EXPECT_FLOAT_EQ(floorEnd.Z, 5);
        EXPECT_FLOAT_EQ(floorEnd.TU, 1);
        EXPECT_FLOAT_EQ(floorEnd.TV, 1);
    }
}

TEST(SceneGeometry, RingsTilesAndTextures) {
    EXPECT_EQ(RingWallCount(OuterRing), 24);
    EXPECT_EQ(RingWallCount(InnerRing), 20);
    EXPECT_EQ(WallTextureIndex(OuterRing, 0), 1);
    EXPECT_EQ(WallTextureIndex(InnerRing, 0), 0);
    EXPECT_EQ(WallTextureIndex(OuterRing, 23), 0);
    EXPECT_EQ(WallTextureIndex(InnerRing, 3), 3);
    EXPECT_EQ(TileGridSize(), 16);
    EXPECT_NEAR(PathRadius(), 17.1705, 1e-4);
}

TEST(SceneGeometry, CameraAndLightsGoRoundTheCorridor) {
    const double r = PathRadius();
    EXPECT_NEAR(CameraXAt(0), 100 + r, 1e-9);
    EXPECT_NEAR(CameraZAt(0), 100, 1e-9);
    EXPECT_NEAR(CameraYawAt(0), -Pi / 2, 1e-12); // looking towards -Z
    EXPECT_NEAR(CameraXAt(3500), 100 - r, 1e-9);
    EXPECT_NEAR(CameraZAt(3500), 100, 1e-9);
    EXPECT_NEAR(CameraYawAt(3500), -(Pi + Pi / 2), 1e-12);
    // A quarter of the way the angle has fallen to 3/2 pi: the camera is at -Z of the centre,
    // moving the way the yaw at e = 0 looks.
    EXPECT_NEAR(CameraZAt(1750), 100 - r, 1e-9);
    for (int s = 0; s < LightCount; ++s) {
        SCOPED_TRACE(s);
        // Light s is where the camera will be 150.1 s ms later.
        EXPECT_NEAR(LightXAt(s, 1000), 100 + r * std::cos(2 * Pi * (6000 - 150.1 * s) / 7000),
                    1e-9);
        EXPECT_NEAR(LightZAt(s, 1000), 100 + r * std::sin(2 * Pi * (6000 - 150.1 * s) / 7000),
                    1e-9);
    }
    EXPECT_DOUBLE_EQ(LightXAt(0, 1234), CameraXAt(1234));
    EXPECT_DOUBLE_EQ(LightZAt(0, 1234), CameraZAt(1234));

    const D3DLIGHT8 light = SceneLight(1, 2, 3);
    EXPECT_EQ(light.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(light.Range, 250);
    EXPECT_FLOAT_EQ(light.Attenuation1, 5);
    EXPECT_FLOAT_EQ(light.Attenuation0, 0);
    EXPECT_FLOAT_EQ(light.Ambient.a, 1);
    EXPECT_FLOAT_EQ(light.Ambient.r, 0);
    EXPECT_FLOAT_EQ(light.Diffuse.g, 1);
    EXPECT_FLOAT_EQ(light.Position.z, 3);
}

TEST(TextureCache, FullFileReplacesShortFileFillsItsBytes) {
    EXPECT_EQ(TextureCacheFileName(1, 0), "Data110.dat");
    EXPECT_EQ(TextureCacheFileName(1, 5), "Data115.dat");

    TempDir dir(true);
    // One spare byte past the level: a read must never go beyond 4 MiB.
    std::vector<std::uint8_t> level(TextureCacheBytes + 1, 0xAA);
    EXPECT_FALSE(ReadTextureCache("Data110.dat", level.data()));
    EXPECT_EQ(level[0], 0xAA);

    {
        std::ofstream full("Data111.dat", std::ios::binary);
        const std::vector<char> bytes(TextureCacheBytes + 100, 0x11);
        full.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    EXPECT_TRUE(ReadTextureCache("Data111.dat", level.data()));
    EXPECT_EQ(level[0], 0x11);
    EXPECT_EQ(level[TextureCacheBytes - 1], 0x11);
    EXPECT_EQ(level[TextureCacheBytes], 0xAA);

    {
        std::ofstream shortFile("Data112.dat", std::ios::binary);
        shortFile.write("\x22\x22\x22", 3);
    }
    EXPECT_TRUE(ReadTextureCache("Data112.dat", level.data()));
    EXPECT_EQ(level[2], 0x22);
    EXPECT_EQ(level[3], 0x11);
}

// ---- Timing loop ----------------------------------------------------------------------------

// A scripted clock: every frame lasts what the script says (the last entry repeats); the
// clock moves only while a frame is drawn.
struct ScriptedRun {
    explicit ScriptedRun(std::vector<std::uint32_t> frames) : frameMs(std::move(frames)) {}

    std::vector<std::uint32_t> frameMs;
    std::uint32_t now = 1000;
    std::uint32_t drawn = 0;
    std::uint32_t afterFrames = 0;
    std::uint32_t pumps = 0;
    std::uint32_t stopAfterDrawn = 0; // 0 = never
    bool stop = false;
    std::vector<std::uint32_t> t0s;

    TFrameStats Run() {
        TFrameLoopHooks hooks;
        hooks.Clock = [this] { return now; };
        hooks.DrawFrame = [this](std::uint32_t t0) {
            t0s.push_back(t0);
            now += frameMs[std::min<std::size_t>(drawn, frameMs.size() - 1)];
            ++drawn;
        };
        hooks.AfterFrame = [this] { ++afterFrames; };
        hooks.PumpMessages = [this] {
            ++pumps;
            if (stopAfterDrawn != 0 && drawn == stopAfterDrawn)
                stop = true;
        };
        hooks.Stopped = [this] { return stop; };
        return RunFrameLoop(hooks);
    }
};

TEST(FrameLoop, WarmsUpThenMeasuresSevenSeconds) {
    ScriptedRun run{{500, 500, 500, 20}};
    const TFrameStats s = run.Run();
    // 20 ms frames from the fourth on: the 351st ends past 7000 ms after its start.
    EXPECT_EQ(s.N, 351u);
    EXPECT_EQ(run.drawn, 354u);
    EXPECT_EQ(run.afterFrames, run.drawn);
    EXPECT_EQ(run.pumps, run.drawn);
    EXPECT_EQ(s.SumMs, 7020);
    EXPECT_EQ(s.Shortest, 20u);
    EXPECT_EQ(s.Longest, 20u); // the 500 ms warm-up frames are not measured
    EXPECT_NEAR(s.S1, 351 * std::log(20.0), 1e-2);
    EXPECT_NEAR(s.S2, 351 * std::log(20.0) * std::log(20.0), 5e-2);
    // The clock restarts before each warm-up frame and the first measured one, then stays.
    ASSERT_GE(run.t0s.size(), 5u);
    EXPECT_EQ(run.t0s[0], 1000u);
    EXPECT_EQ(run.t0s[1], 1500u);
    EXPECT_EQ(run.t0s[3], 2500u);
    EXPECT_EQ(run.t0s.back(), 2500u);
}

TEST(FrameLoop, ZeroMillisecondFrameCountsAsOne) {
    ScriptedRun run{{5, 5, 5, 0, 7001}};
    const TFrameStats s = run.Run();
    EXPECT_EQ(s.N, 2u);
    EXPECT_EQ(s.Shortest, 1u);
    EXPECT_EQ(s.Longest, 7001u);
    EXPECT_EQ(s.SumMs, 7002);
    EXPECT_NEAR(s.S1, std::log(7001.0), 1e-4); // ln 1 = 0
}

// The stored sums take each frame's logarithm unrounded: one rounding to float per frame, of
// the sum. Rounding ln 3, ln 7 and their squares to float first ends one unit lower in both.
TEST(FrameStats, StoredSumsAreRoundedOncePerFrame) {
    TFrameStats s;
    s.AddFrame(3);
    s.AddFrame(7);
    EXPECT_EQ(s.S1, 0x1.85b2eap+1f);
    EXPECT_EQ(s.S2, 0x1.3f95c2p+2f);
    EXPECT_DOUBLE_EQ(s.SumLog, std::log(21.0));
}

TEST(FrameLoop, LongFramesEndTheRunWithOneMeasuredFrame) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> frames;
        std::uint32_t drawn;
        std::uint32_t measuredMs;
    };
    const Case cases[] = {
        {"fourth frame", {10, 10, 10, 8000}, 4, 8000},
        // Inside the warm-up: the statistics hold the last frame; N agrees with them.
        {"first warm-up frame", {7500}, 1, 7500},
        {"second warm-up frame", {10, 9000}, 2, 9000},
        {"third warm-up frame", {10, 10, 7001}, 3, 7001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun run{c.frames};
        const TFrameStats s = run.Run();
        EXPECT_EQ(run.drawn, c.drawn);
        EXPECT_EQ(s.N, 1u);
        EXPECT_EQ(s.SumMs, c.measuredMs);
        EXPECT_EQ(s.Shortest, c.measuredMs);
        EXPECT_EQ(s.Longest, c.measuredMs);
        EXPECT_NEAR(s.S1, std::log(double(c.measuredMs)), 1e-4);
    }
}

TEST(FrameLoop, StopFlagLetsTheCurrentFrameCount) {
    ScriptedRun run{{10}};
    run.stopAfterDrawn = 8; // Esc seen at the pump after the fifth measured frame
    const TFrameStats s = run.Run();
    EXPECT_EQ(run.drawn, 8u);
    EXPECT_EQ(s.N, 5u);

    ScriptedRun early{{10}};
    early.stopAfterDrawn = 2; // during the warm-up
    early.Run();
    EXPECT_EQ(early.drawn, 2u);

    ScriptedRun before{{10}};
    before.stop = true; // Esc before the loop: nothing is drawn
    before.Run();
    EXPECT_EQ(before.drawn, 0u);
}

TEST(FrameLoop, ClockWrapDoesNotEndTheRun) {
    ScriptedRun run{{20}};
    run.now = 0xFFFFFFFFu - 3000; // the tick count wraps during measuring
    const TFrameStats s = run.Run();
    EXPECT_EQ(s.N, 351u);
}

// ---- Post-run figures and the record ------------------------------------------------------

TEST(PostRun, SampleCountsOnTheTenPixelGrid) {
    struct Case {
        int w, h;
        std::uint32_t points;
    };
    for (const Case c : {Case{640, 480, 3072}, Case{1024, 768, 7931}, Case{1, 1, 1}}) {
        SCOPED_TRACE(c.w);
        const int pitch = c.w * 4 + 12; // a wider pitch than the row
        std::vector<std::uint8_t> black(static_cast<std::size_t>(pitch) * c.h, 0);
        for (std::size_t i = 3; i < black.size(); i += 4)
            black[i] = 0xFF; // alpha does not make a point coloured
        TBlackSample s = SampleBlackPoints(black.data(), pitch, c.w, c.h);
        EXPECT_EQ(s.Total, c.points);
        EXPECT_EQ(s.Black, c.points);
        EXPECT_EQ(BlackPercentOf(s), 100);

        // Off-grid colour changes nothing; one grid point with only blue set is not black.
        std::vector<std::uint8_t> picture = black;
        if (c.w > 1)
            picture[4 * 1] = 0x80;
        picture[0] = 0x01;
        s = SampleBlackPoints(picture.data(), pitch, c.w, c.h);
        EXPECT_EQ(s.Black, c.points - 1);
    }
}

TEST(PostRun, BlackPercentRoundsHalvesToEven) {
    struct Case {
        std::uint32_t black, total;
        int percent;
    };
    const Case cases[] = {{3072, 3072, 100}, {1, 3072, 0},     {0, 3072, 0},     {1, 200, 0},
                          {3, 200, 2},       {5, 8, 62},       {7, 8, 88},       {1, 3, 33},
                          {2, 3, 67},        {1536, 3072, 50}, {7931, 7931, 100}};
    for (const Case c : cases) {
        SCOPED_TRACE(testing::Message() << c.black << "/" << c.total);
        EXPECT_EQ(BlackPercentOf(TBlackSample{c.total, c.black}), c.percent);
    }
}

TEST(PostRun, EmptyFpsHalvesAndSaturates) {
    struct Case {
        std::uint64_t k;
        std::uint16_t fps;
    };
    for (const Case c : {Case{0, 0}, Case{121, 60}, Case{131071, 65535}, Case{131072, 65535},
                         Case{std::uint64_t{1} << 40, 65535}}) {
        SCOPED_TRACE(c.k);
        EXPECT_EQ(EmptyFpsFromCount(c.k), c.fps);
    }
}

TTestConfig Config(std::uint16_t refresh = 0) {
    return TTestConfig{640, 480, 32, refresh, 1, 0, 2, 2, 4};
}

TPassMeasurements OneFrameOf(std::uint32_t ms) {
    TPassMeasurements pass;
    pass.Stats.Reset();
    pass.Stats.AddFrame(ms);
    pass.Stats.N = 1;
    pass.TriangleCount = FrameTriangleCount(4);
    pass.BlackPercent = 7;
    pass.EmptyFps = 300;
    for (int k = 0; k < 4; ++k) {
        pass.AvailPhys[k] = 1000u + k;
        pass.AvailTextureMem[k] = 2000u + k;
    }
    return pass;
}

TEST(Recording, OneTwentyMillisecondFrame) {
    const TResultRecord r = BuildResultRecord(Config(75), OneFrameOf(20), 46000.5);
    EXPECT_FLOAT_EQ(r.Fps, 50);
    EXPECT_FLOAT_EQ(r.MinFps, 50);
    EXPECT_FLOAT_EQ(r.MaxFps, 50);
    EXPECT_FLOAT_EQ(r.FrameTimeSpread, 1);
    EXPECT_FLOAT_EQ(r.TrianglesPerMs, 409600.0f / 20);
    EXPECT_EQ(r.FrameCount, 1u);
    EXPECT_EQ(r.TotalTimeMs, 20);
    EXPECT_DOUBLE_EQ(r.Timestamp, 46000.5);
    EXPECT_EQ(r.TestSet, 1);
    EXPECT_EQ(r.BlackPercent, 7);
    EXPECT_EQ(r.EmptyFps, 300);
    EXPECT_EQ(r.AvailPhys[3], 1003u);
    EXPECT_EQ(r.AvailTextureMem[0], 2000u);
    EXPECT_EQ(r.RunCount, 0); // aggregates are the store's business
    // Bytes 10..22 are the configuration as it stands, RefreshRate included.
    const TTestConfig config = Config(75);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const std::uint8_t*>(&r) + 10, &config, 13), 0);
    EXPECT_EQ(r.Reserved1, 0);
    EXPECT_EQ(r.Reserved2, 0);
}

TEST(Recording, SpreadAndMeansOfMixedFrames) {
    TPassMeasurements pass = OneFrameOf(10);
    pass.Stats.AddFrame(40);
    pass.Stats.N = 2;
    const TResultRecord r = BuildResultRecord(Config(), pass, 0);
    EXPECT_NEAR(r.Fps, 50, 1e-3);            // geometric mean 20 ms
    EXPECT_NEAR(r.FrameTimeSpread, 2, 1e-3); // one doubling either way
    EXPECT_FLOAT_EQ(r.MinFps, 25);
    EXPECT_FLOAT_EQ(r.MaxFps, 100);
    EXPECT_EQ(r.TotalTimeMs, 50);
    EXPECT_TRUE(std::isfinite(r.TrianglesPerMs));

    pass.Stats.SumMs = std::int64_t{1} << 40; // a sum past 32 bits saturates
    EXPECT_EQ(BuildResultRecord(Config(), pass, 0).TotalTimeMs,
              std::numeric_limits<std::int32_t>::max());
}

TResultRecord WithFps(TTestConfig config, float fps) {
    TPassMeasurements pass = OneFrameOf(static_cast<std::uint32_t>(std::lround(1000 / fps)));
    return BuildResultRecord(config, pass, fps);
}

TEST(Recording, StoreAddsThenUpdatesAggregates) {
    std::vector<TResultRecord> list;
    EXPECT_EQ(StoreResult(list, WithFps(Config(), 50)), 0u);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].RunCount, 1);
    EXPECT_FLOAT_EQ(list[0].FpsSum, 50);
    EXPECT_FLOAT_EQ(list[0].FpsMin, 50);
    EXPECT_FLOAT_EQ(list[0].FpsMax, 50);

    // Same key apart from RefreshRate: the entry is updated, all else from the second pass.
    EXPECT_EQ(StoreResult(list, WithFps(Config(60), 100)), 0u);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].RunCount, 2);
    EXPECT_FLOAT_EQ(list[0].FpsSum, 150);
    EXPECT_FLOAT_EQ(list[0].FpsMin, 50);
    EXPECT_FLOAT_EQ(list[0].FpsMax, 100);
    EXPECT_FLOAT_EQ(list[0].Fps, 100);
    EXPECT_EQ(list[0].RefreshRate, 60);
    EXPECT_DOUBLE_EQ(list[0].Timestamp, 100);

    EXPECT_EQ(StoreResult(list, WithFps(Config(), 25)), 0u);
    EXPECT_EQ(list[0].RunCount, 3);
    EXPECT_FLOAT_EQ(list[0].FpsMin, 25);
    EXPECT_FLOAT_EQ(list[0].FpsMax, 100);

    // Any other key field makes a new entry.
    TTestConfig other = Config();
    other.HardwareVertexProcessing = 1;
    EXPECT_EQ(StoreResult(list, WithFps(other, 40)), 1u);
    other = Config();
    other.DetailLevel = 1;
    EXPECT_EQ(StoreResult(list, WithFps(other, 40)), 2u);
    EXPECT_EQ(list.size(), 3u);
}

TEST(Recording, LaterOfTwoEqualKeysIsUpdated) {
    std::vector<TResultRecord> list;
    TResultRecord first = WithFps(Config(), 10);
    first.RunCount = 5;
    TTestConfig other = Config();
    other.Depth = 16;
    TResultRecord between = WithFps(other, 30);
    between.RunCount = 1;
    TResultRecord second = WithFps(Config(), 20);
    second.RunCount = 1;
    second.FpsSum = second.FpsMin = second.FpsMax = 20;
    list = {first, between, second};

    EXPECT_EQ(StoreResult(list, WithFps(Config(), 40)), 2u);
    EXPECT_EQ(std::memcmp(&list[0], &first, sizeof first), 0);
    EXPECT_EQ(std::memcmp(&list[1], &between, sizeof between), 0);
    EXPECT_EQ(list[2].RunCount, 2);
    EXPECT_FLOAT_EQ(list[2].FpsSum, 60);
    EXPECT_FLOAT_EQ(list[2].FpsMax, 40);
}

TEST(Recording, RunCountFromAStrangeFileDoesNotWrap) {
    TResultRecord stored = WithFps(Config(), 10);
    stored.RunCount = std::numeric_limits<std::int32_t>::max();
    std::vector<TResultRecord> list{stored};
    StoreResult(list, WithFps(Config(), 20));
    EXPECT_EQ(list[0].RunCount, std::numeric_limits<std::int32_t>::max());
}

// Local days since 30 December 1899, the fraction the time of day, against the C library's
// clock and time zone: the Unix epoch is day 25,569.
TEST(Recording, TimestampIsLocalDaysSince1899) {
    // The day count of known local times: the epoch and the fraction.
    const struct {
        QDateTime local;
        double days;
    } known[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(1900, 1, 1), QTime(18, 0)), 2.75},
        {QDateTime(QDate(2026, 12, 10), QTime(12, 0, 1)), 46366 + 43201.0 / 86400},
    };
    for (const auto& k : known)
        EXPECT_DOUBLE_EQ(DaysSince1899(k.local), k.days) << k.local.toString().toStdString();

    for (const char* zone : {"UTC0", "MSK-3", "EST5"}) {
        SCOPED_TRACE(zone);
        const char* saved = std::getenv("TZ");
        const std::string savedZone = saved != nullptr ? saved : "";
        setenv("TZ", zone, 1);
        tzset();
        // The bounds come from the clock the stamp comes from, so they hold to the millisecond.
        const QDateTime before = QDateTime::currentDateTime();
        const double stamp = CurrentDateTime();
        const QDateTime after = QDateTime::currentDateTime();
        // The zone's own reckoning of local time, from the C library, whole seconds.
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        const double cDays = 25569.0 + static_cast<double>(now + local.tm_gmtoff) / 86400.0;
        if (saved != nullptr)
            setenv("TZ", savedZone.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        EXPECT_GE(stamp, DaysSince1899(before));
        EXPECT_LE(stamp, DaysSince1899(after));
        // A wrong zone is hours away; the two clocks are never more than a few seconds apart.
        EXPECT_NEAR(stamp, cDays, 5.0 / 86400);
    }
}

} // namespace
