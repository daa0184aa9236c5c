// The large store the benchmarks measure on: ComputerCount computers with ResultsPerComputer
// results each, every one of them different, each with a small device list.
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
