// The logic of one benchmark pass that needs no screen: the scene's geometry and layout, the
// camera and light path, the frame timing loop and its statistics, the post-run figures and
// the recording of the result. The test screen (Test1) calls these; tests call them directly.
#pragma once

#include "bench/FrameTimes.h"
#include "render/DirectXGraphics.h"
#include "state/ResultsFile.h"
#include "state/Variables.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QDateTime;

// ---- Scene ----------------------------------------------------------------------------------

inline constexpr std::uint32_t MeasuredDurationMs = 7000;
inline constexpr double LightSpacingMs = 150.1;
inline constexpr DWORD SceneFVF = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1; // 0x112
inline constexpr int LightCount = 8;
inline constexpr int OuterRing = 21; // ring numbers M: 24 walls for 21, 20 walls for 20
inline constexpr int InnerRing = 20;

// One vertex of the scene buffer (FVF 0x112).
struct TSceneVertex {
    float X, Y, Z;
    float NX, NY, NZ;
    float TU, TV;
};
static_assert(sizeof(TSceneVertex) == 32);

// Radius of the regular n-gon with sides of length 5.
double PolygonRadius(int n);
// The camera path's radius, halfway between the inner ring and a 23-gon.
double PathRadius();

// Vertices of the buffer for detail level d: 240 d^2.
std::uint32_t SceneVertexCount(int detail);
// First vertex of the floor block: 90 d^2 (the wall block starts at 0).
std::uint32_t FloorBlockStart(int detail);
// Writes the wall block and then the floor block: SceneVertexCount(detail) vertices.
void WriteSceneGeometry(TSceneVertex* vertices, int detail);

// Walls of a ring (24 outer, 20 inner) and the texture of wall s of ring M.
int RingWallCount(int ring);
int WallTextureIndex(int ring, int wall);
// Tiles per side of the floor and ceiling grid (16).
int TileGridSize();
// Floor and ceiling triangles drawn in a frame: 2 * T^2 * 50 d^2 (walls are not counted).
std::int32_t FrameTriangleCount(int detail);

// The camera and the lights at e milliseconds after the start of measuring.
double CameraXAt(std::int64_t elapsedMs);
double CameraZAt(std::int64_t elapsedMs);
double CameraYawAt(std::int64_t elapsedMs);
// Light s sits where the camera will be 150.1 s ms later.
double LightXAt(int light, std::int64_t elapsedMs);
double LightZAt(int light, std::int64_t elapsedMs);
// A point light of the scene at the given position; the rest as the scene wants it.
D3DLIGHT8 SceneLight(float x, float y, float z);

// Texture cache files: level 0 of a texture as raw A8R8G8B8 rows of 4,096 bytes.
inline constexpr std::size_t TextureCacheBytes = 1024u * 4096u;
// "Data" + set + "1" + index + ".dat", in the working directory.
std::string TextureCacheFileName(int set, int index);
// Copies the named cache file into level, at most TextureCacheBytes in one read (a short
// file fills only its bytes). False when the file does not open.
bool ReadTextureCache(const std::string& fileName, void* level);

// ---- Frame timing ---------------------------------------------------------------------------

// The statistics of the measured frames (times in whole milliseconds).
struct TFrameStats {
    std::uint32_t N = 0;
    float S1 = 0; // sum of ln dt, as stored
    float S2 = 0; // sum of (ln dt)^2, as stored
    // The same sums in double precision, from which the derived figures are computed: the
    // spread takes the square root of a difference of near-equal sums, where single-precision
    // rounding alone would make the spread of one frame about 1.0003.
    double SumLog = 0;
    double SumSqLog = 0;
    std::int64_t SumMs = 0; // kept wide; stored saturated
    std::uint32_t Shortest = 0xFFFFFFFFu;
    std::uint32_t Longest = 0;

    void Reset();
    // A frame of dt ms; 0 ms counts as 1 (the clock's resolution).
    void AddFrame(std::uint32_t dt);
};

// What the timing loop needs from outside: the clock, the drawing of one frame (given the
// measuring start t0, from which it derives the camera), the work after a frame (memory
// snapshot), the message pump, and the stop flag the pump may set.
struct TFrameLoopHooks {
    std::function<std::uint32_t()> Clock;
    std::function<void(std::uint32_t t0)> DrawFrame;
    std::function<void()> AfterFrame;
    std::function<void()> PumpMessages;
    std::function<bool()> Stopped;
    // Where the time of every measured frame is kept, when given.
    TFrameTimeLog* FrameTimes = nullptr;
};

// Runs the fly-through: three warm-up frames with the clock restarted before each, then
// measured frames until more than 7000 ms have passed since the fourth frame began or the
// stop flag is set. Returns the statistics of the measured frames. At least one frame is
// always drawn; when the run ends inside the warm-up (a frame longer than 7000 ms), the last
// warm-up frame, the only one the statistics hold, counts as the one measured frame.
TFrameStats RunFrameLoop(const TFrameLoopHooks& hooks);

// ---- After the run --------------------------------------------------------------------------

struct TBlackSample {
    std::uint32_t Total = 0;
    std::uint32_t Black = 0;
};

// Samples an A8R8G8B8 picture on the 10-pixel grid; a point is black when its RGB is 0.
// pitch is in bytes.
TBlackSample SampleBlackPoints(const std::uint8_t* pixels, int pitch, int width, int height);
// black / total * 100, rounded to the nearest integer with halves to even, computed exactly.
std::uint8_t BlackPercentOf(const TBlackSample& sample);
// Empty frames in 2000 ms to frames per second: k div 2, at most 65,535.
std::uint16_t EmptyFpsFromCount(std::uint64_t emptyFrames);

// A local date and time as a day count since 30 December 1899, the time of day as the fraction.
double DaysSince1899(const QDateTime& local);
// The current local date and time as such a day count.
double CurrentDateTime();

struct TPassMeasurements {
    TFrameStats Stats;
    std::int32_t TriangleCount = 0;
    std::uint8_t BlackPercent = 0;
    std::uint16_t EmptyFps = 0;
    std::uint32_t AvailPhys[4] = {};
    std::uint32_t AvailTextureMem[4] = {};
};

// The record of a pass of configuration test (aggregates not yet set). Stats.N must be >= 1.
// A record holding only the test set and the configuration (bytes 8 and 10..22), the rest
// zero: what identifies a result of that configuration.
TResultRecord ResultOfConfiguration(const TTestConfig& test);
TResultRecord BuildResultRecord(const TTestConfig& test, const TPassMeasurements& pass,
                                double timestamp);
// Adds the record to the list, or updates the last entry with the same key, keeping the
// run count, sum, minimum and maximum of Fps over all passes. Returns the entry's index.
std::size_t StoreResult(std::vector<TResultRecord>& results, const TResultRecord& record);
