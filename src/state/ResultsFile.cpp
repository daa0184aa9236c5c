#include "state/ResultsFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>

static_assert(std::endian::native == std::endian::little,
              "records are written to the file exactly as held in memory");

namespace {

constexpr std::size_t SlotSize = sizeof(TStringSlot);
constexpr std::size_t ComputerSize = sizeof(TComputerRecord);
constexpr std::size_t ResultSize = sizeof(TResultRecord);
constexpr int SlotsPerComputer = 8;

TStringSlot* ComputerSlots(TComputerRecord& computer) {
    return &computer.Processor;
}

// Random bytes for the string tails, eight per draw of the generator.
class TailFiller {
public:
    explicit TailFiller(std::uint32_t seed) : engine_(seed) {}

    // Fills the bytes after the text of the 256-byte slot that starts at slot.
    void Fill(std::uint8_t* slot) {
        std::size_t i = std::size_t{slot[0]} + 1;
        for (; i + 8 <= SlotSize; i += 8) {
            const std::uint64_t bits = engine_();
            std::memcpy(slot + i, &bits, 8);
        }
        if (i < SlotSize) {
            const std::uint64_t bits = engine_();
            std::memcpy(slot + i, &bits, SlotSize - i);
        }
    }

private:
    std::mt19937_64 engine_;
};

void PutInt32(std::uint8_t* at, std::int32_t value) {
    std::memcpy(at, &value, sizeof value);
}

// The bytes of a file through its reader, with a window of the bytes last read, so that the
// small reads of a block's parts cost one call of the reader per window; larger reads go to
// the reader directly. Reads are only asked for within the file.
class WindowedFile {
public:
    static constexpr std::size_t WindowSize = 64 * 1024;

    WindowedFile(const TResultsFileReader& read, std::size_t size) : read_(read), size_(size) {}

    bool Read(std::size_t offset, std::size_t size, void* out) {
        auto* to = static_cast<std::uint8_t*>(out);
        if (size > WindowSize / 8)
            return read_(offset, size, to);
        if (offset < windowStart_ || offset + size > windowStart_ + window_.size()) {
            window_.resize(std::min(WindowSize, size_ - offset));
            windowStart_ = offset;
            if (!read_(offset, window_.size(), window_.data())) {
                window_.clear();
                return false;
            }
        }
        std::memcpy(to, window_.data() + (offset - windowStart_), size);
        return true;
    }

    bool ReadInt32(std::size_t offset, std::int32_t& value) {
        return Read(offset, sizeof value, &value);
    }

private:
    const TResultsFileReader& read_;
    std::size_t size_;
    std::vector<std::uint8_t> window_;
    std::size_t windowStart_ = 0;
};

// Results are read, judged and merged this many at a time.
constexpr std::size_t ResultsPerPiece = 256;

std::size_t HashBytes(const void* data, std::size_t size) {
    return std::hash<std::string_view>{}(std::string_view(static_cast<const char*>(data), size));
}

using ResultKey = TResultKey;
using ResultKeyHash = TResultKeyHash;

ResultKey KeyOf(const TResultRecord& result) {
    return ResultKeyOf(result);
}

// Where each computer of the store is, by its bytes; the last equal entry wins. Built for one
// merge from the arrays, because other code appends to the arrays directly.
class ComputerIndex {
public:
    explicit ComputerIndex(const std::vector<TComputerRecord>& computers) : computers_(computers) {
        entries_.reserve(computers.size());
        for (std::size_t i = 0; i < computers.size(); ++i)
            entries_.emplace(HashBytes(&computers[i], ComputerSize), i);
    }

    std::optional<std::size_t> Find(const TComputerRecord& computer) const {
        std::optional<std::size_t> found;
        const auto [first, last] = entries_.equal_range(HashBytes(&computer, ComputerSize));
        for (auto it = first; it != last; ++it)
            if ((!found || it->second > *found) &&
                std::memcmp(&computers_[it->second], &computer, ComputerSize) == 0)
                found = it->second;
        return found;
    }

    void Add(const TComputerRecord& computer, std::size_t index) {
        entries_.emplace(HashBytes(&computer, ComputerSize), index);
    }

private:
    const std::vector<TComputerRecord>& computers_;
    std::unordered_multimap<std::size_t, std::size_t> entries_;
};

using ResultIndex = std::unordered_map<ResultKey, std::size_t, ResultKeyHash>;

} // namespace

TStringSlot ResultsHeaderSlot() {
    const std::string text = "Results of Stendograph " + std::to_string(VersionMajor) + "." +
                             std::to_string(VersionMinor) + " (DirectX 8)" +
                             ". This file is binary. Don't change it.";
    TStringSlot slot = MakeStringSlot(text);
    std::fill(slot.begin() + 1 + slot[0], slot.end(), std::uint8_t{' '});
    return slot;
}

void ZeroStringTail(TStringSlot& slot) {
    std::fill(slot.begin() + 1 + slot[0], slot.end(), std::uint8_t{0});
}

void ZeroStringTails(TComputerRecord& computer) {
    TStringSlot* slots = ComputerSlots(computer);
    for (int i = 0; i < SlotsPerComputer; ++i)
        ZeroStringTail(slots[i]);
}

TResultKey ResultKeyOf(const TResultRecord& result) {
    TResultKey key{};
    key.Low = std::uint64_t{result.TestSet} | std::uint64_t{result.Width} << 8 |
              std::uint64_t{result.Height} << 24 | std::uint64_t{result.Depth} << 40;
    key.High = std::uint64_t{result.HardwareDevice} |
               std::uint64_t{result.HardwareVertexProcessing} << 8 |
               std::uint64_t{result.VertexBufferMode} << 16 |
               std::uint64_t{result.TextureMode} << 24 | std::uint64_t{result.DetailLevel} << 32;
    return key;
}

bool SameResultKey(const TResultRecord& a, const TResultRecord& b) {
    return KeyOf(a) == KeyOf(b);
}

bool IsLaterTimestamp(double read, double stored) {
    if (std::isnan(read))
        return false;
    return std::isnan(stored) || read > stored;
}

namespace {

// Gathers the bytes of a file into pieces of PieceSize and hands each full piece to the sink.
class PieceWriter {
public:
    static constexpr std::size_t PieceSize = 1u << 20;

    explicit PieceWriter(const TResultsFileSink& sink) : sink_(sink) { piece_.reserve(PieceSize); }

    // Room for size bytes at the end of the piece, handing the piece on first when it is full.
    std::uint8_t* Room(std::size_t size) {
        if (piece_.size() + size > PieceSize && !Flush())
            return nullptr;
        const std::size_t at = piece_.size();
        piece_.resize(at + size);
        return piece_.data() + at;
    }

    bool Put(const void* bytes, std::size_t size) {
        const auto* from = static_cast<const std::uint8_t*>(bytes);
        while (size > 0) {
            const std::size_t part = std::min(size, PieceSize);
            std::uint8_t* to = Room(part);
            if (to == nullptr)
                return false;
            std::memcpy(to, from, part);
            from += part;
            size -= part;
        }
        return true;
    }

    bool PutInt32(std::int32_t value) { return Put(&value, sizeof value); }

    bool Flush() {
        if (piece_.empty())
            return ok_;
        ok_ = ok_ && sink_(piece_.data(), piece_.size());
        piece_.clear();
        return ok_;
    }

private:
    const TResultsFileSink& sink_;
    std::vector<std::uint8_t> piece_;
    bool ok_ = true;
};

} // namespace

std::optional<std::size_t> ResultsFileSize(const std::vector<TComputerRecord>& computers,
                                           const std::vector<std::vector<TStringSlot>>& devices,
                                           const std::vector<std::vector<TResultRecord>>& results) {
    constexpr std::size_t limit = std::numeric_limits<std::int32_t>::max();
    std::size_t total = ResultsFirstBlockOffset + 4;
    for (std::size_t i = 0; i < computers.size(); ++i) {
        const std::size_t lines = i < devices.size() ? devices[i].size() : 0;
        const std::size_t records = i < results.size() ? results[i].size() : 0;
        if (lines > limit / SlotSize || records > limit / ResultSize)
            return std::nullopt;
        total += ComputerSize + 4 + lines * SlotSize + 4 + records * ResultSize;
        if (total > limit)
            return std::nullopt;
    }
    return total;
}

struct TResultsFileWriter::TState {
    TState(std::int32_t computers, std::uint32_t tailSeed, const TResultsFileSink& sink)
        : Announced(computers), Out(sink), Tails(tailSeed) {}
    std::int32_t Announced;
    std::int32_t Written = 0;
    std::size_t Total = ResultsFirstBlockOffset + 4;
    bool Ok = true;
    PieceWriter Out;
    TailFiller Tails;
};

TResultsFileWriter::TResultsFileWriter(std::int32_t computers, std::uint32_t tailSeed,
                                       const TResultsFileSink& sink)
    : state_(std::make_unique<TState>(computers, tailSeed, sink)) {
    std::uint8_t* header = state_->Out.Room(ResultsFirstBlockOffset);
    if (header == nullptr) {
        state_->Ok = false;
        return;
    }
    const TStringSlot headerSlot = ResultsHeaderSlot();
    std::memcpy(header, headerSlot.data(), SlotSize);
    header[ResultsVersionOffset] = VersionMajor;
    header[ResultsVersionOffset + 1] = VersionMinor;
    PutInt32(header + ResultsCountOffset, computers);
}

TResultsFileWriter::~TResultsFileWriter() = default;

bool TResultsFileWriter::Add(const TComputerRecord& computer, std::span<const TStringSlot> devices,
                             std::span<const TResultRecord> results) {
    TState& s = *state_;
    constexpr std::size_t limit = std::numeric_limits<std::int32_t>::max();
    if (!s.Ok || s.Written == s.Announced || devices.size() > limit / SlotSize ||
        results.size() > limit / ResultSize)
        return s.Ok = false;
    s.Total += ComputerSize + 4 + devices.size() * SlotSize + 4 + results.size() * ResultSize;
    if (s.Total > limit)
        return s.Ok = false;
    ++s.Written;

    std::uint8_t* at = s.Out.Room(ComputerSize);
    if (at == nullptr)
        return s.Ok = false;
    std::memcpy(at, &computer, ComputerSize);
    for (int slot = 0; slot < SlotsPerComputer; ++slot)
        s.Tails.Fill(at + static_cast<std::size_t>(slot) * SlotSize);
    if (!s.Out.PutInt32(static_cast<std::int32_t>(devices.size())))
        return s.Ok = false;
    for (const TStringSlot& line : devices) {
        std::uint8_t* slot = s.Out.Room(SlotSize);
        if (slot == nullptr)
            return s.Ok = false;
        std::memcpy(slot, line.data(), SlotSize);
        s.Tails.Fill(slot);
    }
    return s.Ok = s.Out.PutInt32(static_cast<std::int32_t>(results.size())) &&
                  s.Out.Put(results.data(), results.size() * ResultSize);
}

bool TResultsFileWriter::Finish() {
    TState& s = *state_;
    return s.Ok = s.Ok && s.Written == s.Announced &&
                  s.Out.PutInt32(static_cast<std::int32_t>(s.Total)) && s.Out.Flush();
}

bool WriteResultsFile(const std::vector<TComputerRecord>& computers,
                      const std::vector<std::vector<TStringSlot>>& devices,
                      const std::vector<std::vector<TResultRecord>>& results,
                      std::uint32_t tailSeed, const TResultsFileSink& sink) {
    // The size first, so that an oversized store is refused before anything is written.
    if (!ResultsFileSize(computers, devices, results))
        return false;
    TResultsFileWriter writer(static_cast<std::int32_t>(computers.size()), tailSeed, sink);
    for (std::size_t i = 0; i < computers.size(); ++i)
        if (!writer.Add(computers[i],
                        i < devices.size() ? devices[i] : std::span<const TStringSlot>(),
                        i < results.size() ? results[i] : std::span<const TResultRecord>()))
            return false;
    return writer.Finish();
}

std::optional<std::vector<std::uint8_t>>
EncodeResultsFile(const std::vector<TComputerRecord>& computers,
                  const std::vector<std::vector<TStringSlot>>& devices,
                  const std::vector<std::vector<TResultRecord>>& results, std::uint32_t tailSeed) {
    const std::optional<std::size_t> total = ResultsFileSize(computers, devices, results);
    if (!total)
        return std::nullopt;
    std::vector<std::uint8_t> file;
    file.reserve(*total);
    WriteResultsFile(computers, devices, results, tailSeed,
                     [&file](const std::uint8_t* bytes, std::size_t size) {
                         file.insert(file.end(), bytes, bytes + size);
                         return true;
                     });
    return file;
}

bool TMergeReport::TookEverything() const {
    return Outcome == TMergeOutcome::Merged && BytesLeftUnread == 0 && ComputersLeftOut == 0 &&
           ResultsLeftOut == 0;
}

bool TMergeReport::KeptBeforeReplacing() const {
    return Outcome != TMergeOutcome::Missing && Outcome != TMergeOutcome::NotOpened &&
           !TookEverything() && FileSize >= SmallestResultsFileWithAComputer;
}

std::int32_t TMergeReport::ComputersNotReached() const {
    if (Outcome != TMergeOutcome::Merged && Outcome != TMergeOutcome::Stopped)
        return 0;
    return std::max(0, BlocksDeclared - BlocksMerged - ComputersLeftOut);
}

TMergeOutcome MergeResultsFile(std::span<const std::uint8_t> file, double latestTimestamp,
                               std::vector<TComputerRecord>& computers,
                               std::vector<std::vector<TStringSlot>>& devices,
                               std::vector<std::vector<TResultRecord>>& results,
                               TMergeReport* report) {
    const TResultsFileReader read = [file](std::size_t offset, std::size_t size,
                                           std::uint8_t* out) {
        if (offset > file.size() || size > file.size() - offset)
            return false;
        std::memcpy(out, file.data() + offset, size);
        return true;
    };
    return MergeResultsFile(file.size(), read, latestTimestamp, computers, devices, results,
                            report);
}

TMergeOutcome MergeResultsFile(std::size_t size, const TResultsFileReader& read,
                               double latestTimestamp, std::vector<TComputerRecord>& computers,
                               std::vector<std::vector<TStringSlot>>& devices,
                               std::vector<std::vector<TResultRecord>>& results,
                               TMergeReport* report) {
    TMergeReport unused;
    TMergeReport& told = report != nullptr ? *report : unused;
    told = TMergeReport{};
    told.FileSize = size;
    const auto ignore = [&told](TIgnoredBecause because) {
        told.Outcome = TMergeOutcome::Ignored;
        told.IgnoredBecause = because;
        return told.Outcome;
    };

    // Too short for the version bytes counts as another version; too short for the count as
    // nothing to merge.
    if (size < ResultsFirstBlockOffset + 4)
        return ignore(TIgnoredBecause::TooShort);
    WindowedFile file(read, size);
    std::uint8_t version[2] = {};
    std::int32_t trailingSize = 0;
    if (!file.Read(ResultsVersionOffset, 2, version) || !file.ReadInt32(size - 4, trailingSize))
        return ignore(TIgnoredBecause::ReadFailed);
    told.FileVersionMajor = version[0];
    told.FileVersionMinor = version[1];
    if (told.FileVersionMajor != VersionMajor || told.FileVersionMinor != VersionMinor)
        return ignore(TIgnoredBecause::OtherVersion);
    if (static_cast<std::int64_t>(trailingSize) != static_cast<std::int64_t>(size))
        return ignore(TIgnoredBecause::SizeMismatch);

    std::int32_t blockCount = 0;
    if (!file.ReadInt32(ResultsCountOffset, blockCount))
        return ignore(TIgnoredBecause::ReadFailed);
    told.BlocksDeclared = blockCount;
    // The three arrays are parallel; should another part have broken that, line them up again
    // before anything is appended.
    devices.resize(computers.size());
    results.resize(computers.size());

    ComputerIndex computerIndex(computers);
    std::unordered_map<std::size_t, ResultIndex> resultIndexes;
    const auto resultIndexOf = [&](std::size_t computer) -> ResultIndex& {
        auto [it, added] = resultIndexes.try_emplace(computer);
        if (added) {
            const auto& list = results[computer];
            it->second.reserve(list.size());
            for (std::size_t j = 0; j < list.size(); ++j)
                it->second.insert_or_assign(KeyOf(list[j]), j);
        }
        return it->second;
    };

    const auto leaveOut = [&told](std::int32_t block, std::int32_t result, TImplausible why) {
        if (told.LeftOut.size() < TMergeReport::MaxLeftOutListed)
            told.LeftOut.push_back({block, result, why});
        auto& reasons = told.LeftOutReasons;
        const auto found = std::find_if(reasons.begin(), reasons.end(),
                                        [why](const auto& reason) { return reason.first == why; });
        if (found != reasons.end())
            ++found->second;
        else
            reasons.emplace_back(why, 1);
    };
    const auto stop = [&told](TStoppedBecause because, std::int32_t block, std::size_t at) {
        told.Outcome = TMergeOutcome::Stopped;
        told.StoppedBecause = because;
        told.StopBlock = block;
        told.StopOffset = at;
        return told.Outcome;
    };

    // Every count is checked against the bytes left before the trailing size field.
    const std::size_t limit = size - 4;
    std::size_t position = ResultsFirstBlockOffset;
    std::vector<TResultRecord> piece;
    for (std::int32_t block = 0; block < blockCount; ++block) {
        // The block's layout comes from its two counts, checked before any of it is merged, so
        // that a damaged block adds neither a computer without its lines nor stray results.
        const std::size_t blockStart = position;
        std::int32_t lineCount = 0;
        std::int32_t resultCount = 0;
        if (limit - position < ComputerSize + 4)
            return stop(TStoppedBecause::BlockTooLong, block, blockStart);
        // In file order, so that one window of the file serves the record and the counts.
        TComputerRecord computer;
        if (!file.Read(blockStart, ComputerSize, &computer))
            return stop(TStoppedBecause::ReadFailed, block, blockStart);
        const std::size_t linesAt = position + ComputerSize + 4;
        if (!file.ReadInt32(linesAt - 4, lineCount))
            return stop(TStoppedBecause::ReadFailed, block, blockStart);
        if (lineCount < 0 || (limit - linesAt) / SlotSize < static_cast<std::size_t>(lineCount))
            return stop(TStoppedBecause::BlockTooLong, block, blockStart);
        const std::size_t resultsAt = linesAt + static_cast<std::size_t>(lineCount) * SlotSize + 4;
        if (limit - (resultsAt - 4) < 4)
            return stop(TStoppedBecause::BlockTooLong, block, blockStart);
        if (!file.ReadInt32(resultsAt - 4, resultCount))
            return stop(TStoppedBecause::ReadFailed, block, blockStart);
        if (resultCount < 0 ||
            (limit - resultsAt) / ResultSize < static_cast<std::size_t>(resultCount))
            return stop(TStoppedBecause::BlockTooLong, block, blockStart);

        ZeroStringTails(computer);
        // More lines than a computer has are not read at all: they cannot make the reader
        // hold what the file claims.
        std::vector<TStringSlot> lines;
        TImplausible why = TImplausible::DeviceLines;
        if (static_cast<std::size_t>(lineCount) <= MaxDeviceLines) {
            lines.resize(static_cast<std::size_t>(lineCount));
            if (!lines.empty() && !file.Read(linesAt, lines.size() * SlotSize, lines.data()))
                return stop(TStoppedBecause::ReadFailed, block, blockStart);
            for (TStringSlot& line : lines)
                ZeroStringTail(line);
            why = JudgeComputer(computer, lines);
        }
        position = resultsAt + static_cast<std::size_t>(resultCount) * ResultSize;
        if (why != TImplausible::None) {
            leaveOut(block, -1, why);
            ++told.ComputersLeftOut;
            told.ResultsLeftOut += resultCount;
            if (position >= limit)
                break;
            continue;
        }

        std::size_t index = 0;
        if (const auto found = computerIndex.Find(computer)) {
            index = *found; // its device list in memory stays as it is
            ++told.KnownComputers;
        } else {
            index = computers.size();
            computers.push_back(computer);
            devices.push_back(std::move(lines));
            results.emplace_back();
            computerIndex.Add(computer, index);
        }
        // Counted once its computer is taken, even should its results fail to be read.
        ++told.BlocksMerged;

        auto& list = results[index];
        for (std::int32_t first = 0; first < resultCount;) {
            const std::size_t count = std::min<std::size_t>(
                ResultsPerPiece, static_cast<std::size_t>(resultCount - first));
            piece.resize(count);
            const std::size_t at = resultsAt + static_cast<std::size_t>(first) * ResultSize;
            if (!file.Read(at, count * ResultSize, piece.data()))
                return stop(TStoppedBecause::ReadFailed, block, at);
            ResultIndex& keys = resultIndexOf(index);
            for (std::size_t k = 0; k < count; ++k) {
                const TResultRecord& result = piece[k];
                const auto r = first + static_cast<std::int32_t>(k);
                if (const TImplausible wrong = JudgeResult(result, latestTimestamp);
                    wrong != TImplausible::None) {
                    leaveOut(block, r, wrong);
                    ++told.ResultsLeftOut;
                    continue;
                }
                const auto [it, added] = keys.try_emplace(KeyOf(result), list.size());
                if (added) {
                    list.push_back(result);
                    ++told.ResultsAdded;
                } else if (IsLaterTimestamp(result.Timestamp, list[it->second].Timestamp)) {
                    list[it->second] = result;
                    ++told.ResultsReplaced;
                } else {
                    ++told.ResultsNotLater;
                }
            }
            first += static_cast<std::int32_t>(count);
        }

        if (position >= limit)
            break;
    }
    told.BytesLeftUnread = limit - position;
    return TMergeOutcome::Merged;
}
