// Merging a large results file into a large store and rewriting it: a file of 10,000
// computers with 20 results each, merged into a store of 10,000 other computers, then saved;
// then the same file merged once more (every computer and result already known). Prints the
// milliseconds of each phase and the peak resident memory.
#include "LargeStore.h"
#include "ToolArguments.h"
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

int main(int argc, char** argv) {
    QCommandLineParser parser;
    if (const auto status = ReadToolArguments(
            parser, "bench_results_store",
            "Merges a results file of 10,000 computers into a store of 10,000 others, saves it and "
            "merges the file again, printing the milliseconds of each phase.",
            argc, argv, 0, 0))
        return *status;
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
        FillLargeStore(computers, devices, results, "other ");
        const auto file = *EncodeResultsFile(computers, devices, results, 1);
        otherSize = file.size();
        std::ofstream("Other.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    FillLargeStore(Computers, ComputerDevices, ComputerResults, "own ");
    std::printf("file to merge: %d computers x %d results, %zu bytes; store: %d computers\n",
                ComputerCount, ResultsPerComputer, otherSize, ComputerCount);
    std::printf("peak memory before merging: %ld KB\n", PeakKilobytes());

    auto start = std::chrono::steady_clock::now();
    LoadResults("Other.bin");
    std::printf("load and merge (all new):   %8.1f ms, store now %zu computers\n", Since(start),
                Computers.size());

    start = std::chrono::steady_clock::now();
    if (!SaveResults().Saved) {
        std::fprintf(stderr, "the save failed\n");
        return 1;
    }
    std::printf("save (%ju bytes):     %8.1f ms\n",
                static_cast<std::uintmax_t>(std::filesystem::file_size("Results.bin")),
                Since(start));

    start = std::chrono::steady_clock::now();
    LoadResults("Other.bin");
    std::printf("load and merge (all known): %8.1f ms, store now %zu computers\n", Since(start),
                Computers.size());

    start = std::chrono::steady_clock::now();
    if (!MergeAndSaveResults().Saved) {
        std::fprintf(stderr, "the merge-and-save failed\n");
        return 1;
    }
    std::printf("merge-and-save of Results.bin: %8.1f ms\n", Since(start));
    std::printf("peak memory: %ld KB\n", PeakKilobytes());

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    return 0;
}
