#include "state/ResultPlausibility.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {

// The unit roundoff of a 32-bit float: a stored figure is the exact one within this, relative.
constexpr double FloatRoundoff = 1.0 / (1 << 24);
// Slack for the libm and double arithmetic around the float roundings.
constexpr double Slack = 1e-6;

// The measured seven seconds: a pass stops before the first frame that starts later.
constexpr double MeasuredMs = 7000;
// The time between the loop's check of the clock and the start of the frame: nothing but a
// preempted process makes it more than a millisecond.
constexpr double FrameStartSlackMs = 1000;
// The longest frame whose pass the record's total time can hold: about 24 days.
constexpr double LongestFrameMs = 2147483647.0;
// Floor and ceiling triangles per frame, per squared detail level.
constexpr double TrianglesPerDetailSquared = 25600;

bool Near(double value, double expected, double tolerance) {
    return std::abs(value - expected) <= tolerance;
}

bool IsDisplayMode(const TResultRecord& r) {
    const bool size = std::any_of(std::begin(ModeSizes), std::end(ModeSizes), [&](TModeSize m) {
        return m.Width == r.Width && m.Height == r.Height;
    });
    const bool depth = std::any_of(std::begin(ModeDepths), std::end(ModeDepths),
                                   [&](std::int32_t d) { return d == r.Depth; });
    return size && depth;
}

// HAL with hardware or software vertex processing, or full software emulation.
bool IsAcceleration(const TResultRecord& r) {
    if (r.HardwareDevice == 1)
        return r.HardwareVertexProcessing <= 1;
    return r.HardwareDevice == 0 && r.HardwareVertexProcessing == 0;
}

bool AllFinite(std::initializer_list<float> values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

// A frame time in whole milliseconds recovered from a rate 1000 / t stored as a float; 0 when
// the rate is not such a quotient. Beyond a few minutes a float no longer tells the
// milliseconds apart, so any rate is taken there.
double WholeMsOfRate(float rate) {
    if (!(rate > 0))
        return 0;
    const double ms = 1000.0 / rate;
    const double whole = std::round(ms);
    if (whole < 1 || !Near(ms, whole, 4 * FloatRoundoff * ms + Slack))
        return 0;
    return whole;
}

TImplausible JudgeConfiguration(const TResultRecord& r, double latestTimestamp) {
    if (!std::isfinite(r.Timestamp) || r.Timestamp < EarliestPlausibleTimestamp ||
        r.Timestamp > latestTimestamp)
        return TImplausible::Timestamp;
    if (r.TestSet != TestSet)
        return TImplausible::TestSet;
    if (r.Reserved1 != 0 || r.Reserved2 != 0)
        return TImplausible::ReservedBytes;
    if (!IsDisplayMode(r))
        return TImplausible::DisplayMode;
    if (!IsAcceleration(r))
        return TImplausible::Acceleration;
    if (r.VertexBufferMode > ManagedPoolCode || r.TextureMode > ManagedPoolCode)
        return TImplausible::MemoryPool;
    if (r.DetailLevel != TestDetailLevel && r.DetailLevel != PresentationDetailLevel)
        return TImplausible::DetailLevel;
    if (r.RefreshRate > 1000)
        return TImplausible::RefreshRate;
    if (r.BlackPercent > 100)
        return TImplausible::BlackPercent;
    return TImplausible::None;
}

// The figures of the latest pass: the frame count N, the sums S1 and S2 of the logarithms of
// the frame times (float sums of non-negative terms, so each is within (N - 1) u of itself),
// the shortest and longest frame from the extreme rates, the total, and what is derived from
// the geometric mean exp(S1 / N).
TImplausible JudgeLatestPass(const TResultRecord& r) {
    if (r.FrameCount == 0)
        return TImplausible::FrameCount;
    const double n = r.FrameCount;
    const double s1 = r.SumLogFrameTime;
    const double s2 = r.SumSqLogFrameTime;
    const double shortest = WholeMsOfRate(r.MaxFps);
    const double longest = WholeMsOfRate(r.MinFps);
    if (shortest == 0 || longest == 0 || shortest > longest || s1 < 0 || s2 < 0)
        return TImplausible::FrameTimes;
    const double total = r.TotalTimeMs;
    if (total < n * shortest * (1 - Slack) || total > n * longest * (1 + Slack) ||
        total > MeasuredMs + longest + FrameStartSlackMs)
        return TImplausible::FrameTimes;

    const double meanLog = s1 / n;
    const double meanLogTolerance = FloatRoundoff * s1 + Slack;
    if (meanLog < std::log(shortest) - meanLogTolerance ||
        meanLog > std::log(longest) + meanLogTolerance)
        return TImplausible::FrameTimes;
    if (!(r.Fps > 0) || !Near(std::log(1000.0 / r.Fps), meanLog, meanLogTolerance))
        return TImplausible::FrameRate;

    const double triangles = TrianglesPerFrame(r.DetailLevel) * r.Fps / 1000.0;
    if (!Near(r.TrianglesPerMs, triangles, 4 * FloatRoundoff * triangles + Slack))
        return TImplausible::Triangles;

    // The spread is exp of the standard deviation of the logarithms: at least 1, at most the
    // root of longest / shortest, and its square logarithm is the variance S2/N - (S1/N)^2.
    if (!(r.FrameTimeSpread >= 1 - Slack))
        return TImplausible::Spread;
    const double deviation = std::log(std::max(1.0, double{r.FrameTimeSpread}));
    const double halfRange = (std::log(longest) - std::log(shortest)) / 2;
    if (deviation > halfRange * (1 + Slack) + 4 * FloatRoundoff + Slack)
        return TImplausible::Spread;
    const double variance = std::abs(s2 / n - meanLog * meanLog);
    const double varianceTolerance =
        FloatRoundoff * (s2 + 2 * meanLog * s1) + 4 * FloatRoundoff * deviation + Slack;
    if (!Near(deviation * deviation, variance, varianceTolerance))
        return TImplausible::Spread;
    return TImplausible::None;
}

// The run statistics: the latest rate is one of the runs, and the float sum over RunCount
// runs lies between RunCount times the least and the greatest.
TImplausible JudgeRuns(const TResultRecord& r) {
    if (r.RunCount < 1)
        return TImplausible::RunCount;
    const double fps = r.Fps;
    const double tolerance = 4 * FloatRoundoff * fps;
    if (r.RunCount == 1) {
        if (!Near(r.FpsSum, fps, tolerance) || !Near(r.FpsMin, fps, tolerance) ||
            !Near(r.FpsMax, fps, tolerance))
            return TImplausible::RunStatistics;
        return TImplausible::None;
    }
    if (!(r.FpsMin > 0) || r.FpsMin > fps + tolerance || r.FpsMax < fps - tolerance)
        return TImplausible::RunStatistics;
    const double runs = r.RunCount;
    const double sumTolerance = (runs * FloatRoundoff + Slack) * runs * r.FpsMax;
    if (r.FpsSum < runs * r.FpsMin - sumTolerance || r.FpsSum > runs * r.FpsMax + sumTolerance)
        return TImplausible::RunStatistics;
    return TImplausible::None;
}

bool HasControlCharacter(const TStringSlot& stored) {
    const TStringSlot text = UnscrambleText(stored);
    return std::any_of(text.begin() + 1, text.begin() + 1 + text[0],
                       [](std::uint8_t c) { return c < 0x20 || c == 0x7F; });
}

bool IsMemoryText(const std::string& text) {
    if (text == NotDetermined)
        return true;
    return !text.empty() && text.size() <= 10 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A capability block is all zero (no such device) or one of this type on adapter 0.
bool IsCapabilityBlock(const D3DCAPS8& caps, D3DDEVTYPE type) {
    if (caps.DeviceType == 0) {
        static const D3DCAPS8 none{};
        return std::memcmp(&caps, &none, sizeof caps) == 0;
    }
    return caps.DeviceType == type && caps.AdapterOrdinal == 0;
}

} // namespace

TImplausible JudgeResult(const TResultRecord& r, double latestTimestamp) {
    if (const TImplausible why = JudgeConfiguration(r, latestTimestamp); why != TImplausible::None)
        return why;
    if (!AllFinite({r.SumLogFrameTime, r.SumSqLogFrameTime, r.TrianglesPerMs, r.Fps, r.MinFps,
                    r.MaxFps, r.FrameTimeSpread, r.FpsSum, r.FpsMin, r.FpsMax}))
        return TImplausible::NotFinite;
    if (const TImplausible why = JudgeLatestPass(r); why != TImplausible::None)
        return why;
    return JudgeRuns(r);
}

TImplausible JudgeComputer(const TComputerRecord& computer,
                           const std::vector<TStringSlot>& devices) {
    if (StringSlotText(UnscrambleText(computer.RecordTag)) != "1")
        return TImplausible::RecordTag;
    if (devices.size() > MaxDeviceLines)
        return TImplausible::DeviceLines;
    const TStringSlot* slots = &computer.Processor;
    for (int i = 0; i < 8; ++i)
        if (HasControlCharacter(slots[i]))
            return TImplausible::ControlCharacter;
    for (const TStringSlot& line : devices)
        if (HasControlCharacter(line))
            return TImplausible::ControlCharacter;
    if (!IsMemoryText(StringSlotText(UnscrambleText(computer.MemoryMB))))
        return TImplausible::MemoryText;
    if (!IsCapabilityBlock(computer.HalCaps, D3DDEVTYPE_HAL) ||
        !IsCapabilityBlock(computer.RefCaps, D3DDEVTYPE_REF))
        return TImplausible::Capabilities;
    return TImplausible::None;
}

double LatestPlausibleTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // Days since 30 December 1899 of the local date and time, as a TDateTime counts them.
    std::tm epoch{};
    epoch.tm_year = -1;
    epoch.tm_mon = 11;
    epoch.tm_mday = 30;
    const std::time_t localAsUtc = timegm(&local);
    const std::time_t epochAsUtc = timegm(&epoch);
    return static_cast<double>(localAsUtc - epochAsUtc) / 86400.0 + 1.0;
}

std::string_view ImplausibleText(TImplausible why) {
    switch (why) {
    case TImplausible::None:
        return "plausible";
    case TImplausible::Timestamp:
        return "its time is not a time the result could have been measured";
    case TImplausible::TestSet:
        return "its test set is not the program's";
    case TImplausible::ReservedBytes:
        return "its reserved bytes are not zero";
    case TImplausible::DisplayMode:
        return "its display mode is not one of the ten the program tests";
    case TImplausible::Acceleration:
        return "its device and vertex processing are not an acceleration the program tests";
    case TImplausible::MemoryPool:
        return "its memory pool codes are unknown";
    case TImplausible::DetailLevel:
        return "its detail level is neither a test's nor a presentation's";
    case TImplausible::RefreshRate:
        return "its refresh rate is above any display's";
    case TImplausible::BlackPercent:
        return "its share of black points is above 100 %";
    case TImplausible::NotFinite:
        return "a figure is not a finite number";
    case TImplausible::RunCount:
        return "its run count is not positive";
    case TImplausible::FrameCount:
        return "its frame count is not positive";
    case TImplausible::FrameTimes:
        return "its frame count, frame times and total time disagree";
    case TImplausible::FrameRate:
        return "its frame rate disagrees with its frame times";
    case TImplausible::Triangles:
        return "its triangles per ms disagree with its frame rate";
    case TImplausible::Spread:
        return "its frame-time spread disagrees with its frame times";
    case TImplausible::RunStatistics:
        return "its sum, minimum and maximum over the runs disagree";
    case TImplausible::RecordTag:
        return "the computer's record tag is not \"1\"";
    case TImplausible::ControlCharacter:
        return "a text of the computer holds a control character";
    case TImplausible::MemoryText:
        return "the computer's memory size is not a number";
    case TImplausible::Capabilities:
        return "the computer's Direct3D capability blocks are damaged";
    case TImplausible::DeviceLines:
        return "the computer has more device lines than any computer has";
    }
    return "implausible";
}

std::string_view ImplausibleTextRussian(TImplausible why) {
    switch (why) {
    case TImplausible::None:
        return "правдоподобен";
    case TImplausible::Timestamp:
        return "время результата невозможно";
    case TImplausible::TestSet:
        return "набор тестов не тот, что у программы";
    case TImplausible::ReservedBytes:
        return "зарезервированные байты не равны нулю";
    case TImplausible::DisplayMode:
        return "видеорежим не из тех десяти, что проверяет программа";
    case TImplausible::Acceleration:
        return "такого вида ускорения программа не проверяет";
    case TImplausible::MemoryPool:
        return "неизвестный код пула памяти";
    case TImplausible::DetailLevel:
        return "уровень детализации ни тестовый, ни демонстрационный";
    case TImplausible::RefreshRate:
        return "частота обновления выше, чем у любого монитора";
    case TImplausible::BlackPercent:
        return "доля чёрных точек больше 100 %";
    case TImplausible::NotFinite:
        return "одно из чисел не конечно";
    case TImplausible::RunCount:
        return "число запусков не положительно";
    case TImplausible::FrameCount:
        return "число кадров не положительно";
    case TImplausible::FrameTimes:
        return "число кадров, их длительности и общее время не согласуются";
    case TImplausible::FrameRate:
        return "частота кадров не согласуется с их длительностями";
    case TImplausible::Triangles:
        return "число треугольников в мс не согласуется с частотой кадров";
    case TImplausible::Spread:
        return "разброс длительностей кадров не согласуется с ними самими";
    case TImplausible::RunStatistics:
        return "сумма, минимум и максимум по запускам не согласуются";
    case TImplausible::RecordTag:
        return "метка записи компьютера не «1»";
    case TImplausible::ControlCharacter:
        return "в описании компьютера есть управляющий символ";
    case TImplausible::MemoryText:
        return "объём памяти компьютера не число";
    case TImplausible::Capabilities:
        return "описание возможностей Direct3D повреждено";
    case TImplausible::DeviceLines:
        return "у компьютера больше строк описания устройств, чем бывает";
    }
    return "неправдоподобен";
}

double TrianglesPerFrame(std::uint8_t detailLevel) {
    return TrianglesPerDetailSquared * detailLevel * detailLevel;
}

TResultRecord SteadyPassResult(const TResultRecord& configuration, double fps, double timestamp) {
    TResultRecord r{};
    r.TestSet = configuration.TestSet;
    r.Width = configuration.Width;
    r.Height = configuration.Height;
    r.Depth = configuration.Depth;
    r.RefreshRate = configuration.RefreshRate;
    r.HardwareDevice = configuration.HardwareDevice;
    r.HardwareVertexProcessing = configuration.HardwareVertexProcessing;
    r.VertexBufferMode = configuration.VertexBufferMode;
    r.TextureMode = configuration.TextureMode;
    r.DetailLevel = configuration.DetailLevel;
    r.Timestamp = timestamp;

    const double triangles = TrianglesPerFrame(r.DetailLevel);
    const double mean = std::clamp(1000.0 / fps, 1.0, LongestFrameMs);
    const double shortest = std::floor(mean);
    const double longest = std::ceil(mean);
    const double n = std::max(1.0, std::floor(MeasuredMs / mean));
    // The share of longer frames that puts the mean of the logarithms at log(mean).
    const double longShare = longest > shortest ? (std::log(mean) - std::log(shortest)) /
                                                      (std::log(longest) - std::log(shortest))
                                                : 0;
    const double meanSquare = (1 - longShare) * std::pow(std::log(shortest), 2) +
                              longShare * std::pow(std::log(longest), 2);
    r.FrameCount = static_cast<std::uint32_t>(n);
    r.SumLogFrameTime = static_cast<float>(n * std::log(mean));
    r.SumSqLogFrameTime = static_cast<float>(n * meanSquare);
    r.TotalTimeMs =
        static_cast<std::int32_t>(std::clamp(std::round(n * mean), n * shortest, n * longest));
    r.TrianglesPerMs = static_cast<float>(triangles / mean);
    r.Fps = static_cast<float>(1000.0 / mean);
    r.MinFps = static_cast<float>(1000.0 / longest);
    r.MaxFps = static_cast<float>(1000.0 / shortest);
    // From the exact sums, as a pass computes it.
    r.FrameTimeSpread =
        static_cast<float>(std::exp(std::sqrt(std::abs(meanSquare - std::pow(std::log(mean), 2)))));
    r.FpsSum = r.FpsMin = r.FpsMax = r.Fps;
    r.RunCount = 1;
    return r;
}
