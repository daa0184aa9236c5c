#include "bench/Test1.h"

#include "platform/Clock.h"
#include "platform/MemoryStatus.h"
#include "render/DXGUtils.h"
#include "render/TextureSet.h"
#include "state/Variables.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QScreen>

#include <string>

TTestScreen* TestScreen = nullptr;

namespace {

constexpr int DesignWidth = 304;
constexpr int DesignHeight = 211;
constexpr DWORD ClearFlags = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER;
constexpr D3DCOLOR Black = D3DCOLOR_XRGB(0, 0, 0);
constexpr DWORD RenderStateTrue = 1;

// The pool codes of the configuration; an unknown code gets a pool the runtime refuses, so
// the creation fails with its own message.
D3DPOOL PoolOfCode(std::uint8_t code) {
    switch (code) {
    case 0:
        return D3DPOOL_SYSTEMMEM;
    case 1:
        return D3DPOOL_DEFAULT;
    case 2:
        return D3DPOOL_MANAGED;
    default:
        return static_cast<D3DPOOL>(0x7FFFFFFFu);
    }
}

bool Fail(const char* text) {
    TestFailed = true;
    SetStatusText(text);
    return false;
}

void PumpMessages() {
    QCoreApplication::processEvents();
}

// e of the camera and lights: read afresh for every quantity.
std::int64_t ElapsedSince(std::uint32_t t0) {
    return static_cast<std::int64_t>(static_cast<std::uint32_t>(GetTickCount() - t0));
}

} // namespace

TTestScreen::TTestScreen(QWindow* parent) : QWindow(parent) {
    setSurfaceType(QSurface::OpenGLSurface);
    setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    resize(DesignWidth, DesignHeight);
    if (const QScreen* desktop = QGuiApplication::primaryScreen()) {
        const QRect area = desktop->geometry();
        setPosition(area.x() + (area.width() - DesignWidth) / 2,
                    area.y() + (area.height() - DesignHeight) / 2);
    }
}

TTestScreen::~TTestScreen() {
    ReleaseAll();
}

void TTestScreen::keyPressEvent(QKeyEvent* event) {
    FormKeyDown(event->key(), event->modifiers());
}

void TTestScreen::exposeEvent(QExposeEvent*) {
    if (isExposed() && Device == nullptr)
        PaintBlack();
}

void TTestScreen::PaintBlack() {
    // A context of its own for the one clear: the device makes its own when it takes over.
    QOpenGLContext context;
    context.setFormat(requestedFormat());
    if (!context.create() || !context.makeCurrent(this))
        return;
    QOpenGLFunctions* gl = context.functions();
    gl->glClearColor(0, 0, 0, 1);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    context.swapBuffers(this);
    context.doneCurrent();
}

void TTestScreen::FormKeyDown(int key, Qt::KeyboardModifiers) {
    if (key == Qt::Key_Escape) {
        TestFailed = true;
        SetStatusText(PassStoppedText);
    }
}

TPassOutcome TTestScreen::MainProc() {
    FrameStats = TFrameStats{};
    FramesDrawn = 0;
    TPassOutcome outcome;

    PumpMessages();
    // An Esc seen at that pump has already said why the pass stops; keep its message.
    if (!TestFailed)
        SetStatusText(std::to_string(CurrentTest.Width) + " x " +
                      std::to_string(CurrentTest.Height) + " pixels, " +
                      std::to_string(CurrentTest.Depth) + " bits.");

    if (PrepareFrames()) {
        PumpMessages();
        Sleep(500);
        PumpMessages();
        MemorySnapshot(3);
        PumpMessages();

        TFrameLoopHooks hooks;
        hooks.Clock = [] { return GetTickCount(); };
        hooks.DrawFrame = [this](std::uint32_t t0) { DrawFrame(t0); };
        hooks.AfterFrame = [this] { MemorySnapshot(4); };
        hooks.PumpMessages = [] { PumpMessages(); };
        hooks.Stopped = [] { return TestFailed; };
        outcome.FrameTimes.Reserve();
        hooks.FrameTimes = &outcome.FrameTimes;
        FrameStats = RunFrameLoop(hooks);

        outcome.BlackPercent = SampleScreen();
        Sleep(1000);
        outcome.EmptyFps = CountEmptyFrames();
        if (!TestFailed)
            RecordResult(outcome);
    }
    ReleaseAll();
    if (!outcome.Recorded)
        outcome.Failure = StatusText;
    return outcome;
}

bool TTestScreen::PrepareFrames() {
    return CreateDeviceAndCheck() && BuildScene() && FillTextures();
}

bool TTestScreen::CreateDeviceAndCheck() {
    Direct3D = Direct3DCreate8(D3D_SDK_VERSION);
    if (Direct3D == nullptr)
        return Fail("DirectX 8.0 is not installed.");

    D3DDISPLAYMODE mode{};
    if (FAILED(Direct3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)))
        return Fail("Display mode error.");
    mode.Width = CurrentTest.Width;
    mode.Height = CurrentTest.Height;
    mode.RefreshRate = CurrentTest.RefreshRate;
    if (CurrentTest.Depth == 16)
        mode.Format = D3DFMT_R5G6B5;
    else if (CurrentTest.Depth == 32)
        mode.Format = D3DFMT_X8R8G8B8;

    const bool hal = CurrentTest.HardwareDevice == 1;
    WorkCaps = hal ? CurrentComputer.HalCaps : CurrentComputer.RefCaps;
    const D3DDEVTYPE type = hal ? D3DDEVTYPE_HAL : D3DDEVTYPE_REF;
    if (FAILED(
            Direct3D->CheckDeviceType(D3DADAPTER_DEFAULT, type, mode.Format, mode.Format, FALSE_)))
        return Fail("Wrong device type.");

    PresentParams = D3DPRESENT_PARAMETERS{};
    PresentParams.BackBufferWidth = CurrentTest.Width;
    PresentParams.BackBufferHeight = CurrentTest.Height;
    PresentParams.BackBufferFormat = mode.Format;
    PresentParams.BackBufferCount = 1;
    PresentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
    PresentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    PresentParams.hDeviceWindow = nullptr;
    PresentParams.Windowed = FALSE_;
    PresentParams.EnableAutoDepthStencil = D3D_TRUE_ALL_BITS;
    PresentParams.AutoDepthStencilFormat = D3DFMT_D16;
    PresentParams.Flags = 0;
    PresentParams.FullScreen_RefreshRateInHz = CurrentTest.RefreshRate;
    PresentParams.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    const DWORD behaviour = CurrentTest.HardwareVertexProcessing == 1
                                ? D3DCREATE_HARDWARE_VERTEXPROCESSING
                                : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
    if (FAILED(Direct3D->CreateDevice(D3DADAPTER_DEFAULT, type, static_cast<QWindow*>(this),
                                      behaviour, &PresentParams, &Device))) {
        Device = nullptr;
        return Fail("DirectX can not configure 3D accelerator.");
    }

    if (WorkCaps.MaxActiveLights < 8)
        return Fail(("3D accelerator does not support " + std::to_string(8) + " lights.").c_str());
    if (WorkCaps.MaxTextureWidth < 1024 || WorkCaps.MaxTextureHeight < 1024)
        return Fail(("3D accelerator does not support " + std::to_string(1024) + "x" +
                     std::to_string(1024) + " textures.")
                        .c_str());
    return true;
}

void TTestScreen::ProgressStep() {
    const auto grey = static_cast<unsigned>(ProgressGrey);
    Device->Clear(0, nullptr, ClearFlags, D3DCOLOR_XRGB(grey, grey, grey), 1.0f, 0);
    Device->Present(nullptr, nullptr, nullptr, nullptr);
    ProgressGrey -= 20;
}

void TTestScreen::MemorySnapshot(int k) {
    AvailPhysReadings[k - 1] = SaturateToUInt32(GlobalMemoryStatus().AvailPhys);
    AvailTextureMemReadings[k - 1] = Device->GetAvailableTextureMem();
}

bool TTestScreen::BuildScene() {
    ProgressGrey = 200;
    ProgressStep();
    MemorySnapshot(1);

    const int d = CurrentTest.DetailLevel;
    const std::uint32_t bytes = SceneVertexCount(d) * sizeof(TSceneVertex);
    if (FAILED(Device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, SceneFVF,
                                          PoolOfCode(CurrentTest.VertexBufferMode),
                                          &VertexBuffer))) {
        VertexBuffer = nullptr;
        return Fail("DirectX can not create vertex buffer.");
    }
    BYTE* data = nullptr;
    if (FAILED(VertexBuffer->Lock(0, bytes, &data, 0)) || data == nullptr)
        return Fail("DirectX can not get access to the vertex buffer.");
    WriteSceneGeometry(reinterpret_cast<TSceneVertex*>(data), d);
    VertexBuffer->Unlock();
    Draws = CorridorDraws(d);

    ProgressStep();
    MemorySnapshot(2);
    return true;
}

bool TTestScreen::FillTextures() {
    IDirect3DTexture8* locked = nullptr;
    try {
        for (int i = 0; i < TextureCount; ++i) {
            if (FAILED(Device->CreateTexture(1024, 1024, 0, 0, D3DFMT_A8R8G8B8,
                                             PoolOfCode(CurrentTest.TextureMode), &Textures[i]))) {
                Textures[i] = nullptr;
                return Fail("DirectX can not create texture.");
            }
            D3DLOCKED_RECT rect{};
            // Rows are written 4,096 bytes apart, so a narrower pitch could not hold them.
            if (FAILED(Textures[i]->LockRect(0, &rect, nullptr, 0)))
                return Fail("DirectX can not get access to the texture.");
            locked = Textures[i];
            if (rect.pBits == nullptr || rect.Pitch < 4096) {
                locked->UnlockRect(0);
                return Fail("DirectX can not get access to the texture.");
            }
            if (!ReadTextureCache(TextureCacheFileName(TestSet, i), rect.pBits))
                PrepareTexture(1, static_cast<unsigned>(i),
                               static_cast<std::uint32_t*>(rect.pBits));
            locked->UnlockRect(0);
            locked = nullptr;
            ProgressStep();
        }
    } catch (...) {
        if (locked != nullptr)
            locked->UnlockRect(0);
        return Fail("Fatal error at creation of textures.");
    }
    return true;
}

void TTestScreen::DrawFrame(std::uint32_t t0) {
    DrawFrameWith([t0] { return ElapsedSince(t0); });
}

void TTestScreen::DrawFrameAt(std::int64_t elapsedMs) {
    DrawFrameWith([elapsedMs] { return elapsedMs; });
}

template <typename Elapsed> void TTestScreen::DrawFrameWith(Elapsed elapsed) {
    const TCorridorCamera camera = CorridorCamera(elapsed);
    CameraX = camera.X;
    CameraY = camera.Y;
    CameraZ = camera.Z;
    CameraYaw = camera.Yaw;
    ++FramesDrawn;

    Device->Clear(0, nullptr, ClearFlags, Black, 1.0f, 0);
    Device->BeginScene();

    CorridorProjectionMatrix(ProjectionMatrix);
    CorridorViewMatrix(ViewMatrix, camera);
    Device->SetTransform(D3DTS_PROJECTION, &ProjectionMatrix);
    Device->SetTransform(D3DTS_VIEW, &ViewMatrix);

    Device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    Device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    Device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
    Device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
    Device->SetRenderState(D3DRS_LIGHTING, RenderStateTrue);
    Device->SetRenderState(D3DRS_AMBIENT, 0x00CCCCCC);

    InitMaterial(Material, 1, 1, 1, 1);
    Device->SetMaterial(&Material);
    Device->SetStreamSource(0, VertexBuffer, sizeof(TSceneVertex));
    Device->SetVertexShader(SceneFVF);
    Device->SetTransform(D3DTS_WORLD, &IdentityMatrix);

    for (int s = 0; s < LightCount; ++s) {
        const D3DVECTOR at = CorridorLightPosition(s, elapsed);
        Lights[s] = SceneLight(at.x, at.y, at.z);
    }
    for (int s = 0; s < LightCount; ++s) {
        Device->SetLight(s, &Lights[s]);
        Device->LightEnable(s, D3D_TRUE_ALL_BITS);
    }

    WallFirstVertex = 0;
    FloorFirstVertex = static_cast<std::int32_t>(FloorBlockStart(CurrentTest.DetailLevel));
    TriangleCount = 0;
    D3DCULL cull = D3DCULL_CW;
    Device->SetRenderState(D3DRS_CULLMODE, cull);
    for (const TCorridorDraw& draw : Draws) {
        // Every wall sets its culling; the tiles share one setting.
        if (draw.Part == TCorridorPart::Wall || draw.Cull != cull) {
            cull = draw.Cull;
            Device->SetRenderState(D3DRS_CULLMODE, cull);
        }
        Device->SetTransform(D3DTS_WORLD, &draw.World);
        Device->SetTexture(0, Textures[draw.Texture]);
        Device->DrawPrimitive(D3DPT_TRIANGLELIST, draw.FirstVertex, draw.Triangles);
        if (draw.Part != TCorridorPart::Wall)
            TriangleCount += static_cast<std::int32_t>(draw.Triangles);
    }

    Device->SetTexture(0, nullptr);
    Device->SetStreamSource(0, nullptr, sizeof(TSceneVertex));
    for (int s = 0; s < LightCount; ++s)
        Device->LightEnable(s, FALSE_);
    Device->SetRenderState(D3DRS_LIGHTING, FALSE_);
    Device->EndScene();
    Device->Present(nullptr, nullptr, nullptr, nullptr);
}

std::uint8_t TTestScreen::SampleScreen() {
    // What the screen shows now: the device's last presented picture at the mode's size.
    // A screen that cannot be read back counts as showing nothing.
    std::uint8_t percent = 100;
    IDirect3DSurface8* shot = nullptr;
    if (FAILED(Device->CreateImageSurface(CurrentTest.Width, CurrentTest.Height, D3DFMT_A8R8G8B8,
                                          &shot)) ||
        shot == nullptr)
        return percent;
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT rect{};
    if (SUCCEEDED(Device->GetFrontBuffer(shot)) && SUCCEEDED(shot->GetDesc(&desc)) &&
        SUCCEEDED(shot->LockRect(&rect, nullptr, 0))) {
        if (rect.pBits != nullptr && rect.Pitch >= static_cast<INT>(4 * desc.Width))
            percent = BlackPercentOf(SampleBlackPoints(static_cast<const std::uint8_t*>(rect.pBits),
                                                       rect.Pitch, static_cast<int>(desc.Width),
                                                       static_cast<int>(desc.Height)));
        shot->UnlockRect();
    }
    shot->Release();
    return percent;
}

std::uint16_t TTestScreen::CountEmptyFrames() {
    Device->Clear(0, nullptr, ClearFlags, Black, 1.0f, 0);
    Device->Present(nullptr, nullptr, nullptr, nullptr);
    std::uint64_t k = 0;
    const std::uint32_t t1 = GetTickCount();
    while (GetTickCount() - t1 < 2000) {
        Device->Clear(0, nullptr, ClearFlags, Black, 1.0f, 0);
        Device->Present(nullptr, nullptr, nullptr, nullptr);
        ++k;
    }
    return EmptyFpsFromCount(k);
}

void TTestScreen::RecordResult(TPassOutcome& outcome) {
    if (CurrentComputerIndex < 0 ||
        static_cast<std::size_t>(CurrentComputerIndex) >= ComputerResults.size()) {
        // No entry to record into: say so rather than report a success that stored nothing.
        Fail("Test results can not be stored.");
        return;
    }
    TPassMeasurements pass;
    pass.Stats = FrameStats;
    pass.TriangleCount = TriangleCount;
    pass.BlackPercent = outcome.BlackPercent;
    pass.EmptyFps = outcome.EmptyFps;
    for (int k = 0; k < 4; ++k) {
        pass.AvailPhys[k] = AvailPhysReadings[k];
        pass.AvailTextureMem[k] = AvailTextureMemReadings[k];
    }
    auto& results = ComputerResults[CurrentComputerIndex];
    outcome.Result =
        results[StoreResult(results, BuildResultRecord(CurrentTest, pass, CurrentDateTime()))];
    outcome.Recorded = true;
    ResultsChanged = true;
    SetStatusText("Test was completed successfully.");
}

void TTestScreen::ReleaseAll() {
    for (int i = TextureCount - 1; i >= 0; --i) {
        if (Textures[i] != nullptr) {
            Textures[i]->Release();
            Textures[i] = nullptr;
        }
    }
    if (VertexBuffer != nullptr) {
        VertexBuffer->Release();
        VertexBuffer = nullptr;
    }
    if (Device != nullptr) {
        Device->Release();
        Device = nullptr;
    }
    if (Direct3D != nullptr) {
        Direct3D->Release();
        Direct3D = nullptr;
    }
}
