#include "ServerFixture.h"
#include "state/ResultPlausibility.h"

#include "platform/Cp1251.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <stdexcept>
#include <unistd.h>

std::string ServerProgram() {
    return STENDO_SERVER_PROGRAM;
}

namespace {

// The test programs end without exit-time destructors (support/TestMain.cpp), so the cluster
// is stopped, and its folder removed, when the tests have run.
class ClusterEnvironment : public testing::Environment {
public:
    PostgresCluster& Cluster() {
        if (!cluster_)
            cluster_ = std::make_unique<PostgresCluster>(STENDO_PG_BINDIR,
                                                         "-c fsync=off -c max_connections=200");
        return *cluster_;
    }
    void TearDown() override { cluster_.reset(); }

private:
    std::unique_ptr<PostgresCluster> cluster_;
};

ClusterEnvironment* const Environment =
    static_cast<ClusterEnvironment*>(testing::AddGlobalTestEnvironment(new ClusterEnvironment));

} // namespace

PostgresCluster& SharedCluster() {
    return Environment->Cluster();
}

TStringSlot Scrambled(const std::string& text) {
    return ScrambleText(MakeStringSlot(Utf8ToCp1251(text)));
}

TComputerRecord TestComputer(const std::string& processor, const std::string& adapter,
                             int capability) {
    TComputerRecord computer{};
    computer.Processor = Scrambled(processor);
    computer.VideoAdapter = Scrambled(adapter);
    computer.Chipset = Scrambled("Host bridge");
    computer.MemoryMB = Scrambled("8192");
    computer.OSName = Scrambled("Debian GNU/Linux 12");
    computer.Owner = Scrambled("Иван Петров");
    computer.TimeZone = Scrambled("Europe/Moscow (Bias=3)");
    computer.RecordTag = Scrambled("1");
    if (capability < 2) {
        computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
        computer.HalCaps.DevCaps = capability == 0 ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0;
    }
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

TResultRecord TestResult(double timestamp, int width, int height, int depth, int kind,
                         float trianglesPerMs) {
    TResultRecord config{};
    config.TestSet = TestSet;
    config.Width = static_cast<std::uint16_t>(width);
    config.Height = static_cast<std::uint16_t>(height);
    config.Depth = static_cast<std::uint16_t>(depth);
    config.HardwareDevice = ChartKinds[kind].HardwareDevice;
    config.HardwareVertexProcessing = ChartKinds[kind].HardwareVertexProcessing;
    config.VertexBufferMode = 2;
    config.TextureMode = 2;
    config.DetailLevel = TestDetailLevel;
    return SteadyPassResult(config, trianglesPerMs * 1000.0 / TrianglesPerFrame(TestDetailLevel),
                            timestamp);
}

std::vector<std::uint8_t> TTestStore::File() const {
    return *EncodeResultsFile(Computers, Devices, Results, 17);
}

TMergeReport TTestStore::Merge(const std::vector<std::uint8_t>& file) {
    TMergeReport report;
    MergeResultsFile(file, LatestPlausibleTimestamp(), Computers, Devices, Results, &report);
    return report;
}

TTestStore VariedStore(int count, unsigned seed, const std::string& tag) {
    std::mt19937 random(seed);
    const float special[] = {std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(), 0.0f, -2.0f};
    const char* const names[] = {"Pentium", "Эльбрус", "Athlon", "Celeron"};
    TTestStore store;
    for (int i = 0; i < count; ++i) {
        const int capability = static_cast<int>(random() % 3);
        TComputerRecord computer =
            TestComputer(std::string(names[random() % 4]) + " " + tag + std::to_string(i),
                         "Адаптер " + std::to_string(random() % 7), capability);
        std::vector<TResultRecord> results;
        const int resultCount = static_cast<int>(random() % 7);
        for (int r = 0; r < resultCount; ++r) {
            const int size = static_cast<int>(random() % ModeSizeCount);
            const int depth = static_cast<int>(random() % ModeDepthCount);
            const int kind = static_cast<int>(random() % ChartKindCount);
            // Few distinct values, so that ties are common.
            const float value = static_cast<float>(random() % 12) * 2.5f + 0.25f;
            TResultRecord result =
                TestResult(45000 + r + i * 0.001, ModeSizes[size].Width, ModeSizes[size].Height,
                           ModeDepths[depth], kind, value);
            if (random() % 8 == 0) { // a presentation run: never ranked
                result.DetailLevel = PresentationDetailLevel;
                result = SteadyPassResult(result, result.Fps, result.Timestamp);
            }
            if (random() % 9 == 0) // now and then a damaged one, which the reader leaves out
                result.TrianglesPerMs = special[random() % 4];
            results.push_back(result);
        }
        store.Add(computer, results, {Scrambled("  chip"), Scrambled("PCI " + std::to_string(i))});
    }
    return store;
}
