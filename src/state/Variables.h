// The state that every window shares: the version, the fixed display-mode tables, the
// description of this computer, the results store, the configuration of the pass in progress
// and what a pass hands back to the main window; and the routines that several windows use.
#pragma once

#include "d3d8/D3D8.h"
#include "platform/FileReplacement.h"
#include "platform/Registry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// ---- Constants ------------------------------------------------------------------------------

inline constexpr std::uint8_t VersionMajor = 1;
inline constexpr std::uint8_t VersionMinor = 5;
inline constexpr std::uint8_t TestSet = 1;
inline constexpr std::uint8_t TextureCount = 6;

struct TModeSize {
    std::int32_t Width;
    std::int32_t Height;
};

inline constexpr int ModeSizeCount = 5;
inline constexpr int ModeDepthCount = 2;
inline constexpr TModeSize ModeSizes[ModeSizeCount] = {
    {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200}};
inline constexpr std::int32_t ModeDepths[ModeDepthCount] = {16, 32};

// The memory-pool code of the vertex buffer and the textures that every series runs with
// (D3DPOOL_MANAGED), and the scene detail levels of a test and of a presentation.
inline constexpr std::uint8_t ManagedPoolCode = 2;
inline constexpr std::uint8_t TestDetailLevel = 4;
inline constexpr std::uint8_t PresentationDetailLevel = 1;

// The title under which a running copy of the program is found by a later one.
inline constexpr const char* RunningCopyTitle = "Стендограф   ";

// The results file of the working directory.
inline constexpr const char* ResultsFileName = "Results.bin";

// The text stored where a value could not be determined.
inline constexpr std::string_view NotDetermined = "n/d";

// ---- Records --------------------------------------------------------------------------------

// A 256-byte length-prefixed text: byte 0 the length n, bytes 1..n the characters, the rest
// the tail (zero in memory).
using TStringSlot = std::array<std::uint8_t, 256>;

// Makes a slot holding text (cut to 255 bytes) with a zero tail; no scrambling.
TStringSlot MakeStringSlot(std::string_view text);
// The text of a slot (bytes 1..n), as stored (no unscrambling).
std::string StringSlotText(const TStringSlot& slot);

#pragma pack(push, 1)

// The configuration of the pass in progress; copied unchanged into bytes 10..22 of a result.
struct TTestConfig {
    std::uint16_t Width;
    std::uint16_t Height;
    std::uint16_t Depth;
    std::uint16_t RefreshRate;
    std::uint8_t HardwareDevice;
    std::uint8_t HardwareVertexProcessing;
    std::uint8_t VertexBufferMode;
    std::uint8_t TextureMode;
    std::uint8_t DetailLevel;
};

// One computer: eight scrambled string slots and the adapter's two capability blocks. Two
// records denote the same computer when all their bytes are equal.
struct TComputerRecord {
    TStringSlot Processor;
    TStringSlot VideoAdapter;
    TStringSlot Chipset;
    TStringSlot MemoryMB;
    TStringSlot OSName;
    TStringSlot Owner;
    TStringSlot TimeZone;
    TStringSlot RecordTag;
    D3DCAPS8 HalCaps;
    D3DCAPS8 RefCaps;
};

// One result of one test configuration of a computer.
struct TResultRecord {
    double Timestamp; // days since 30 December 1899, time of day as the fraction
    std::uint8_t TestSet;
    std::uint8_t Reserved1;
    std::uint16_t Width;
    std::uint16_t Height;
    std::uint16_t Depth;
    std::uint16_t RefreshRate;
    std::uint8_t HardwareDevice;
    std::uint8_t HardwareVertexProcessing;
    std::uint8_t VertexBufferMode;
    std::uint8_t TextureMode;
    std::uint8_t DetailLevel;
    std::uint8_t BlackPercent;
    float SumLogFrameTime;
    float SumSqLogFrameTime;
    float TrianglesPerMs;
    float Fps;
    float MinFps;
    float MaxFps;
    float FrameTimeSpread;
    std::uint32_t FrameCount;
    std::int32_t TotalTimeMs;
    std::uint16_t EmptyFps;
    std::uint16_t Reserved2;
    std::uint32_t AvailPhys[4];
    std::uint32_t AvailTextureMem[4];
    float FpsSum;
    float FpsMin;
    float FpsMax;
    std::int32_t RunCount;
};

#pragma pack(pop)

static_assert(sizeof(TTestConfig) == 13);
static_assert(offsetof(TTestConfig, Height) == 2);
static_assert(offsetof(TTestConfig, Depth) == 4);
static_assert(offsetof(TTestConfig, RefreshRate) == 6);
static_assert(offsetof(TTestConfig, HardwareDevice) == 8);
static_assert(offsetof(TTestConfig, HardwareVertexProcessing) == 9);
static_assert(offsetof(TTestConfig, VertexBufferMode) == 10);
static_assert(offsetof(TTestConfig, TextureMode) == 11);
static_assert(offsetof(TTestConfig, DetailLevel) == 12);

static_assert(sizeof(TComputerRecord) == 2472);
static_assert(offsetof(TComputerRecord, VideoAdapter) == 256);
static_assert(offsetof(TComputerRecord, Chipset) == 512);
static_assert(offsetof(TComputerRecord, MemoryMB) == 768);
static_assert(offsetof(TComputerRecord, OSName) == 1024);
static_assert(offsetof(TComputerRecord, Owner) == 1280);
static_assert(offsetof(TComputerRecord, TimeZone) == 1536);
static_assert(offsetof(TComputerRecord, RecordTag) == 1792);
static_assert(offsetof(TComputerRecord, HalCaps) == 2048);
static_assert(offsetof(TComputerRecord, RefCaps) == 2260);

static_assert(sizeof(TResultRecord) == 112);
static_assert(offsetof(TResultRecord, TestSet) == 8);
static_assert(offsetof(TResultRecord, Width) == 10);
static_assert(offsetof(TResultRecord, Height) == 12);
static_assert(offsetof(TResultRecord, Depth) == 14);
static_assert(offsetof(TResultRecord, RefreshRate) == 16);
static_assert(offsetof(TResultRecord, HardwareDevice) == 18);
static_assert(offsetof(TResultRecord, HardwareVertexProcessing) == 19);
static_assert(offsetof(TResultRecord, VertexBufferMode) == 20);
static_assert(offsetof(TResultRecord, TextureMode) == 21);
static_assert(offsetof(TResultRecord, DetailLevel) == 22);
static_assert(offsetof(TResultRecord, BlackPercent) == 23);
static_assert(offsetof(TResultRecord, SumLogFrameTime) == 24);
static_assert(offsetof(TResultRecord, SumSqLogFrameTime) == 28);
static_assert(offsetof(TResultRecord, TrianglesPerMs) == 32);
static_assert(offsetof(TResultRecord, Fps) == 36);
static_assert(offsetof(TResultRecord, MinFps) == 40);
static_assert(offsetof(TResultRecord, MaxFps) == 44);
static_assert(offsetof(TResultRecord, FrameTimeSpread) == 48);
static_assert(offsetof(TResultRecord, FrameCount) == 52);
static_assert(offsetof(TResultRecord, TotalTimeMs) == 56);
static_assert(offsetof(TResultRecord, EmptyFps) == 60);
static_assert(offsetof(TResultRecord, AvailPhys) == 64);
static_assert(offsetof(TResultRecord, AvailTextureMem) == 80);
static_assert(offsetof(TResultRecord, FpsSum) == 96);
static_assert(offsetof(TResultRecord, FpsMin) == 100);
static_assert(offsetof(TResultRecord, FpsMax) == 104);
static_assert(offsetof(TResultRecord, RunCount) == 108);

// ---- Shared variables -----------------------------------------------------------------------

extern TComputerRecord CurrentComputer;
extern std::int32_t CurrentComputerIndex;

// The results store: three parallel arrays of equal length, one entry per computer, never
// shrunk.
extern std::vector<TComputerRecord> Computers;
extern std::vector<std::vector<TStringSlot>> ComputerDevices;
extern std::vector<std::vector<TResultRecord>> ComputerResults;

extern std::uint8_t ModeAvailable[ModeSizeCount][ModeDepthCount];
extern TTestConfig CurrentTest;
extern bool Direct3DMissing;
extern bool ResultsChanged;
extern bool TestFailed;
extern std::string StatusText;
// The store holds what the last save could not write to Results.bin (set and cleared by
// SaveResults), so that the main window offers to save it again before it closes.
extern bool ResultsUnsaved;

// ---- Shared routines ------------------------------------------------------------------------

// String scrambling of every stored descriptive text (texts of up to two characters stay).
TStringSlot ScrambleText(const TStringSlot& text);
TStringSlot UnscrambleText(const TStringSlot& text);

struct TMergeReport;
// Reads the named results file and merges it into the store. The report, when given, says
// what was merged and what was left (see state/ResultsFile.h).
void LoadResults(const std::string& fileName, TMergeReport* report = nullptr);
// What became of a save: Results.bin replaced by the whole store, or left byte for byte as it
// was, and why.
struct TSaveOutcome {
    bool Saved = false;
    bool Locked = false;   // another copy of the program held the folder
    bool TooLarge = false; // the store does not fit the file's size field
    TFileError File;       // the step of writing the file that failed
    // MergeAndSaveResults: Results.bin could not be opened for reading (the system's error),
    // so it was not replaced.
    int UnreadErrno = 0;
    // A Results.bin that this copy had not read whole (damaged, of another version, holding
    // records that cannot be measurements, or changed behind its back) is kept under this name
    // before it is replaced; KeptRead is what its reader took and left, null when this copy
    // never read the file it replaced.
    std::string KeptAs;
    std::shared_ptr<const TMergeReport> KeptRead;
};

// Writes the whole store to "Results.bin" in the working directory: the complete new file or,
// after the retries and the Retry/Ignore dialog, none at all. Sets ResultsUnsaved.
TSaveOutcome SaveResults();
// After a series, or a merge at start: merges Results.bin from the disk into the store
// (another copy may have written it meanwhile) and rewrites it, holding the folder against
// other copies in between.
TSaveOutcome MergeAndSaveResults();
// Why a save failed, for the windows (Russian, a phrase without the final full stop).
std::string SaveFailureText(const TSaveOutcome& outcome);
// What the user is told of a results file that was kept under another name (Russian): why it
// was, and what was read of it.
std::string KeptFileText(const TSaveOutcome& save);
// What the windows tell the user of a results file that was not taken whole (Russian): which
// records were left, how many and why; empty when it was taken whole or not read at all.
std::string ReadReportText(const std::string& fileName, const TMergeReport& report);

class FolderLock;
// Holds Results.bin against other copies of the program for a whole merge and rewrite, so
// that no copy rewrites the file between another's merge and save:
//     { ResultsFileLock lock; LoadResults("Results.bin"); SaveResults(); }
// Taking it waits as opening the file does (retries for 2 s, then the Retry/Ignore dialog,
// which closes by itself once another copy lets go). If the user chooses Ignore, LoadResults
// and SaveResults still run, each taking the lock for its own access and asking on its own
// when that fails.
class ResultsFileLock {
public:
    ResultsFileLock();
    ~ResultsFileLock();
    ResultsFileLock(const ResultsFileLock&) = delete;
    ResultsFileLock& operator=(const ResultsFileLock&) = delete;
    bool Held() const;
    // Given up while another copy of the program held the file.
    bool HeldByAnotherCopy() const { return busy_; }

private:
    std::unique_ptr<FolderLock> lock_;
    bool busy_ = false;
};

// Registry text under HKEY_LOCAL_MACHINE as a scrambled slot; "n/d" where it is unusable.
TStringSlot ReadRegistryText(HKEY root, std::string_view keyPath, std::string_view valueName);
void SetStatusText(std::string_view text);
