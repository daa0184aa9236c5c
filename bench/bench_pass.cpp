// Runs one real benchmark pass through MainProc in the current display and prints the
// recorded result as one JSON line:
//
//     bench_pass WIDTH HEIGHT DEPTH ref|hal-hw|hal-sw DETAIL [--screenshot FILE]
//
// ref is full software emulation, hal-hw the HAL device with hardware vertex processing,
// hal-sw with software vertex processing. Where the desktop's renderer is a software one
// (no GPU), hal-* turns on the runtime's test switch that lets it count as hardware; a note
// on standard error says so. --screenshot saves the picture on the screen halfway through
// the measured fly-through as a PNG file.
#include "bench/Test1.h"
#include "platform/Clock.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_pass WIDTH HEIGHT DEPTH ref|hal-hw|hal-sw DETAIL "
                 "[--screenshot FILE]\n"
                 "  hal-* on a machine whose renderer is software turns on the runtime's test\n"
                 "  switch that treats the software renderer as a hardware one.\n");
    return 2;
}

bool ReadCaps(D3DCAPS8& hal, D3DCAPS8& ref) {
    IDirect3D8* d3d = Direct3DCreate8(D3D_SDK_VERSION);
    if (d3d == nullptr)
        return false;
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &hal)))
        hal = D3DCAPS8{};
    if (FAILED(d3d->GetDeviceCaps(0, D3DDEVTYPE_REF, &ref)))
        ref = D3DCAPS8{};
    d3d->Release();
    return true;
}

// The front buffer as a picture (what the screen shows, at the mode's size).
bool SaveFrontBuffer(IDirect3DDevice8* device, int width, int height, const QString& file) {
    IDirect3DSurface8* surface = nullptr;
    if (FAILED(device->CreateImageSurface(width, height, D3DFMT_A8R8G8B8, &surface)))
        return false;
    bool saved = false;
    D3DLOCKED_RECT rect{};
    if (SUCCEEDED(device->GetFrontBuffer(surface)) &&
        SUCCEEDED(surface->LockRect(&rect, nullptr, 0))) {
        const QImage view(static_cast<const uchar*>(rect.pBits), width, height, rect.Pitch,
                          QImage::Format_RGB32);
        saved = view.copy().save(file, "PNG");
        surface->UnlockRect();
    }
    surface->Release();
    return saved;
}

void PrintRecord(const TResultRecord& r) {
    QJsonArray availPhys, availTextureMem;
    for (int k = 0; k < 4; ++k) {
        availPhys.append(static_cast<qint64>(r.AvailPhys[k]));
        availTextureMem.append(static_cast<qint64>(r.AvailTextureMem[k]));
    }
    const QJsonObject record{
        {"Timestamp", r.Timestamp},
        {"TestSet", r.TestSet},
        {"Width", r.Width},
        {"Height", r.Height},
        {"Depth", r.Depth},
        {"RefreshRate", r.RefreshRate},
        {"HardwareDevice", r.HardwareDevice},
        {"HardwareVertexProcessing", r.HardwareVertexProcessing},
        {"VertexBufferMode", r.VertexBufferMode},
        {"TextureMode", r.TextureMode},
        {"DetailLevel", r.DetailLevel},
        {"BlackPercent", r.BlackPercent},
        {"SumLogFrameTime", r.SumLogFrameTime},
        {"SumSqLogFrameTime", r.SumSqLogFrameTime},
        {"TrianglesPerMs", r.TrianglesPerMs},
        {"Fps", r.Fps},
        {"MinFps", r.MinFps},
        {"MaxFps", r.MaxFps},
        {"FrameTimeSpread", r.FrameTimeSpread},
        {"FrameCount", static_cast<qint64>(r.FrameCount)},
        {"TotalTimeMs", r.TotalTimeMs},
        {"EmptyFps", r.EmptyFps},
        {"AvailPhys", availPhys},
        {"AvailTextureMem", availTextureMem},
        {"FpsSum", r.FpsSum},
        {"FpsMin", r.FpsMin},
        {"FpsMax", r.FpsMax},
        {"RunCount", r.RunCount},
    };
    std::printf("%s\n", QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 6 && argc != 8)
        return Usage();
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const int depth = std::atoi(argv[3]);
    const std::string kind = argv[4];
    const int detail = std::atoi(argv[5]);
    QString screenshot;
    if (argc == 8) {
        if (std::strcmp(argv[6], "--screenshot") != 0)
            return Usage();
        screenshot = QString::fromLocal8Bit(argv[7]);
    }
    if (width <= 0 || width > 65535 || height <= 0 || height > 65535 || detail < 1 || detail > 16 ||
        (kind != "ref" && kind != "hal-hw" && kind != "hal-sw"))
        return Usage();

    LoadDirect3DLibrary();
    D3DCAPS8 hal{}, ref{};
    if (!ReadCaps(hal, ref)) {
        std::fprintf(stderr, "the Direct3D runtime library did not load\n");
        return 1;
    }
    if (kind != "ref" && hal.DeviceType == 0) {
        void* proc = dlsym(Direct3DLibraryHandle(), Direct3DTestSoftwareAsHardwareSymbol);
        if (proc == nullptr) {
            std::fprintf(stderr, "no HAL device, and the runtime has no test switch\n");
            return 1;
        }
        reinterpret_cast<Direct3DTestSoftwareAsHardwareProc>(proc)(1);
        std::fprintf(stderr, "note: no hardware renderer here; the software renderer is "
                             "treated as the HAL device (runtime test switch)\n");
        ReadCaps(hal, ref);
    }

    CurrentComputer = TComputerRecord{};
    CurrentComputer.HalCaps = hal;
    CurrentComputer.RefCaps = ref;
    Computers.push_back(CurrentComputer);
    ComputerDevices.emplace_back();
    ComputerResults.emplace_back();
    CurrentComputerIndex = 0;

    CurrentTest = TTestConfig{};
    CurrentTest.Width = static_cast<std::uint16_t>(width);
    CurrentTest.Height = static_cast<std::uint16_t>(height);
    CurrentTest.Depth = static_cast<std::uint16_t>(depth);
    CurrentTest.HardwareDevice = kind == "ref" ? 0 : 1;
    CurrentTest.HardwareVertexProcessing = kind == "hal-hw" ? 1 : 0;
    CurrentTest.VertexBufferMode = 2;
    CurrentTest.TextureMode = 2;
    CurrentTest.DetailLevel = static_cast<std::uint8_t>(detail);
    TestFailed = false;

    // The screenshot is taken at a message pump, half way through the measured 7 s.
    QTimer timer;
    std::uint32_t measuringStart = 0;
    bool shot = false;
    auto* screen = new TTestScreen;
    if (!screenshot.isEmpty()) {
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (shot || screen->FramesDrawn < 4 || screen->Device == nullptr)
                return;
            if (measuringStart == 0)
                measuringStart = GetTickCount();
            if (GetTickCount() - measuringStart >= MeasuredDurationMs / 2) {
                shot = true;
                if (!SaveFrontBuffer(screen->Device, width, height, screenshot))
                    std::fprintf(stderr, "the screenshot could not be saved\n");
            }
        });
        timer.start(5);
    }

    TestScreen = screen;
    screen->show();
    screen->MainProc();
    TestScreen = nullptr;
    delete screen;
    timer.stop();
    FreeDirect3DLibrary();

    if (TestFailed || ComputerResults[0].empty()) {
        std::fprintf(stderr, "the pass failed: %s\n", StatusText.c_str());
        return 1;
    }
    PrintRecord(ComputerResults[0][0]);
    return 0;
}
