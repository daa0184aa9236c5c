// The full-screen test screen and one benchmark pass: device set-up and checks, the timed
// fly-through, the post-run measurements and the recording of the result.
#pragma once

#include "bench/Corridor.h"
#include "bench/FrameTimes.h"
#include "bench/PassLogic.h"
#include "render/DirectXGraphics.h"

#include <QWindow>

#include <cstdint>
#include <string>
#include <vector>

class QExposeEvent;
class QKeyEvent;

// StatusText after Esc on the test screen.
inline constexpr const char* PassStoppedText = "Тестирование было остановлено пользователем.";

// What one pass hands back to its caller.
struct TPassOutcome {
    bool Recorded = false;
    // The record as stored in ComputerResults[CurrentComputerIndex], with the runs of its
    // configuration so far; zero when nothing was recorded.
    TResultRecord Result{};
    // Why nothing was recorded (the StatusText the pass left); empty when it was.
    std::string Failure;
    // The time of every measured frame, for figures the record cannot hold.
    TFrameTimeLog FrameTimes;
    std::uint8_t BlackPercent = 0;
    std::uint16_t EmptyFps = 0;
};

class TTestScreen : public QWindow {
public:
    // Borderless, black, on top, centred on the primary screen at the design size. The
    // device renders into it full screen during a pass.
    explicit TTestScreen(QWindow* parent = nullptr);
    // Releases whatever a pass left.
    ~TTestScreen() override;
    TTestScreen(const TTestScreen&) = delete;
    TTestScreen& operator=(const TTestScreen&) = delete;

    // One whole pass for CurrentTest. On success a result is recorded in
    // ComputerResults[CurrentComputerIndex] (and ResultsChanged set); otherwise TestFailed is
    // set and StatusText says why. Everything it created is released before it returns, and
    // what the pass measured is handed back.
    TPassOutcome MainProc();
    // Esc, whatever the modifiers, stops the pass at its next check.
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);

    // The set-up of MainProc up to its frame loop: the device, the scene and the textures.
    // False, with TestFailed set and StatusText saying why, where the pass would fail; what
    // was made is released with the screen.
    bool PrepareFrames();
    // Draws and presents one frame with the camera and lights where they are elapsedMs after
    // the start of measuring: a still of the fly-through, for comparing pictures.
    void DrawFrameAt(std::int64_t elapsedMs);

    IDirect3D8* Direct3D = nullptr;
    IDirect3DDevice8* Device = nullptr;
    IDirect3DVertexBuffer8* VertexBuffer = nullptr;
    IDirect3DTexture8* Textures[TextureCount] = {};
    D3DLIGHT8 Lights[LightCount] = {};
    D3DMATERIAL8 Material = {};
    // What a frame draws, listed once the vertex buffer is built.
    std::vector<TCorridorDraw> Draws;

    // Working state of the pass, read by the tests that watch a pass from outside.
    D3DCAPS8 WorkCaps = {};
    D3DPRESENT_PARAMETERS PresentParams = {};
    std::int32_t ProgressGrey = 200;
    std::int32_t WallFirstVertex = 0;
    std::int32_t FloorFirstVertex = 0;
    std::int32_t TriangleCount = 0;
    std::uint32_t AvailPhysReadings[4] = {};
    std::uint32_t AvailTextureMemReadings[4] = {};
    float CameraX = 0, CameraY = 0, CameraZ = 0, CameraYaw = 0;
    D3DMATRIX ViewMatrix = {};
    D3DMATRIX ProjectionMatrix = {};
    // The statistics of the frame loop; FrameStats.N is zero until the loop has ended.
    TFrameStats FrameStats;
    // Frames drawn so far in the pass, warm-up included.
    std::uint32_t FramesDrawn = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Paints the window black whenever it is shown while no device draws into it.
    void exposeEvent(QExposeEvent* event) override;

private:
    bool CreateDeviceAndCheck();
    bool BuildScene();
    bool FillTextures();
    void ProgressStep();
    void MemorySnapshot(int k);
    void DrawFrame(std::uint32_t t0);
    // One frame; elapsed() gives e afresh for each quantity that reads it.
    template <typename Elapsed> void DrawFrameWith(Elapsed elapsed);
    std::uint8_t SampleScreen();
    std::uint16_t CountEmptyFrames();
    void RecordResult(TPassOutcome& outcome);
    void ReleaseAll();
    void PaintBlack();
};

// The test screen of the pass in progress, while there is one.
extern TTestScreen* TestScreen;
