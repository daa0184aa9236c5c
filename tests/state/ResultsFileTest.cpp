#include "StoreFixture.h"

#include <cmath>
#include <limits>

namespace {

std::int32_t Int32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::int32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

void PutInt32(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

// The layout written out by hand: the expected bytes, and which of them are string tails
// (random in the file).
struct ExpectedFile {
    std::vector<std::uint8_t> Bytes;
    std::vector<bool> Tail;

    void Put(const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        Bytes.insert(Bytes.end(), p, p + size);
        Tail.insert(Tail.end(), size, false);
    }
    void PutSlot(const TStringSlot& slot) {
        const std::size_t start = Bytes.size();
        Put(slot.data(), slot.size());
        for (std::size_t i = std::size_t{slot[0]} + 1; i < 256; ++i)
            Tail[start + i] = true;
    }
    void PutInt(std::int32_t value) { Put(&value, 4); }
};

StoreImage TwoComputers() {
    StoreImage store;
    store.Add(MakeComputer("A"), {"  chip", "Host bridge", "  video", "Display controller"},
              {MakeResult(45000.25, 640, 480, 16, 120.5f), MakeResult(45001.5, 1024, 768, 32, 61)});
    store.Add(MakeComputer("B"), {"  chip", "  video"},
              {MakeResult(45002.75, 800, 600, 16, 33.25f, 1)});
    return store;
}

} // namespace

using ResultsFileGolden = StoreTest;

TEST_F(ResultsFileGolden, SavedFileMatchesLayoutAndReadsBack) {
    const StoreImage store = TwoComputers();
    store.ToGlobals();
    SaveResults();
    const auto file = ReadBytes(dir_ / "Results.bin");

    ExpectedFile expected;
    const std::string text =
        "Results of Stendograph 1.5 (DirectX 8). This file is binary. Don't change it.";
    ASSERT_EQ(text.size(), 77u);
    expected.Bytes.push_back(77);
    expected.Put(text.data(), text.size());
    expected.Bytes.resize(256, ' ');
    expected.Tail.resize(256, false);
    expected.Bytes.push_back(1);
    expected.Bytes.push_back(5);
    expected.Tail.resize(258, false);
    expected.PutInt(2);
    for (std::size_t i = 0; i < 2; ++i) {
        const TComputerRecord& computer = store.Computers[i];
        for (const TStringSlot* slot = &computer.Processor; slot <= &computer.RecordTag; ++slot)
            expected.PutSlot(*slot);
        expected.Put(&computer.HalCaps, sizeof(D3DCAPS8));
        expected.Put(&computer.RefCaps, sizeof(D3DCAPS8));
        expected.PutInt(static_cast<std::int32_t>(store.Devices[i].size()));
        for (const auto& line : store.Devices[i])
            expected.PutSlot(line);
        expected.PutInt(static_cast<std::int32_t>(store.Results[i].size()));
        for (const auto& result : store.Results[i])
            expected.Put(&result, sizeof result);
    }
    expected.PutInt(static_cast<std::int32_t>(expected.Bytes.size() + 4));

    ASSERT_EQ(file.size(), expected.Bytes.size());
    std::size_t tailBytes = 0, zeroTailBytes = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (expected.Tail[i]) {
            ++tailBytes;
            zeroTailBytes += file[i] == 0;
        } else {
            ASSERT_EQ(file[i], expected.Bytes[i]) << "offset " << i;
        }
    }
    // Random tails, not the zero tails of memory.
    EXPECT_LT(zeroTailBytes, tailBytes / 50);

    // Loaded into an empty store, the file gives back the very records.
    StoreTest::Clear();
    LoadResults("Results.bin");
    EXPECT_TRUE(SameStore(StoreImage::FromGlobals(), store));
}

TEST_F(ResultsFileGolden, TwoSavesDifferOnlyInTailsAndMergeToTheSameStore) {
    const StoreImage store = TwoComputers();
    store.ToGlobals();
    SaveResults();
    const auto first = ReadBytes(dir_ / "Results.bin");
    SaveResults();
    const auto second = ReadBytes(dir_ / "Results.bin");
    ASSERT_EQ(first.size(), second.size());

    // Both files mark the same bytes as tails: the ones a zero-tail encoding leaves at zero
    // in every slot. Walk the known layout to find them.
    std::vector<bool> tail(first.size(), false);
    const auto markSlot = [&](std::size_t at) {
        for (std::size_t i = std::size_t{first[at]} + 1; i < 256; ++i)
            tail[at + i] = true;
    };
    std::size_t at = ResultsFirstBlockOffset;
    for (std::size_t c = 0; c < 2; ++c) {
        for (int s = 0; s < 8; ++s)
            markSlot(at + 256 * s);
        at += sizeof(TComputerRecord);
        const auto lines = Int32At(first, at);
        at += 4;
        for (int l = 0; l < lines; ++l, at += 256)
            markSlot(at);
        at += 4 + sizeof(TResultRecord) * static_cast<std::size_t>(Int32At(first, at));
    }
    ASSERT_EQ(at + 4, first.size());

    std::size_t tailBytes = 0, differing = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (tail[i]) {
            ++tailBytes;
            differing += first[i] != second[i];
        } else {
            ASSERT_EQ(first[i], second[i]) << "offset " << i;
        }
    }
    EXPECT_GT(differing, tailBytes * 9 / 10);

    for (const auto& file : {first, second}) {
        StoreImage merged;
        EXPECT_EQ(MergeResultsFile(file, LatestPlausibleTimestamp(), merged.Computers,
                                   merged.Devices, merged.Results),
                  TMergeOutcome::Merged);
        EXPECT_TRUE(SameStore(merged, store));
    }
}

TEST_F(ResultsFileGolden, FreshFolderLoadsNothingAndEmptyStoreSavesHeaderOnly) {
    LoadResults("Results.bin");
    EXPECT_TRUE(Computers.empty());
    SaveResults();
    const auto file = ReadBytes(dir_ / "Results.bin");
    ASSERT_EQ(file.size(), 266u);
    EXPECT_EQ(Int32At(file, 258), 0);
    EXPECT_EQ(Int32At(file, 262), 266);
    EXPECT_EQ(FolderEntries(dir_.path()), std::vector<std::string>{"Results.bin"});
}

// ---- Merging ---------------------------------------------------------------------------------

namespace {

const TComputerRecord A = MakeComputer("A");
const TComputerRecord B = MakeComputer("B");
const double NaN = std::numeric_limits<double>::quiet_NaN();

StoreImage Store(std::initializer_list<
                 std::tuple<TComputerRecord, std::vector<std::string>, std::vector<TResultRecord>>>
                     entries) {
    StoreImage store;
    for (const auto& [computer, lines, results] : entries)
        store.Add(computer, lines, results);
    return store;
}

TResultRecord WithRefreshRate(TResultRecord result, std::uint16_t rate) {
    result.RefreshRate = rate;
    return result;
}

std::vector<std::uint8_t> WithLastByte(std::vector<std::uint8_t> file, std::uint8_t value) {
    file.back() = value;
    return file;
}

std::vector<std::uint8_t> WithVersion(std::vector<std::uint8_t> file, std::uint8_t minor) {
    file[257] = minor;
    return file;
}

struct MergeCase {
    const char* Name;
    StoreImage Before;
    std::vector<std::vector<std::uint8_t>> Files; // loaded in this order
    StoreImage After;
};

} // namespace

using ResultsMerge = StoreTest;

TEST_F(ResultsMerge, RulesTable) {
    const auto r640 = MakeResult(100, 640, 480, 16, 50);
    const auto r640Later = MakeResult(200, 640, 480, 16, 70);
    const auto r800 = MakeResult(150, 800, 600, 32, 40);
    const auto r640Present = MakeResult(300, 640, 480, 16, 90, 1); // another detail level
    const auto fileA = Store({{A, {"  chip", "  video"}, {r640, r800}}}).Encode();
    const auto fileALater = Store({{A, {"  chip"}, {r640Later}}}).Encode(2);

    const std::vector<MergeCase> cases = {
        {"same file twice adds nothing",
         {},
         {fileA, fileA},
         Store({{A, {"  chip", "  video"}, {r640, r800}}})},
        {"later timestamp wins whole, either order",
         {},
         {fileALater, fileA},
         Store({{A, {"  chip"}, {r640Later, r800}}})},
        {"earlier timestamp loses",
         Store({{A, {}, {r640Later}}}),
         {fileA},
         Store({{A, {}, {r640Later, r800}}})},
        {"equal timestamp keeps the stored record",
         Store({{A, {}, {WithRefreshRate(r640, 60)}}}),
         {fileA},
         Store({{A, {}, {WithRefreshRate(r640, 60), r800}}})},
        {"refresh rate is not part of the key",
         Store({{A, {}, {WithRefreshRate(r640, 85)}}}),
         {fileALater},
         Store({{A, {}, {r640Later}}})},
        {"another detail level is another configuration",
         Store({{A, {}, {r640Present}}}),
         {fileALater},
         Store({{A, {}, {r640Present, r640Later}}})},
        {"in-memory device list wins",
         Store({{A, {"  chip", "Mine", "  video"}, {}}}),
         {fileA},
         Store({{A, {"  chip", "Mine", "  video"}, {r640, r800}}})},
        {"new computer appended with its lines",
         Store({{B, {"b"}, {r800}}}),
         {fileA},
         Store({{B, {"b"}, {r800}}, {A, {"  chip", "  video"}, {r640, r800}}})},
        {"last equal computer entry takes the results",
         Store({{A, {"first"}, {}}, {B, {}, {}}, {A, {"last"}, {}}}),
         {fileALater},
         Store({{A, {"first"}, {}}, {B, {}, {}}, {A, {"last"}, {r640Later}}})},
        {"changed last 4 bytes: ignored", {}, {WithLastByte(fileA, 0x7F)}, {}},
        {"version 1.4: ignored",
         Store({{B, {}, {}}}),
         {WithVersion(fileA, 4)},
         Store({{B, {}, {}}})},
        {"file under 6 bytes: ignored", {}, {{0x4D, 0x01, 0x05, 0x00, 0x00}}, {}},
        {"empty file: ignored", {}, {{}}, {}},
        {"header only, shorter than the version bytes: ignored",
         {},
         {std::vector<std::uint8_t>(fileA.begin(), fileA.begin() + 200)},
         {}},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Before.ToGlobals();
        for (std::size_t i = 0; i < c.Files.size(); ++i) {
            const std::string name = "in" + std::to_string(i) + ".bin";
            WriteBytes(dir_ / name, c.Files[i]);
            LoadResults(name);
        }
        EXPECT_TRUE(SameStore(StoreImage::FromGlobals(), c.After));
    }
}

// A different string or capability makes another computer; the old entry keeps its results.
TEST_F(ResultsMerge, AnyChangedByteIsAnotherComputer) {
    TComputerRecord otherClock = A;
    otherClock.Processor = Scrambled("Processor A (~2401MHz)");
    TComputerRecord otherDriver = A;
    otherDriver.HalCaps.MaxTextureWidth = 4096;
    const auto r = MakeResult(1, 640, 480, 16, 10);
    Store({{A, {}, {r}}}).ToGlobals();
    WriteBytes(dir_ / "x.bin", Store({{otherClock, {}, {r}}, {otherDriver, {}, {r}}}).Encode());
    LoadResults("x.bin");
    EXPECT_TRUE(SameStore(StoreImage::FromGlobals(),
                          Store({{A, {}, {r}}, {otherClock, {}, {r}}, {otherDriver, {}, {r}}})));
}

// A record that cannot be a measurement never enters the store, whatever its timestamp; one
// held in memory from before is superseded by a later believable one.
TEST(ResultsMergeBytes, ImplausibleRecordsNeverEnterOrWin) {
    const auto good = MakeResult(100, 640, 480, 16, 50);
    const auto damaged = MakeResult(NaN, 640, 480, 16, 1);
    auto forged = MakeResult(1e308, 640, 480, 16, 3);
    auto inflated = MakeResult(200, 640, 480, 16, 50);
    inflated.TrianglesPerMs = 3.4e38f;
    struct Case {
        const char* Name;
        TResultRecord Stored, Read, Kept;
        TImplausible Why;
    } const cases[] = {
        {"a number supersedes a NaN held", damaged, good, good, TImplausible::None},
        {"a NaN is left out", good, damaged, good, TImplausible::Timestamp},
        {"infinity is left out", good, MakeResult(INFINITY, 640, 480, 16, 3), good,
         TImplausible::Timestamp},
        {"a timestamp of 1e308 is left out", good, forged, good, TImplausible::Timestamp},
        {"a later record with forged triangles is left out", good, inflated, good,
         TImplausible::Triangles},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StoreImage store = Store({{A, {}, {c.Stored}}});
        const auto file = Store({{A, {}, {c.Read}}}).Encode();
        TMergeReport report;
        for (int twice = 0; twice < 2; ++twice)
            MergeResultsFile(file, LatestPlausibleTimestamp(), store.Computers, store.Devices,
                             store.Results, &report);
        EXPECT_TRUE(SameStore(store, Store({{A, {}, {c.Kept}}})));
        const bool leftOut = c.Why != TImplausible::None;
        EXPECT_EQ(report.ResultsLeftOut, leftOut ? 1 : 0);
        EXPECT_EQ(report.TookEverything(), !leftOut);
        if (leftOut) {
            ASSERT_EQ(report.LeftOut.size(), 1u);
            EXPECT_EQ(report.LeftOut[0].Block, 0);
            EXPECT_EQ(report.LeftOut[0].Result, 0);
            EXPECT_EQ(report.LeftOut[0].Why, c.Why);
        }
    }
}

// An implausible computer is left out with all its results; the blocks around it are taken.
TEST(ResultsMergeBytes, ImplausibleComputerLeavesWithItsResults) {
    TComputerRecord escaped = B;
    escaped.Owner = Scrambled("root\x1b]0;owned\x07");
    const auto r = MakeResult(1, 640, 480, 16, 10);
    const auto file =
        Store(
            {{A, {"a"}, {r}}, {escaped, {"b"}, {r, MakeResult(2, 800, 600, 16, 9)}}, {B, {}, {r}}})
            .Encode();
    StoreImage store;
    TMergeReport report;
    EXPECT_EQ(MergeResultsFile(file, LatestPlausibleTimestamp(), store.Computers, store.Devices,
                               store.Results, &report),
              TMergeOutcome::Merged);
    EXPECT_TRUE(SameStore(store, Store({{A, {"a"}, {r}}, {B, {}, {r}}})));
    EXPECT_EQ(report.BlocksMerged, 2);
    EXPECT_EQ(report.ComputersLeftOut, 1);
    EXPECT_EQ(report.ResultsLeftOut, 2);
    ASSERT_EQ(report.LeftOut.size(), 1u);
    EXPECT_EQ(report.LeftOut[0].Block, 1);
    EXPECT_EQ(report.LeftOut[0].Result, -1);
    EXPECT_EQ(report.LeftOut[0].Why, TImplausible::ControlCharacter);
}

// Counts are never trusted beyond the bytes left: a damaged block ends the reading there and
// only the blocks before it are merged; a count of blocks beyond the file just ends with it.
TEST(ResultsMergeBytes, DamagedCountsStopAtTheDamagedBlock) {
    const auto r = MakeResult(1, 640, 480, 16, 10);
    const StoreImage two = Store({{A, {"a"}, {r}}, {B, {"b"}, {r}}});
    const auto file = two.Encode();
    const std::size_t blockA = ResultsFirstBlockOffset;
    const std::size_t linesA = blockA + sizeof(TComputerRecord);
    const std::size_t resultsA = linesA + 4 + 256;
    const std::size_t blockB = resultsA + 4 + sizeof(TResultRecord);
    const std::size_t linesB = blockB + sizeof(TComputerRecord);
    const std::size_t resultsB = linesB + 4 + 256;

    struct Case {
        const char* Name;
        std::size_t At;
        std::int32_t Value;
        TMergeOutcome Outcome;
        std::size_t Computers;
        std::size_t StopOffset;      // reported where the damaged block begins
        std::size_t BytesLeftUnread; // reported after the last block read
    } const cases[] = {
        {"block count beyond the file", ResultsCountOffset, 1000000, TMergeOutcome::Merged, 2, 0,
         0},
        {"negative block count", ResultsCountOffset, -5, TMergeOutcome::Merged, 0, 0,
         file.size() - 4 - blockA},
        {"block count stops early", ResultsCountOffset, 1, TMergeOutcome::Merged, 1, 0,
         file.size() - 4 - blockB},
        {"huge line count in the first block", linesA, 0x7FFFFFFF, TMergeOutcome::Stopped, 0,
         blockA, 0},
        {"negative line count", linesA, -1, TMergeOutcome::Stopped, 0, blockA, 0},
        {"line count one too many in the last block", linesB, 2, TMergeOutcome::Stopped, 1, blockB,
         0},
        {"result count runs into the size field", resultsB, 2, TMergeOutcome::Stopped, 1, blockB,
         0},
        {"huge result count", resultsA, 0x40000000, TMergeOutcome::Stopped, 0, blockA, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        auto damaged = file;
        PutInt32(damaged, c.At, c.Value);
        StoreImage store;
        TMergeReport report;
        EXPECT_EQ(MergeResultsFile(damaged, LatestPlausibleTimestamp(), store.Computers,
                                   store.Devices, store.Results, &report),
                  c.Outcome);
        EXPECT_EQ(report.Outcome, c.Outcome);
        EXPECT_EQ(report.BlocksMerged, static_cast<std::int32_t>(c.Computers));
        EXPECT_EQ(report.ResultsAdded, static_cast<std::int32_t>(c.Computers));
        EXPECT_EQ(report.StopOffset, c.StopOffset);
        if (c.Outcome == TMergeOutcome::Merged) {
            EXPECT_EQ(report.BytesLeftUnread, c.BytesLeftUnread);
        }
        if (c.At == ResultsCountOffset) {
            EXPECT_EQ(report.BlocksDeclared, c.Value);
        }
        ASSERT_EQ(store.Computers.size(), c.Computers);
        ASSERT_EQ(store.Devices.size(), c.Computers);
        ASSERT_EQ(store.Results.size(), c.Computers);
        for (std::size_t i = 0; i < c.Computers; ++i) {
            EXPECT_EQ(store.Devices[i], two.Devices[i]);
            EXPECT_EQ(store.Results[i].size(), 1u);
        }
    }
}

TEST(ResultsMergeBytes, KnownComputerAppearingTwiceInOneFile) {
    // Both blocks land in one entry; the second block's lines are skipped.
    const auto r1 = MakeResult(5, 640, 480, 16, 10);
    const auto r2 = MakeResult(6, 640, 480, 16, 20);
    const auto r3 = MakeResult(1, 800, 600, 16, 30);
    const auto file = Store({{A, {"one"}, {r1}}, {A, {"two"}, {r2, r3}}}).Encode();
    StoreImage store;
    TMergeReport report;
    MergeResultsFile(file, LatestPlausibleTimestamp(), store.Computers, store.Devices,
                     store.Results, &report);
    EXPECT_TRUE(SameStore(store, Store({{A, {"one"}, {r2, r3}}})));
    EXPECT_EQ(report.BlocksMerged, 2);
    EXPECT_EQ(report.KnownComputers, 1);
    EXPECT_EQ(report.ResultsAdded, 2);
    EXPECT_EQ(report.ResultsReplaced, 1);
    EXPECT_EQ(report.ResultsNotLater, 0);

    // Merged again, nothing is later than what is held.
    MergeResultsFile(file, LatestPlausibleTimestamp(), store.Computers, store.Devices,
                     store.Results, &report);
    EXPECT_EQ(report.KnownComputers, 2);
    EXPECT_EQ(report.ResultsAdded, 0);
    EXPECT_EQ(report.ResultsReplaced, 0);
    EXPECT_EQ(report.ResultsNotLater, 3);
}

namespace {

// A file of any size that exists only as a rule for its bytes: the header and count of a
// results file, blocks of the given shape, and a trailing size field that matches. Counts
// what the reader is asked for.
struct ClaimedFile {
    std::size_t Size;
    std::int32_t Blocks;
    // Bytes at given offsets; every other byte is zero, as in a sparse file.
    std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> Bytes;

    std::size_t LargestRead = 0;
    std::size_t TotalRead = 0;

    void Put(std::size_t at, const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        Bytes.emplace_back(at, std::vector<std::uint8_t>(p, p + size));
    }

    TResultsFileReader Reader() {
        const TStringSlot header = ResultsHeaderSlot();
        Put(0, header.data(), header.size());
        const std::uint8_t version[2] = {VersionMajor, VersionMinor};
        Put(ResultsVersionOffset, version, 2);
        Put(ResultsCountOffset, &Blocks, 4);
        const auto size = static_cast<std::int32_t>(Size);
        Put(Size - 4, &size, 4);
        return [this](std::size_t offset, std::size_t size, std::uint8_t* out) {
            LargestRead = std::max(LargestRead, size);
            TotalRead += size;
            std::memset(out, 0, size);
            for (const auto& [at, bytes] : Bytes)
                for (std::size_t i = 0; i < bytes.size(); ++i)
                    if (at + i >= offset && at + i < offset + size)
                        out[at + i - offset] = bytes[i];
            return true;
        };
    }
};

} // namespace

// Whatever a file claims, the reader asks for it in pieces and holds no more than a block's
// record and lines and a few hundred results at a time: a file of zeros whose size field
// matches, a block claiming 8 million device lines in 2 GiB, one claiming 2 million results.
TEST(ResultsMergePieces, WhatAFileClaimsNeverMakesTheReaderHoldIt) {
    constexpr std::size_t Largest = 2147483647;
    constexpr std::size_t Zeros = 256u << 20;
    const auto block = [](ClaimedFile& file, std::int32_t lines, std::int32_t results) {
        const TComputerRecord computer = MakeComputer("claimed");
        file.Put(ResultsFirstBlockOffset, &computer, sizeof computer);
        file.Put(ResultsFirstBlockOffset + sizeof computer, &lines, 4);
        file.Put(ResultsFirstBlockOffset + sizeof computer + 4 + std::size_t(lines) * 256, &results,
                 4);
    };
    struct Case {
        const char* Name;
        ClaimedFile File;
        std::int32_t Lines;   // of the first block, when it is given
        std::int32_t Results; // likewise
        TMergeOutcome Outcome;
        std::int32_t ComputersLeftOut;
        std::int32_t ResultsLeftOut;
        std::size_t MostRead; // in all, at most
    };
    Case cases[] = {
        // The last block of zeros is cut short by the size field. (The program's own test reads
        // 2 GiB of them; 256 MiB show the same here.)
        {"256 MiB of zeros",
         {Zeros, 0x7FFFFFFF, {}},
         -1,
         -1,
         TMergeOutcome::Stopped,
         std::int32_t((Zeros - 266) / (sizeof(TComputerRecord) + 8)),
         0,
         Zeros / 10 * 11},
        {"8 million device lines",
         {Largest, 1, {}},
         8000000,
         0,
         TMergeOutcome::Merged,
         1,
         0,
         1 << 20},
        {"2 million results",
         {Zeros, 1, {}},
         0,
         2000000,
         TMergeOutcome::Merged,
         0,
         2000000,
         Zeros / 10 * 11},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Lines >= 0)
            block(c.File, c.Lines, c.Results);
        StoreImage store;
        TMergeReport report;
        const TResultsFileReader read = c.File.Reader();
        MergeResultsFile(c.File.Size, read, LatestPlausibleTimestamp(), store.Computers,
                         store.Devices, store.Results, &report);
        EXPECT_EQ(report.Outcome, c.Outcome);
        EXPECT_EQ(report.ComputersLeftOut, c.ComputersLeftOut);
        EXPECT_EQ(report.ResultsLeftOut, c.ResultsLeftOut);
        EXPECT_LE(c.File.LargestRead, 64u * 1024);
        EXPECT_LE(c.File.TotalRead, c.MostRead);
        EXPECT_LE(store.Computers.size(), 1u);
        for (const auto& results : store.Results)
            EXPECT_TRUE(results.empty());
        EXPECT_FALSE(report.TookEverything());
    }
}

// A read that fails (an I/O error, a file cut short behind the reader's back) stops the merge
// there: the blocks before are taken, none after, and the report says where and how many.
TEST(ResultsMergePieces, AReadThatFailsStopsThere) {
    constexpr int Computers = 40;
    StoreImage many;
    std::vector<TResultRecord> results;
    for (int i = 0; i < ConfigurationCount; ++i)
        results.push_back(NthResult(i, 100 + i, 10.0f + i));
    for (int i = 0; i < Computers; ++i)
        many.Add(MakeComputer(std::to_string(i)), {"  chip"}, results);
    const auto file = many.Encode();
    const std::size_t blockSize = sizeof(TComputerRecord) + 4 + 256 + 4 +
                                  std::size_t{ConfigurationCount} * sizeof(TResultRecord);
    const std::size_t window = 64 * 1024; // the most the reader asks for at once here

    // The header's text before the version bytes is never read.
    for (std::size_t failAt = ResultsVersionOffset; failAt < file.size(); failAt += 4099) {
        SCOPED_TRACE(failAt);
        const TResultsFileReader read = [&](std::size_t offset, std::size_t size,
                                            std::uint8_t* out) {
            if (offset <= failAt && failAt < offset + size)
                return false;
            std::memcpy(out, file.data() + offset, size);
            return true;
        };
        StoreImage store;
        TMergeReport report;
        MergeResultsFile(file.size(), read, LatestPlausibleTimestamp(), store.Computers,
                         store.Devices, store.Results, &report);
        if (report.Outcome == TMergeOutcome::Ignored) {
            EXPECT_EQ(report.IgnoredBecause, TIgnoredBecause::ReadFailed);
            EXPECT_LT(failAt, ResultsFirstBlockOffset + window);
            EXPECT_TRUE(store.Computers.empty());
            continue;
        }
        ASSERT_EQ(report.Outcome, TMergeOutcome::Stopped);
        EXPECT_EQ(report.StoppedBecause, TStoppedBecause::ReadFailed);
        EXPECT_FALSE(report.TookEverything());
        EXPECT_LE(report.StopOffset, failAt);
        const std::size_t failingBlock = (failAt - ResultsFirstBlockOffset) / blockSize;
        const std::size_t wholeBefore =
            failAt > ResultsFirstBlockOffset + window
                ? (failAt - window - ResultsFirstBlockOffset) / blockSize
                : 0;
        EXPECT_LE(store.Computers.size(), failingBlock + 1);
        EXPECT_GE(store.Computers.size(), wholeBefore);
        EXPECT_EQ(report.BlocksMerged, static_cast<std::int32_t>(store.Computers.size()));
        EXPECT_EQ(report.ComputersNotReached(), Computers - report.BlocksMerged);
        for (std::size_t i = 0; i < store.Computers.size(); ++i) {
            EXPECT_EQ(std::memcmp(&store.Computers[i], &many.Computers[i], sizeof(TComputerRecord)),
                      0);
            ASSERT_LE(store.Results[i].size(), results.size());
            if (!store.Results[i].empty()) {
                EXPECT_EQ(std::memcmp(store.Results[i].data(), results.data(),
                                      store.Results[i].size() * sizeof(TResultRecord)),
                          0);
            }
        }
    }
}
