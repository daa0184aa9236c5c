// The large stores the benchmarks measure on: ComputerCount computers with ResultsPerComputer
// results each, every one of them different, each with a small device list; and the store of
// the chart's benchmarks, whose computers give entries of all three kinds.
#pragma once

#include "state/ResultPlausibility.h"
#include "state/Variables.h"

#include <string>
#include <vector>

inline constexpr int ComputerCount = 10000;
inline constexpr int ResultsPerComputer = 20;

inline TComputerRecord LargeStoreComputer(const std::string& tag) {
    TComputerRecord computer{};
    computer.Processor = ScrambleText(MakeStringSlot("Processor " + tag + " (~2400MHz)"));
    computer.VideoAdapter = ScrambleText(MakeStringSlot("Display adapter of the benchmark"));
    computer.Chipset = ScrambleText(MakeStringSlot("Host bridge"));
    computer.MemoryMB = ScrambleText(MakeStringSlot("8192"));
    computer.OSName = ScrambleText(MakeStringSlot("Debian GNU/Linux 12 (bookworm)"));
    computer.Owner = ScrambleText(MakeStringSlot("Owner " + tag));
    computer.TimeZone = ScrambleText(MakeStringSlot("Europe/Moscow (Bias=3)"));
    computer.RecordTag = ScrambleText(MakeStringSlot("1"));
    computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

inline void FillLargeStore(std::vector<TComputerRecord>& computers,
                           std::vector<std::vector<TStringSlot>>& devices,
                           std::vector<std::vector<TResultRecord>>& results,
                           const std::string& prefix) {
    for (int i = 0; i < ComputerCount; ++i) {
        computers.push_back(LargeStoreComputer(prefix + std::to_string(i)));
        devices.push_back({ScrambleText(MakeStringSlot("  chip")),
                           ScrambleText(MakeStringSlot("PCI bridge " + std::to_string(i))),
                           ScrambleText(MakeStringSlot("  video")),
                           ScrambleText(MakeStringSlot("VGA compatible controller"))});
        auto& list = results.emplace_back();
        for (int r = 0; r < ResultsPerComputer; ++r) {
            TResultRecord result{};
            result.Timestamp = 45000 + r;
            result.TestSet = TestSet;
            result.Width = static_cast<std::uint16_t>(ModeSizes[r % 5].Width);
            result.Height = static_cast<std::uint16_t>(ModeSizes[r % 5].Height);
            result.Depth = static_cast<std::uint16_t>(ModeDepths[(r / 5) % 2]);
            result.HardwareDevice = 1;
            result.HardwareVertexProcessing = static_cast<std::uint8_t>(r / 10);
            result.VertexBufferMode = 2;
            result.TextureMode = 2;
            result.DetailLevel = TestDetailLevel;
            list.push_back(SteadyPassResult(result, 60.0 + r, result.Timestamp));
        }
    }
}

inline TStringSlot ChartStoreText(const std::string& text) {
    return ScrambleText(MakeStringSlot(text));
}

inline TComputerRecord ChartStoreComputer(const std::string& processor, const std::string& adapter,
                                          bool hal, const std::string& owner) {
    TComputerRecord computer{};
    computer.Processor = ChartStoreText(processor);
    computer.VideoAdapter = ChartStoreText(adapter);
    computer.Chipset = ChartStoreText("n/d");
    computer.MemoryMB = ChartStoreText("8192");
    computer.OSName = ChartStoreText("Debian GNU/Linux 12 (bookworm)");
    computer.Owner = ChartStoreText(owner);
    computer.TimeZone = ChartStoreText("Europe/Moscow (Bias=3)");
    computer.RecordTag = ChartStoreText("1");
    if (hal) {
        computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
        computer.HalCaps.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    }
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

// kind: 0 hardware, 1 software, 2 software emulation.
inline TResultRecord ChartStoreResult(int sizeIndex, int depthIndex, int kind,
                                      float trianglesPerMs) {
    TResultRecord result{};
    result.Timestamp = 46000;
    result.TestSet = TestSet;
    result.Width = static_cast<std::uint16_t>(ModeSizes[sizeIndex].Width);
    result.Height = static_cast<std::uint16_t>(ModeSizes[sizeIndex].Height);
    result.Depth = static_cast<std::uint16_t>(ModeDepths[depthIndex]);
    result.HardwareDevice = kind == 2 ? 0 : 1;
    result.HardwareVertexProcessing = kind == 0 ? 1 : 0;
    result.VertexBufferMode = 2;
    result.TextureMode = 2;
    result.DetailLevel = 4;
    result.TrianglesPerMs = trianglesPerMs;
    result.Fps = trianglesPerMs * 5 / 2048;
    result.RunCount = 1;
    return result;
}

inline void AddStoreComputer(const TComputerRecord& computer, std::vector<TResultRecord> results) {
    Computers.push_back(computer);
    ComputerDevices.emplace_back();
    ComputerResults.push_back(std::move(results));
}

// The store of the chart's benchmarks, in the globals: ComputerCount computers with 20 results
// each in all three kinds (7 hardware, 7 software, 6 emulation modes), so that every computer
// gives three chart entries; 30,000 entries, a ranking about two million pixels tall.
inline void FillChartStore() {
    for (int c = 0; c < ComputerCount; ++c) {
        std::vector<TResultRecord> results;
        for (int r = 0; r < 20; ++r) {
            const int kind = r < 7 ? 0 : r < 14 ? 1 : 2;
            const int mode = r % 10;
            const float value = static_cast<float>((c * 7919 + r * 104729) % 50000) / 7.0f;
            results.push_back(ChartStoreResult(mode / 2, mode % 2, kind, value));
        }
        AddStoreComputer(ChartStoreComputer("Processor " + std::to_string(c) + " (~2400MHz)",
                                            "Display adapter " + std::to_string(c), true,
                                            "Owner " + std::to_string(c)),
                         std::move(results));
    }
    CurrentComputerIndex = 4321;
}
