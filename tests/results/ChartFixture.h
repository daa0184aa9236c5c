// A clean global store for chart and window tests, and computers and results with recognisable
// contents.
#pragma once

#include "chart/StoreChart.h"
#include "state/Variables.h"

#include <QImage>
#include <QRect>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

inline TStringSlot Scrambled(const std::string& text) {
    return ScrambleText(MakeStringSlot(text));
}

// A computer with a HAL block (hardware vertex processing when hwtl) or none at all.
inline TComputerRecord MakeComputer(const std::string& processor, const std::string& adapter,
                                    bool hal = true, bool hwtl = true,
                                    const std::string& owner = "n/d") {
    TComputerRecord computer{};
    computer.Processor = Scrambled(processor);
    computer.VideoAdapter = Scrambled(adapter);
    computer.Chipset = Scrambled("n/d");
    computer.MemoryMB = Scrambled("4096");
    computer.OSName = Scrambled("Debian GNU/Linux 12");
    computer.Owner = Scrambled(owner);
    computer.TimeZone = Scrambled("Europe/Moscow (Bias=3)");
    computer.RecordTag = Scrambled("1");
    if (hal) {
        computer.HalCaps.DeviceType = D3DDEVTYPE_HAL;
        computer.HalCaps.DevCaps = hwtl ? D3DDEVCAPS_HWTRANSFORMANDLIGHT : 0;
    }
    computer.RefCaps.DeviceType = D3DDEVTYPE_REF;
    return computer;
}

// A test result of kind 0 (hardware), 1 (software) or 2 (software emulation).
inline TResultRecord MakeResult(int width, int height, int depth, int kind, float trianglesPerMs,
                                std::uint8_t detail = 4) {
    TResultRecord result{};
    result.Timestamp = 46000;
    result.TestSet = 1;
    result.Width = static_cast<std::uint16_t>(width);
    result.Height = static_cast<std::uint16_t>(height);
    result.Depth = static_cast<std::uint16_t>(depth);
    result.HardwareDevice = ChartKinds[kind].HardwareDevice;
    result.HardwareVertexProcessing = ChartKinds[kind].HardwareVertexProcessing;
    result.VertexBufferMode = 2;
    result.TextureMode = 2;
    result.DetailLevel = detail;
    result.TrianglesPerMs = trianglesPerMs;
    result.Fps = trianglesPerMs * 5 / 2048;
    result.RunCount = 1;
    return result;
}

// Each test starts and ends with an empty store, this computer at index 0 and no display mode
// accepted.
class ChartStoreTest : public testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        Computers.clear();
        ComputerDevices.clear();
        ComputerResults.clear();
        CurrentComputerIndex = 0;
        std::memset(ModeAvailable, 0, sizeof ModeAvailable);
    }
    static int Add(const TComputerRecord& computer, std::vector<TResultRecord> results = {}) {
        Computers.push_back(computer);
        ComputerDevices.emplace_back();
        ComputerResults.push_back(std::move(results));
        return static_cast<int>(Computers.size()) - 1;
    }
};

// ---- Reading pictures ----------------------------------------------------------------------

inline bool IsInk(QRgb pixel) {
    return (pixel & 0xFFFFFF) == 0;
}

// Black pixels in the region.
inline int Ink(const QImage& image, const QRect& region) {
    int count = 0;
    const QRect r = region.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += IsInk(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// The smallest rectangle holding every black pixel of the region (empty when there is none).
inline QRect InkBounds(const QImage& image, const QRect& region) {
    QRect bounds;
    const QRect r = region.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (IsInk(image.pixel(x, y)))
                bounds = bounds.united(QRect(x, y, 1, 1));
    return bounds;
}
