// Any bytes as a results file: the reader must neither crash nor read out of bounds, merging
// must be idempotent, and what it merged must survive a write and a read unchanged.
#include "state/ResultsFile.h"

#include <cstdlib>
#include <cstring>

namespace {

// 1 January 2100, fixed so that a run gives the same verdicts on any day.
constexpr double LatestTimestamp = 73051.0;

struct Store {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;

    TMergeOutcome Merge(std::span<const std::uint8_t> bytes) {
        return MergeResultsFile(bytes, LatestTimestamp, Computers, Devices, Results);
    }
};

bool SameBytes(const void* a, const void* b, std::size_t size) {
    return std::memcmp(a, b, size) == 0;
}

bool Equal(const Store& a, const Store& b) {
    if (a.Computers.size() != b.Computers.size() || a.Devices.size() != b.Devices.size() ||
        a.Results.size() != b.Results.size())
        return false;
    for (std::size_t i = 0; i < a.Computers.size(); ++i) {
        if (!SameBytes(&a.Computers[i], &b.Computers[i], sizeof(TComputerRecord)) ||
            a.Devices[i] != b.Devices[i] || a.Results[i].size() != b.Results[i].size())
            return false;
        // Results are compared as bytes: a NaN never equals itself as a double.
        if (!a.Results[i].empty() && !SameBytes(a.Results[i].data(), b.Results[i].data(),
                                                a.Results[i].size() * sizeof(TResultRecord)))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);

    Store merged;
    merged.Merge(bytes);
    const Store once = merged;
    merged.Merge(bytes);
    if (!Equal(merged, once))
        std::abort(); // merging the same file twice changed the store

    const auto file = EncodeResultsFile(merged.Computers, merged.Devices, merged.Results, 7);
    if (!file)
        std::abort();
    Store reread;
    if (reread.Merge(*file) != TMergeOutcome::Merged || !Equal(reread, merged))
        std::abort(); // the written file does not give the store back

    if (size >= 256) {
        TStringSlot slot;
        std::memcpy(slot.data(), data, slot.size());
        ZeroStringTail(slot);
        if (UnscrambleText(ScrambleText(slot)) != slot)
            std::abort();
    }
    return 0;
}
