#include "state/ResultsFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
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

// A bounded view of the file's block area: every read is checked against the bytes left
// before the trailing size field.
class Cursor {
public:
    Cursor(const std::uint8_t* data, std::size_t position, std::size_t limit)
        : data_(data), position_(position), limit_(limit) {}

    std::size_t Left() const { return limit_ - position_; }
    std::size_t Position() const { return position_; }
    bool AtLimit() const { return position_ >= limit_; }

    bool ReadInt32(std::int32_t& value) {
        if (Left() < sizeof value)
            return false;
        std::memcpy(&value, data_ + position_, sizeof value);
        position_ += sizeof value;
        return true;
    }

    // Takes count items of itemSize bytes, handing back where they start; refuses a negative
    // count or one that would pass the limit.
    bool Take(std::int32_t count, std::size_t itemSize, const std::uint8_t*& start) {
        if (count < 0 || Left() / itemSize < static_cast<std::size_t>(count))
            return false;
        start = data_ + position_;
        position_ += static_cast<std::size_t>(count) * itemSize;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t position_;
    std::size_t limit_;
};

std::size_t HashBytes(const void* data, std::size_t size) {
    return std::hash<std::string_view>{}(std::string_view(static_cast<const char*>(data), size));
}

// The configuration bytes of a result: 8, 10..15 and 18..22, packed.
struct ResultKey {
    std::uint64_t Low;
    std::uint64_t High;
    bool operator==(const ResultKey&) const = default;
};

ResultKey KeyOf(const TResultRecord& result) {
    ResultKey key{};
    key.Low = std::uint64_t{result.TestSet} | std::uint64_t{result.Width} << 8 |
              std::uint64_t{result.Height} << 24 | std::uint64_t{result.Depth} << 40;
    key.High = std::uint64_t{result.HardwareDevice} |
               std::uint64_t{result.HardwareVertexProcessing} << 8 |
               std::uint64_t{result.VertexBufferMode} << 16 |
               std::uint64_t{result.TextureMode} << 24 | std::uint64_t{result.DetailLevel} << 32;
    return key;
}

struct ResultKeyHash {
    std::size_t operator()(const ResultKey& key) const {
        return std::hash<std::uint64_t>{}(key.Low * 0x9E3779B97F4A7C15ull ^ key.High);
    }
};

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

bool WriteResultsFile(const std::vector<TComputerRecord>& computers,
                      const std::vector<std::vector<TStringSlot>>& devices,
                      const std::vector<std::vector<TResultRecord>>& results,
                      std::uint32_t tailSeed, const TResultsFileSink& sink) {
    // The size first, so that an oversized store is refused before anything is written.
    const std::optional<std::size_t> total = ResultsFileSize(computers, devices, results);
    if (!total)
        return false;

    static const std::vector<TStringSlot> noDevices;
    static const std::vector<TResultRecord> noResults;
    PieceWriter out(sink);
    TailFiller tails(tailSeed);

    std::uint8_t* header = out.Room(ResultsFirstBlockOffset);
    if (header == nullptr)
        return false;
    const TStringSlot headerSlot = ResultsHeaderSlot();
    std::memcpy(header, headerSlot.data(), SlotSize);
    header[ResultsVersionOffset] = VersionMajor;
    header[ResultsVersionOffset + 1] = VersionMinor;
    PutInt32(header + ResultsCountOffset, static_cast<std::int32_t>(computers.size()));

    for (std::size_t i = 0; i < computers.size(); ++i) {
        std::uint8_t* at = out.Room(ComputerSize);
        if (at == nullptr)
            return false;
        std::memcpy(at, &computers[i], ComputerSize);
        for (int s = 0; s < SlotsPerComputer; ++s)
            tails.Fill(at + static_cast<std::size_t>(s) * SlotSize);

        const auto& lines = i < devices.size() ? devices[i] : noDevices;
        if (!out.PutInt32(static_cast<std::int32_t>(lines.size())))
            return false;
        for (const TStringSlot& line : lines) {
            std::uint8_t* slot = out.Room(SlotSize);
            if (slot == nullptr)
                return false;
            std::memcpy(slot, line.data(), SlotSize);
            tails.Fill(slot);
        }

        const auto& records = i < results.size() ? results[i] : noResults;
        if (!out.PutInt32(static_cast<std::int32_t>(records.size())) ||
            !out.Put(records.data(), records.size() * ResultSize))
            return false;
    }
    return out.PutInt32(static_cast<std::int32_t>(*total)) && out.Flush();
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

TMergeOutcome MergeResultsFile(std::span<const std::uint8_t> file, double latestTimestamp,
                               std::vector<TComputerRecord>& computers,
                               std::vector<std::vector<TStringSlot>>& devices,
                               std::vector<std::vector<TResultRecord>>& results,
                               TMergeReport* report) {
    TMergeReport unused;
    TMergeReport& told = report != nullptr ? *report : unused;
    told = TMergeReport{};
    const auto ignore = [&told](TIgnoredBecause because) {
        told.Outcome = TMergeOutcome::Ignored;
        told.IgnoredBecause = because;
        return told.Outcome;
    };

    const std::size_t size = file.size();
    // Too short for the version bytes counts as another version; too short for the count as
    // nothing to merge.
    if (size < ResultsFirstBlockOffset + 4)
        return ignore(TIgnoredBecause::TooShort);
    std::int32_t trailingSize = 0;
    std::memcpy(&trailingSize, file.data() + size - 4, 4);
    told.FileVersionMajor = file[ResultsVersionOffset];
    told.FileVersionMinor = file[ResultsVersionOffset + 1];
    if (told.FileVersionMajor != VersionMajor || told.FileVersionMinor != VersionMinor)
        return ignore(TIgnoredBecause::OtherVersion);
    if (static_cast<std::int64_t>(trailingSize) != static_cast<std::int64_t>(size))
        return ignore(TIgnoredBecause::SizeMismatch);

    std::int32_t blockCount = 0;
    std::memcpy(&blockCount, file.data() + ResultsCountOffset, 4);
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
    };

    Cursor cursor(file.data(), ResultsFirstBlockOffset, size - 4);
    for (std::int32_t block = 0; block < blockCount; ++block) {
        // The whole block is checked before any of it is merged, so that a damaged block adds
        // neither a computer without its lines nor stray results.
        const std::size_t blockStart = cursor.Position();
        const std::uint8_t* computerBytes = nullptr;
        const std::uint8_t* lineBytes = nullptr;
        const std::uint8_t* resultBytes = nullptr;
        std::int32_t lineCount = 0, resultCount = 0;
        if (!cursor.Take(1, ComputerSize, computerBytes) || !cursor.ReadInt32(lineCount) ||
            !cursor.Take(lineCount, SlotSize, lineBytes) || !cursor.ReadInt32(resultCount) ||
            !cursor.Take(resultCount, ResultSize, resultBytes)) {
            told.Outcome = TMergeOutcome::Stopped;
            told.StopOffset = blockStart;
            return told.Outcome;
        }

        TComputerRecord computer;
        std::memcpy(&computer, computerBytes, ComputerSize);
        ZeroStringTails(computer);
        std::vector<TStringSlot> lines(static_cast<std::size_t>(lineCount));
        for (std::size_t k = 0; k < lines.size(); ++k) {
            std::memcpy(lines[k].data(), lineBytes + k * SlotSize, SlotSize);
            ZeroStringTail(lines[k]);
        }
        if (const TImplausible why = JudgeComputer(computer, lines); why != TImplausible::None) {
            leaveOut(block, -1, why);
            ++told.ComputersLeftOut;
            told.ResultsLeftOut += resultCount;
            if (cursor.AtLimit())
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

        if (resultCount > 0) {
            auto& list = results[index];
            ResultIndex& keys = resultIndexOf(index);
            for (std::int32_t r = 0; r < resultCount; ++r) {
                TResultRecord result;
                std::memcpy(&result, resultBytes + static_cast<std::size_t>(r) * ResultSize,
                            ResultSize);
                if (const TImplausible why = JudgeResult(result, latestTimestamp);
                    why != TImplausible::None) {
                    leaveOut(block, r, why);
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
        }

        ++told.BlocksMerged;
        if (cursor.AtLimit())
            break;
    }
    told.BytesLeftUnread = cursor.Left();
    return TMergeOutcome::Merged;
}
