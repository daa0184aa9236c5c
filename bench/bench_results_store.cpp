// Merging a large results file into a large store and rewriting it: a file of 10,000
// computers with 20 results each, merged into a store of 10,000 other computers, then saved;
// then the same file merged once more (every computer and result already known). Prints the
// milliseconds of each phase and the peak resident memory.
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int ComputerCount = 10000;
constexpr int ResultsPerComputer = 20;

TComputerRecord Computer(const std::string& tag) {
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

void Fill(std::vector<TComputerRecord>& computers, std::vector<std::vector<TStringSlot>>& devices,
          std::vector<std::vector<TResultRecord>>& results, const std::string& prefix) {
    for (int i = 0; i < ComputerCount; ++i) {
        computers.push_back(Computer(prefix + std::to_string(i)));
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
            result.DetailLevel = 4;
            result.Fps = 60.0f + static_cast<float>(r);
            result.RunCount = 1;
            list.push_back(result);
        }
    }
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main() {
    std::string folder = (std::filesystem::temp_directory_path() / "bench-results-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr)
        return 1;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);

    // The other file, written before anything is measured.
    std::size_t otherSize = 0;
    {
        std::vector<TComputerRecord> computers;
        std::vector<std::vector<TStringSlot>> devices;
        std::vector<std::vector<TResultRecord>> results;
        Fill(computers, devices, results, "other ");
        const auto file = *EncodeResultsFile(computers, devices, results, 1);
        otherSize = file.size();
        std::ofstream("Other.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    Fill(Computers, ComputerDevices, ComputerResults, "own ");
    std::printf("file to merge: %d computers x %d results, %zu bytes; store: %d computers\n",
                ComputerCount, ResultsPerComputer, otherSize, ComputerCount);
    std::printf("peak memory before merging: %ld KB\n", PeakKilobytes());

    auto start = std::chrono::steady_clock::now();
    LoadResults("Other.bin");
    std::printf("load and merge (all new):   %8.1f ms, store now %zu computers\n", Since(start),
                Computers.size());

    start = std::chrono::steady_clock::now();
    SaveResults();
    std::printf("save (%ju bytes):     %8.1f ms\n",
                static_cast<std::uintmax_t>(std::filesystem::file_size("Results.bin")),
                Since(start));

    start = std::chrono::steady_clock::now();
    LoadResults("Other.bin");
    std::printf("load and merge (all known): %8.1f ms, store now %zu computers\n", Since(start),
                Computers.size());

    start = std::chrono::steady_clock::now();
    {
        ResultsFileLock lock;
        LoadResults("Results.bin");
        SaveResults();
    }
    std::printf("merge-and-save of Results.bin: %8.1f ms\n", Since(start));
    std::printf("peak memory: %ld KB\n", PeakKilobytes());

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    return 0;
}
