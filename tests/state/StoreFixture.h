// Building blocks of the results-store tests: records with recognisable contents and a clean
// global store in a temporary working directory.
#pragma once

#include "platform/RetryDialog.h"
#include "state/ResultPlausibility.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"
#include "support/TempDir.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

inline TStringSlot Scrambled(const std::string& text) {
    return ScrambleText(MakeStringSlot(text));
}

// A computer whose strings all carry tag, with a HAL capability block.
inline TComputerRecord MakeComputer(const std::string& tag) {
    TComputerRecord computer{};
    computer.Processor = Scrambled("Processor " + tag + " (~2400MHz)");
    computer.VideoAdapter = Scrambled("Adapter " + tag);
    computer.Chipset = Scrambled("n/d");
    computer.MemoryMB = Scrambled("4096");
    computer.OSName = Scrambled("Debian GNU/Linux 12");
    computer.Owner = Scrambled("Иван " + tag);
    computer.TimeZone = Scrambled("Europe/Moscow (Bias=3)");
    computer.RecordTag = Scrambled("1");
    computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
    computer.HalCaps.DevCaps = 0x10000;
    computer.HalCaps.MaxTextureWidth = 2048;
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

// A result as a steady pass at fps frames a second records it, with hardware vertex processing
// and the pools every series uses. Tests order results by small day numbers: a timestamp
// below the earliest plausible one counts days from 1 January 2020.
inline TResultRecord MakeResult(double timestamp, std::uint16_t width, std::uint16_t height,
                                std::uint16_t depth, float fps, std::uint8_t detail = 4) {
    TResultRecord config{};
    config.TestSet = TestSet;
    config.Width = width;
    config.Height = height;
    config.Depth = depth;
    config.HardwareDevice = 1;
    config.HardwareVertexProcessing = 1;
    config.VertexBufferMode = 2;
    config.TextureMode = 2;
    config.DetailLevel = detail;
    constexpr double firstTestDay = 43831;
    TResultRecord result = SteadyPassResult(
        config, fps, timestamp < EarliestPlausibleTimestamp ? firstTestDay + timestamp : timestamp);
    result.BlackPercent = 3;
    result.AvailPhys[3] = 123456789;
    return result;
}

// The configurations a computer can have results in: ten display modes, test and
// presentation, and three accelerations.
inline constexpr int ConfigurationCount = ModeSizeCount * ModeDepthCount * 2 * 3;

// A result in the i-th of those configurations (0 <= i < ConfigurationCount).
inline TResultRecord NthResult(int i, double timestamp, float fps) {
    const TModeSize size = ModeSizes[i % ModeSizeCount];
    const auto depth = static_cast<std::uint16_t>(ModeDepths[i / ModeSizeCount % ModeDepthCount]);
    const int rest = i / (ModeSizeCount * ModeDepthCount);
    TResultRecord result = MakeResult(timestamp, static_cast<std::uint16_t>(size.Width),
                                      static_cast<std::uint16_t>(size.Height), depth, fps,
                                      rest % 2 == 0 ? TestDetailLevel : PresentationDetailLevel);
    const int acceleration = rest / 2;
    result.HardwareDevice = acceleration < 2 ? 1 : 0;
    result.HardwareVertexProcessing = acceleration == 0 ? 1 : 0;
    return result;
}

// The three arrays of a store, to build and compare stores apart from the globals.
struct StoreImage {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;

    void Add(const TComputerRecord& computer, std::vector<std::string> lines,
             std::vector<TResultRecord> results) {
        Computers.push_back(computer);
        auto& added = Devices.emplace_back();
        for (const auto& line : lines)
            added.push_back(Scrambled(line));
        Results.push_back(std::move(results));
    }

    static StoreImage FromGlobals() { return {::Computers, ComputerDevices, ComputerResults}; }
    void ToGlobals() const {
        ::Computers = Computers;
        ComputerDevices = Devices;
        ComputerResults = Results;
    }
    std::vector<std::uint8_t> Encode(std::uint32_t seed = 1) const {
        return *EncodeResultsFile(Computers, Devices, Results, seed);
    }
};

// Byte equality, so that records with NaN fields compare as stored.
inline bool SameStore(const StoreImage& a, const StoreImage& b) {
    if (a.Computers.size() != b.Computers.size() || a.Devices != b.Devices ||
        a.Results.size() != b.Results.size())
        return false;
    for (std::size_t i = 0; i < a.Computers.size(); ++i) {
        if (std::memcmp(&a.Computers[i], &b.Computers[i], sizeof(TComputerRecord)) != 0 ||
            a.Results[i].size() != b.Results[i].size())
            return false;
        for (std::size_t j = 0; j < a.Results[i].size(); ++j)
            if (std::memcmp(&a.Results[i][j], &b.Results[i][j], sizeof(TResultRecord)) != 0)
                return false;
    }
    return true;
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Each test starts with an empty global store in a fresh working directory, and fails if the
// Retry/Ignore dialog is asked for without the test answering it.
class StoreTest : public testing::Test {
protected:
    void SetUp() override {
        Clear();
        SetRetryAsker([](const std::string& text) {
            ADD_FAILURE() << "unexpected dialog: " << text;
            return false;
        });
    }
    void TearDown() override {
        SetRetryAsker({});
        Clear();
    }
    static void Clear() {
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
    }

    TempDir dir_{true};
};
