#include "bench/FrameTimes.h"

#include <algorithm>
#include <cmath>
#include <numeric>

void TFrameTimeLog::Reserve(std::size_t capacity) {
    times_.reserve(capacity);
    Clear();
}

void TFrameTimeLog::Clear() {
    times_.clear();
    dropped_ = 0;
}

void TFrameTimeLog::Add(std::uint32_t ms) {
    if (times_.size() == times_.capacity()) {
        ++dropped_;
        return;
    }
    times_.push_back(std::max<std::uint32_t>(ms, 1));
}

TFrameTimeFigures FrameTimeFigures(std::span<const std::uint32_t> times) {
    TFrameTimeFigures figures;
    figures.Frames = times.size();
    if (times.empty())
        return figures;
    std::vector<std::uint32_t> sorted(times.begin(), times.end());
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const auto percentile = [&](unsigned p) {
        const std::size_t rank = (p * n + 99) / 100; // ceil(p n / 100), at least 1
        return static_cast<double>(sorted[std::max<std::size_t>(rank, 1) - 1]);
    };
    figures.P50Ms = percentile(50);
    figures.P90Ms = percentile(90);
    figures.P99Ms = percentile(99);
    const std::size_t slowest = std::max<std::size_t>(n / 100, 1);
    const double slowestMs =
        std::accumulate(sorted.end() - static_cast<std::ptrdiff_t>(slowest), sorted.end(), 0.0);
    figures.Low1PercentFps = 1000.0 * static_cast<double>(slowest) / slowestMs;
    return figures;
}
