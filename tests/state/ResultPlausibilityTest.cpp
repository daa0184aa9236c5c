#include "state/ResultPlausibility.h"
#include "StoreFixture.h"

#include <cmath>
#include <functional>
#include <limits>

namespace {

constexpr double Latest = 47000; // 4 September 2028
constexpr float Inf = std::numeric_limits<float>::infinity();

// A result as a pass of 20 ms frames with a few of 21 ms records it at 1024 x 768 x 32.
TResultRecord Measured() {
    return MakeResult(46000.5, 1024, 768, 32, 49.3f);
}

TResultRecord Changed(const std::function<void(TResultRecord&)>& change,
                      TResultRecord r = Measured()) {
    change(r);
    return r;
}

} // namespace

// The figures of a real record of this machine's software renderer (from a pass at 640 x 480
// x 32 in full software emulation), and the same record updated by a second run.
TEST(ResultPlausibility, RecordsOfRealPassesAreBelieved) {
    TResultRecord real{};
    real.Timestamp = 46366.67837210648;
    real.TestSet = 1;
    real.Width = 640;
    real.Height = 480;
    real.Depth = 32;
    real.VertexBufferMode = 2;
    real.TextureMode = 2;
    real.DetailLevel = 4;
    real.SumLogFrameTime = 540.1393f;
    real.SumSqLogFrameTime = 2120.1108f;
    real.TrianglesPerMs = 8175.384f;
    real.Fps = 19.959433f;
    real.MinFps = 12.820513f;
    real.MaxFps = 43.47826f;
    real.FrameTimeSpread = 1.2313635f;
    real.FrameCount = 138;
    real.TotalTimeMs = 7042;
    real.EmptyFps = 123;
    real.FpsSum = real.FpsMin = real.FpsMax = real.Fps;
    real.RunCount = 1;
    EXPECT_EQ(JudgeResult(real, Latest), TImplausible::None);

    TResultRecord second = real;
    second.RunCount = 2;
    second.FpsSum = real.Fps + 21.5f;
    second.FpsMax = 21.5f;
    EXPECT_EQ(JudgeResult(second, Latest), TImplausible::None);
}

// The records that tools and tests make believe themselves, over the whole range of rates and
// both detail levels, in every configuration the program runs.
TEST(ResultPlausibility, SteadyPassesAreBelieved) {
    for (const double fps : {0.0122, 1 / 7.0, 0.5, 1.0, 13.7, 49.3, 60.0, 333.3, 999.0, 1000.0})
        for (const std::uint8_t detail : {TestDetailLevel, PresentationDetailLevel})
            for (const auto& [device, vertices] : {std::pair{1, 1}, {1, 0}, {0, 0}}) {
                TResultRecord config = MakeResult(46000, 1600, 1200, 16, 1, detail);
                config.HardwareDevice = static_cast<std::uint8_t>(device);
                config.HardwareVertexProcessing = static_cast<std::uint8_t>(vertices);
                const TResultRecord r = SteadyPassResult(config, fps, 46000);
                SCOPED_TRACE(testing::Message() << fps << " fps, detail " << int{detail});
                EXPECT_EQ(JudgeResult(r, Latest), TImplausible::None);
                EXPECT_NEAR(r.Fps, fps, fps * 1e-6);
                EXPECT_NEAR(r.TrianglesPerMs, fps * TrianglesPerFrame(detail) / 1000,
                            r.TrianglesPerMs * 1e-6);
            }
}

TEST(ResultPlausibility, EachFieldOutOfItsDomain) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct Case {
        const char* Name;
        TResultRecord Record;
        TImplausible Why;
    } cases[] = {
        {"timestamp NaN", Changed([](auto& r) { r.Timestamp = NAN; }), TImplausible::Timestamp},
        {"timestamp infinite", Changed([](auto& r) { r.Timestamp = INFINITY; }),
         TImplausible::Timestamp},
        {"timestamp 1e308", Changed([](auto& r) { r.Timestamp = 1e308; }), TImplausible::Timestamp},
        {"timestamp after the latest", Changed([](auto& r) { r.Timestamp = Latest + 0.01; }),
         TImplausible::Timestamp},
        {"timestamp in 1999", Changed([](auto& r) { r.Timestamp = 36525; }),
         TImplausible::Timestamp},
        {"test set 2", Changed([](auto& r) { r.TestSet = 2; }), TImplausible::TestSet},
        {"reserved byte 9", Changed([](auto& r) { r.Reserved1 = 1; }), TImplausible::ReservedBytes},
        {"reserved bytes 62..63", Changed([](auto& r) { r.Reserved2 = 0x100; }),
         TImplausible::ReservedBytes},
        {"64511 x 64767", Changed([](auto& r) { r.Width = 64511, r.Height = 64767; }),
         TImplausible::DisplayMode},
        {"640 x 600", Changed([](auto& r) { r.Height = 600; }), TImplausible::DisplayMode},
        {"depth 24", Changed([](auto& r) { r.Depth = 24; }), TImplausible::DisplayMode},
        {"emulation with hardware vertices",
         Changed([](auto& r) { r.HardwareDevice = 0, r.HardwareVertexProcessing = 1; }),
         TImplausible::Acceleration},
        {"device code 2", Changed([](auto& r) { r.HardwareDevice = 2; }),
         TImplausible::Acceleration},
        {"vertex processing code 2", Changed([](auto& r) { r.HardwareVertexProcessing = 2; }),
         TImplausible::Acceleration},
        {"vertex buffer pool 3", Changed([](auto& r) { r.VertexBufferMode = 3; }),
         TImplausible::MemoryPool},
        {"texture pool 255", Changed([](auto& r) { r.TextureMode = 255; }),
         TImplausible::MemoryPool},
        {"detail level 2", Changed([](auto& r) { r.DetailLevel = 2; }), TImplausible::DetailLevel},
        {"refresh rate 5000", Changed([](auto& r) { r.RefreshRate = 5000; }),
         TImplausible::RefreshRate},
        {"black 101 %", Changed([](auto& r) { r.BlackPercent = 101; }), TImplausible::BlackPercent},
        {"infinite triangles per ms", Changed([](auto& r) { r.TrianglesPerMs = Inf; }),
         TImplausible::NotFinite},
        {"NaN spread", Changed([nan](auto& r) { r.FrameTimeSpread = nan; }),
         TImplausible::NotFinite},
        {"infinite run maximum", Changed([](auto& r) { r.FpsMax = Inf; }), TImplausible::NotFinite},
        {"run count 0", Changed([](auto& r) { r.RunCount = 0; }), TImplausible::RunCount},
        {"run count -2", Changed([](auto& r) { r.RunCount = -2; }), TImplausible::RunCount},
        {"no frames", Changed([](auto& r) { r.FrameCount = 0; }), TImplausible::FrameCount},
    };
    EXPECT_EQ(JudgeResult(Measured(), Latest), TImplausible::None);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(JudgeResult(c.Record, Latest), c.Why);
    }
}

// Figures that each lie in their domain but disagree with the others, as a forger who edits
// one number, or a flipped byte, leaves them.
TEST(ResultPlausibility, DisagreeingFigures) {
    const struct Case {
        const char* Name;
        TResultRecord Record;
        TImplausible Why;
    } cases[] = {
        {"triangles per ms raised alone", Changed([](auto& r) { r.TrianglesPerMs = 3.4e38f; }),
         TImplausible::Triangles},
        {"triangles per ms of 1e30 with a matching frame rate",
         Changed([](auto& r) { r.TrianglesPerMs = 1e30f, r.Fps = 1e30f / 409.6f; }),
         TImplausible::FrameRate},
        {"triangles per ms lowered to 0.01", Changed([](auto& r) { r.TrianglesPerMs = 0.01f; }),
         TImplausible::Triangles},
        {"triangles per ms of a presentation at test detail",
         Changed([](auto& r) { r.DetailLevel = 1; }), TImplausible::Triangles},
        {"frame rate raised with its triangles",
         Changed([](auto& r) { r.Fps *= 2, r.TrianglesPerMs *= 2; }), TImplausible::FrameRate},
        {"frame rate and sums raised together past the shortest frame", Changed([](auto& r) {
             r.SumLogFrameTime = 0;
             r.SumSqLogFrameTime = 0;
             r.Fps = r.FpsSum = r.FpsMin = r.FpsMax = 1000;
             r.TrianglesPerMs = 409600;
         }),
         TImplausible::FrameTimes},
        {"a shortest frame of 2.5 ms", Changed([](auto& r) { r.MaxFps = 400; }),
         TImplausible::FrameTimes},
        {"shortest frame longer than the longest",
         Changed([](auto& r) { std::swap(r.MinFps, r.MaxFps); }), TImplausible::FrameTimes},
        {"total time below count times shortest",
         Changed([](auto& r) { r.TotalTimeMs = static_cast<std::int32_t>(r.FrameCount) * 19; }),
         TImplausible::FrameTimes},
        {"total time far past the seven seconds", Changed([](auto& r) { r.TotalTimeMs = 70000; }),
         TImplausible::FrameTimes},
        {"negative total time", Changed([](auto& r) { r.TotalTimeMs = -7000; }),
         TImplausible::FrameTimes},
        {"frame count doubled", Changed([](auto& r) { r.FrameCount *= 2; }),
         TImplausible::FrameTimes},
        {"negative sum of logarithms", Changed([](auto& r) { r.SumLogFrameTime = -1; }),
         TImplausible::FrameTimes},
        {"spread below 1", Changed([](auto& r) { r.FrameTimeSpread = 0.5f; }),
         TImplausible::Spread},
        {"spread wider than the frame times allow", Changed([](auto& r) { r.FrameTimeSpread = 3; }),
         TImplausible::Spread},
        {"squares of the logarithms changed",
         Changed([](auto& r) { r.SumSqLogFrameTime *= 1.01f; }), TImplausible::Spread},
        {"run sum of one run differs from its rate", Changed([](auto& r) { r.FpsSum = 60; }),
         TImplausible::RunStatistics},
        {"run minimum above the latest rate",
         Changed([](auto& r) { r.RunCount = 2, r.FpsMin = r.Fps + 1, r.FpsSum = 2 * r.FpsMin; }),
         TImplausible::RunStatistics},
        {"run sum above count times maximum",
         Changed([](auto& r) { r.RunCount = 3, r.FpsSum = 4 * r.FpsMax; }),
         TImplausible::RunStatistics},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(JudgeResult(c.Record, Latest), c.Why);
    }
}

TEST(ResultPlausibility, ComputerRecords) {
    const std::vector<TStringSlot> lines = {Scrambled("  chip"), Scrambled("Host bridge"),
                                            Scrambled("  video")};
    const auto changed = [](const std::function<void(TComputerRecord&)>& change) {
        TComputerRecord computer = MakeComputer("A");
        change(computer);
        return computer;
    };
    const struct Case {
        const char* Name;
        TComputerRecord Computer;
        std::vector<TStringSlot> Lines;
        TImplausible Why;
    } cases[] = {
        {"as identified", MakeComputer("A"), lines, TImplausible::None},
        {"no Direct3D at all", changed([](auto& c) { c.HalCaps = {}, c.RefCaps = {}; }), lines,
         TImplausible::None},
        {"memory n/d", changed([](auto& c) { c.MemoryMB = Scrambled("n/d"); }), lines,
         TImplausible::None},
        {"record tag 2", changed([](auto& c) { c.RecordTag = Scrambled("2"); }), lines,
         TImplausible::RecordTag},
        {"escape in the owner", changed([](auto& c) { c.Owner = Scrambled("root\x1b[2J"); }), lines,
         TImplausible::ControlCharacter},
        {"DEL in the adapter", changed([](auto& c) { c.VideoAdapter = Scrambled("GPU\x7f"); }),
         lines, TImplausible::ControlCharacter},
        {"a damaged device line",
         MakeComputer("A"),
         {Scrambled("  chip\x01")},
         TImplausible::ControlCharacter},
        {"flipped byte in a scrambled text", changed([](auto& c) { c.Processor[5] ^= 0x5A; }),
         lines, TImplausible::ControlCharacter},
        {"memory in words", changed([](auto& c) { c.MemoryMB = Scrambled("lots"); }), lines,
         TImplausible::MemoryText},
        {"HAL block of a REF device",
         changed([](auto& c) { c.HalCaps.DeviceType = D3DDEVTYPE_REF; }), lines,
         TImplausible::Capabilities},
        {"capabilities without a device type",
         changed([](auto& c) { c.HalCaps.DeviceType = static_cast<D3DDEVTYPE>(0); }), lines,
         TImplausible::Capabilities},
        {"second adapter", changed([](auto& c) { c.HalCaps.AdapterOrdinal = 1; }), lines,
         TImplausible::Capabilities},
        {"every registry subkey of both classes", MakeComputer("A"),
         std::vector<TStringSlot>(MaxDeviceLines, Scrambled("Device")), TImplausible::None},
        {"one line more than that", MakeComputer("A"),
         std::vector<TStringSlot>(MaxDeviceLines + 1, Scrambled("Device")),
         TImplausible::DeviceLines},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(JudgeComputer(c.Computer, c.Lines), c.Why);
    }
}

// The latest plausible time is tomorrow at this time of day.
TEST(ResultPlausibility, LatestTimestampIsADayAhead) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const double latest = LatestPlausibleTimestamp();
    const double dayFraction = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
    EXPECT_NEAR(latest - std::floor(latest), dayFraction, 2 / 86400.0);
    // 11 December 2026 is day 46367; the clock of a test machine is not older.
    EXPECT_GT(latest, 46367);
}
