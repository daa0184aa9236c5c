// The byte form of Results.bin: building a whole file from the store and merging the bytes of
// a file into it. Pure byte work, no files and no clock (ResultsStore.cpp does those), so that
// the reader can be fuzzed on its own. The reader takes the file's bytes through a function,
// piece by piece, so that a file is never held whole in memory.
//
// Layout: a 256-byte header slot, the version bytes (VersionMajor, VersionMinor), an int32
// count M, M computer blocks, an int32 total file size. A block is a TComputerRecord, an
// int32 count and that many device-description slots, an int32 count and that many
// TResultRecords. All little-endian; string tails in the file are random.
#pragma once

#include "state/ResultPlausibility.h"
#include "state/Variables.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

inline constexpr std::size_t ResultsHeaderSlotSize = 256;
inline constexpr std::size_t ResultsVersionOffset = 256;
inline constexpr std::size_t ResultsCountOffset = 258;
inline constexpr std::size_t ResultsFirstBlockOffset = 262;
// The smallest file that holds a computer: a smaller one loses nothing when it is replaced.
inline constexpr std::size_t SmallestResultsFileWithAComputer =
    ResultsFirstBlockOffset + sizeof(TComputerRecord) + 4 + 4 + 4;

// The header slot: length 77, the text naming the program and its version, then spaces up to
// offset 255.
TStringSlot ResultsHeaderSlot();

// Zeroes the bytes after the text of a slot, as every slot is held in memory.
void ZeroStringTail(TStringSlot& slot);
void ZeroStringTails(TComputerRecord& computer);

// Two results of one computer describe the same test configuration: offsets 8 and 10..22 are
// equal, except the refresh rate at 16..17.
bool SameResultKey(const TResultRecord& a, const TResultRecord& b);

// The configuration bytes of a result (8, 10..15 and 18..22) packed, for maps of results by
// their configuration: equal exactly when SameResultKey holds.
struct TResultKey {
    std::uint64_t Low = 0;
    std::uint64_t High = 0;
    bool operator==(const TResultKey&) const = default;
};
struct TResultKeyHash {
    std::size_t operator()(const TResultKey& key) const {
        return std::hash<std::uint64_t>{}(key.Low * 0x9E3779B97F4A7C15ull ^ key.High);
    }
};
TResultKey ResultKeyOf(const TResultRecord& result);

// Whether a read result replaces a stored one of the same configuration: only when it is
// strictly later. A NaN timestamp counts as earlier than any other, so that a damaged record
// can still be superseded and never supersedes anything.
bool IsLaterTimestamp(double read, double stored);

// The size of the Results.bin of this store; nothing when it would not fit the file's int32
// size field. Entries missing from devices or results (arrays shorter than computers) count as
// empty lists.
std::optional<std::size_t> ResultsFileSize(const std::vector<TComputerRecord>& computers,
                                           const std::vector<std::vector<TStringSlot>>& devices,
                                           const std::vector<std::vector<TResultRecord>>& results);

// Receives the bytes of a file in order, in pieces of about a megabyte; false stops the writing.
using TResultsFileSink = std::function<bool(const std::uint8_t* bytes, std::size_t size)>;

// The content of Results.bin for this store, handed to sink piece by piece, string tails filled
// from a generator seeded with tailSeed. False when the store does not fit the file (nothing
// is handed on then) or when sink refused a piece.
bool WriteResultsFile(const std::vector<TComputerRecord>& computers,
                      const std::vector<std::vector<TStringSlot>>& devices,
                      const std::vector<std::vector<TResultRecord>>& results,
                      std::uint32_t tailSeed, const TResultsFileSink& sink);

// Writes a results file one computer after another, for a store too large to hold at once: the
// count of computers first, then each block as it comes, then the size field; the pieces go to
// the sink as WriteResultsFile hands them on.
class TResultsFileWriter {
public:
    // computers: how many blocks will follow.
    TResultsFileWriter(std::int32_t computers, std::uint32_t tailSeed,
                       const TResultsFileSink& sink);
    ~TResultsFileWriter();
    TResultsFileWriter(const TResultsFileWriter&) = delete;
    TResultsFileWriter& operator=(const TResultsFileWriter&) = delete;

    // False when the sink refused a piece, more blocks come than were announced, or the file
    // would pass what its int32 size field can hold; nothing more is written then.
    bool Add(const TComputerRecord& computer, std::span<const TStringSlot> devices,
             std::span<const TResultRecord> results);
    // Writes the size field: false as Add, or when fewer blocks came than were announced.
    bool Finish();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// The whole content of Results.bin for this store, as WriteResultsFile gives it; nothing when
// the file would not fit its int32 size field.
std::optional<std::vector<std::uint8_t>>
EncodeResultsFile(const std::vector<TComputerRecord>& computers,
                  const std::vector<std::vector<TStringSlot>>& devices,
                  const std::vector<std::vector<TResultRecord>>& results, std::uint32_t tailSeed);

enum class TMergeOutcome {
    Merged,    // every block up to M or up to the trailing size field was merged
    Ignored,   // too short, another version, or the trailing size is not the file size
    Stopped,   // a block's counts ran past the trailing size field: the blocks before it are
               // merged, that block and the rest are not
    Missing,   // LoadResults only: there is no such file
    NotOpened, // LoadResults only: it could not be opened and the user chose Ignore
};

// Why a whole file was left alone.
enum class TIgnoredBecause { Nothing, NotAFile, TooShort, OtherVersion, SizeMismatch, ReadFailed };

// Why a merge stopped before the end of the file (TMergeOutcome::Stopped).
enum class TStoppedBecause {
    Nothing,
    BlockTooLong, // a block's counts ran past the trailing size field
    ReadFailed,   // the file could not be read there (an I/O error, or it was cut short)
};

// What a merge took and what it left, so that a caller can tell the user what a damaged file
// lost. The program's windows stay silent; the command line reports it.
struct TMergeReport {
    TMergeOutcome Outcome = TMergeOutcome::Merged;
    TIgnoredBecause IgnoredBecause = TIgnoredBecause::Nothing;
    TStoppedBecause StoppedBecause = TStoppedBecause::Nothing;
    // NotOpened: another copy of the program held the file to the end, or else the system's
    // error of the last attempt to open it.
    bool HeldByAnotherCopy = false;
    int OpenErrno = 0;
    std::uint8_t FileVersionMajor = 0; // as the file states them (OtherVersion)
    std::uint8_t FileVersionMinor = 0;
    std::size_t FileSize = 0;        // the size of the file read
    std::int32_t BlocksDeclared = 0; // the count M of the file
    std::int32_t BlocksMerged = 0;   // blocks read whose computer was taken
    std::int32_t StopBlock = 0;      // Stopped: the block, from 0, where the reader stopped
    std::size_t StopOffset = 0;      // and the byte: where that block begins, or the failed read
    std::size_t BytesLeftUnread = 0; // bytes before the size field after the last block read
    std::int32_t KnownComputers = 0; // blocks of a computer already held: their lines skipped
    std::int32_t ResultsAdded = 0;
    std::int32_t ResultsReplaced = 0;
    std::int32_t ResultsNotLater = 0; // same configuration, not later than the one held
    // Records that cannot be measurements (see ResultPlausibility.h), never taken: a computer
    // left out takes its block's results with it, and they count among ResultsLeftOut.
    std::int32_t ComputersLeftOut = 0;
    std::int32_t ResultsLeftOut = 0;
    struct TLeftOut {
        std::int32_t Block;  // the computer block, from 0
        std::int32_t Result; // the result within the block, from 0; -1 for the computer
        TImplausible Why;
    };
    // The first MaxLeftOutListed of them, in file order.
    static constexpr std::size_t MaxLeftOutListed = 100;
    std::vector<TLeftOut> LeftOut;
    // Why records were left out, each reason once in the order first met, with how many
    // records (a computer counting once) it left out.
    std::vector<std::pair<TImplausible, std::int32_t>> LeftOutReasons;

    // Every record the reader met was taken: nothing left unread, nothing left out.
    bool TookEverything() const;
    // Read but not whole, and large enough to hold a computer: a save keeps such a file under
    // another name before it replaces it.
    bool KeptBeforeReplacing() const;
    // Results read from the file: taken, or not taken being not later than one held.
    std::int32_t ResultsRead() const { return ResultsAdded + ResultsReplaced + ResultsNotLater; }
    // Computer blocks the file states but the reader never reached (Stopped, or fewer blocks
    // than stated before the size field).
    std::int32_t ComputersNotReached() const;
};

// Merges the bytes of a results file into the store: a new computer is appended to all three
// arrays with its device lines; a known one (the last entry equal in all 2472 bytes) keeps its
// device list; a result replaces the stored one of its configuration only when it is later,
// and is appended when there is none. A record that cannot be a measurement (judged with
// latestTimestamp as the latest plausible time) is left out, a computer with all its results.
// Any bytes at all are safe: nothing is read past the end, and no count is trusted beyond the
// bytes left. The report, when given, says what was taken and what was left.
TMergeOutcome MergeResultsFile(std::span<const std::uint8_t> file, double latestTimestamp,
                               std::vector<TComputerRecord>& computers,
                               std::vector<std::vector<TStringSlot>>& devices,
                               std::vector<std::vector<TResultRecord>>& results,
                               TMergeReport* report = nullptr);

// Copies size bytes of a file, starting at offset, to out; false when they cannot be read.
using TResultsFileReader =
    std::function<bool(std::size_t offset, std::size_t size, std::uint8_t* out)>;

// The same merge of a file of fileSize bytes, read through read. Whatever the file states, the
// merge holds no more of it at a time than one computer block's record and device lines (a
// block with more lines than MaxDeviceLines is left out unread) and a few hundred results; a
// read that fails stops the merge there.
TMergeOutcome MergeResultsFile(std::size_t fileSize, const TResultsFileReader& read,
                               double latestTimestamp, std::vector<TComputerRecord>& computers,
                               std::vector<std::vector<TStringSlot>>& devices,
                               std::vector<std::vector<TResultRecord>>& results,
                               TMergeReport* report = nullptr);
