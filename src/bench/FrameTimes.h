// The time of every measured frame of a pass, for the figures a result record cannot hold:
// percentiles and the 1 % low. Its room is taken before the timed loop, so keeping a frame
// never allocates while frames are timed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class TFrameTimeLog {
public:
    // Room for this many frames: more than a 7-second pass draws at 18,000 frames a second.
    static constexpr std::size_t DefaultCapacity = std::size_t{1} << 17;

    void Reserve(std::size_t capacity = DefaultCapacity);
    void Clear();
    // A frame of ms milliseconds, 0 counted as 1 as the statistics do. Past the reserved room
    // frames are counted as dropped, never stored.
    void Add(std::uint32_t ms);

    std::span<const std::uint32_t> Times() const { return times_; }
    std::size_t Dropped() const { return dropped_; }

private:
    std::vector<std::uint32_t> times_;
    std::size_t dropped_ = 0;
};

struct TFrameTimeFigures {
    std::size_t Frames = 0;
    // Nearest-rank percentiles of the frame time: the shortest time that at least p % of the
    // frames do not exceed.
    double P50Ms = 0;
    double P90Ms = 0;
    double P99Ms = 0;
    // The frame rate over the slowest 1 % of the frames (at least one frame).
    double Low1PercentFps = 0;
};

// The figures of a pass's frame times; all zero for no frames.
TFrameTimeFigures FrameTimeFigures(std::span<const std::uint32_t> times);
