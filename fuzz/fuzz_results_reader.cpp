// Any bytes through the whole intake of a results file: the reader in pieces, the plausibility
// rule and the merge, and what the user is told of it. The reader must neither crash nor read
// out of bounds nor allocate what a file merely claims (the run's malloc limit catches that);
// only records the rule believes may enter the store; merging must be idempotent; what it
// merged must survive a write and a read unchanged; and the report must account for every
// block the file states.
//
// Each input is also read as the head of a much larger file, zeros up to a size the input's
// second byte chooses (up to 16 MiB; the header text there is never read) with a size field
// that matches, as a sparse file is; and
// once more through a reader that fails part way, as a file on a failing disk does.
#include "state/ResultsFile.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// 1 January 2100, fixed so that a run gives the same verdicts on any day.
constexpr double LatestTimestamp = 73051.0;

struct Store {
    std::vector<TComputerRecord> Computers;
    std::vector<std::vector<TStringSlot>> Devices;
    std::vector<std::vector<TResultRecord>> Results;

    TMergeOutcome Merge(std::span<const std::uint8_t> bytes, TMergeReport* report = nullptr) {
        return MergeResultsFile(bytes, LatestTimestamp, Computers, Devices, Results, report);
    }
    TMergeOutcome Merge(std::size_t size, const TResultsFileReader& read, TMergeReport* report) {
        return MergeResultsFile(size, read, LatestTimestamp, Computers, Devices, Results, report);
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

// Nothing the rule does not believe is in the store.
void CheckBelieved(const Store& store) {
    for (std::size_t i = 0; i < store.Computers.size(); ++i) {
        if (JudgeComputer(store.Computers[i], store.Devices[i]) != TImplausible::None)
            std::abort();
        for (const TResultRecord& result : store.Results[i])
            if (JudgeResult(result, LatestTimestamp) != TImplausible::None)
                std::abort();
    }
}

// The report accounts for what the file states, and the user's words for it can be made.
void CheckReport(const TMergeReport& report) {
    if (report.Outcome == TMergeOutcome::Merged || report.Outcome == TMergeOutcome::Stopped) {
        const std::int64_t accounted = std::int64_t{report.BlocksMerged} +
                                       report.ComputersLeftOut + report.ComputersNotReached();
        if (report.BlocksDeclared >= 0 && accounted != report.BlocksDeclared)
            std::abort();
        if (report.LeftOut.size() > TMergeReport::MaxLeftOutListed ||
            report.LeftOut.size() >
                static_cast<std::size_t>(report.ComputersLeftOut + report.ResultsLeftOut))
            std::abort();
        // Every record left out has its reason counted: each computer, and each result judged
        // on its own (those of a computer left out go with it).
        std::int64_t reasons = 0;
        for (const auto& [why, count] : report.LeftOutReasons)
            reasons += count;
        if (reasons < report.ComputersLeftOut ||
            reasons > std::int64_t{report.ComputersLeftOut} + report.ResultsLeftOut)
            std::abort();
    }
    if (report.TookEverything() && report.KeptBeforeReplacing())
        std::abort();
    const std::string told = ReadReportText("Fuzz.bin", report);
    if (report.TookEverything() != told.empty() && report.Outcome != TMergeOutcome::Missing &&
        report.Outcome != TMergeOutcome::NotOpened)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);

    Store merged;
    TMergeReport report;
    merged.Merge(bytes, &report);
    CheckBelieved(merged);
    CheckReport(report);
    const Store once = merged;
    merged.Merge(bytes);
    if (!Equal(merged, once))
        std::abort(); // merging the same file twice changed the store

    const auto file = EncodeResultsFile(merged.Computers, merged.Devices, merged.Results, 7);
    if (!file)
        std::abort();
    Store reread;
    TMergeReport rereadReport;
    if (reread.Merge(*file, &rereadReport) != TMergeOutcome::Merged || !Equal(reread, merged) ||
        !rereadReport.TookEverything())
        std::abort(); // the written file does not give the store back, or not all of it

    // The input as the head of a larger, sparse file whose size field matches.
    if (size > 1) {
        const std::size_t sparseSize = size + 4 + std::size_t{data[1]} * 65536;
        const auto field = static_cast<std::int32_t>(sparseSize);
        const TResultsFileReader sparse = [&](std::size_t offset, std::size_t length,
                                              std::uint8_t* out) {
            if (offset > sparseSize || length > sparseSize - offset)
                std::abort(); // a read past the end of the file
            std::memset(out, 0, length);
            for (std::size_t i = offset; i < offset + length && i < size; ++i)
                out[i - offset] = data[i];
            for (std::size_t i = 0; i < 4; ++i)
                if (sparseSize - 4 + i >= offset && sparseSize - 4 + i < offset + length)
                    out[sparseSize - 4 + i - offset] =
                        reinterpret_cast<const std::uint8_t*>(&field)[i];
            return true;
        };
        Store large;
        TMergeReport largeReport;
        large.Merge(sparseSize, sparse, &largeReport);
        CheckBelieved(large);
        CheckReport(largeReport);
    }

    // The input through a reader that fails at a byte its last byte chooses.
    if (size > 0) {
        const std::size_t failAt = size * data[size - 1] / 256;
        const TResultsFileReader failing = [&](std::size_t offset, std::size_t length,
                                               std::uint8_t* out) {
            if (offset > size || length > size - offset)
                std::abort();
            if (offset <= failAt && failAt < offset + length)
                return false;
            std::memcpy(out, data + offset, length);
            return true;
        };
        Store part;
        TMergeReport partReport;
        part.Merge(size, failing, &partReport);
        CheckBelieved(part);
        CheckReport(partReport);
        if (part.Computers.size() > once.Computers.size())
            std::abort(); // a failed read took more than the whole file gives
    }

    if (size >= 256) {
        TStringSlot slot;
        std::memcpy(slot.data(), data, slot.size());
        ZeroStringTail(slot);
        if (UnscrambleText(ScrambleText(slot)) != slot)
            std::abort();
    }
    return 0;
}
