// The corridor as it is drawn each frame: the list of its draws (walls, floor and ceiling
// tiles, each with its world transform, texture, culling and vertex range), the camera's view
// and projection and the lights' positions. The pass draws it through the device; the raw
// OpenGL benchmark draws the same list with plain GL.
#pragma once

#include "bench/PassLogic.h"

#include <cstdint>
#include <vector>

enum class TCorridorPart { Wall, Floor, Ceiling };

struct TCorridorDraw {
    TCorridorPart Part;
    D3DCULL Cull;
    D3DMATRIX World;
    int Texture; // index into the scene's textures
    std::uint32_t FirstVertex;
    std::uint32_t Triangles;
};

// Every draw of a frame at detail level d, in drawing order: the outer ring's 24 walls, the
// inner ring's 20, then for each tile of the grid its floor and its ceiling.
std::vector<TCorridorDraw> CorridorDraws(int detail);

// Where the camera is and where it looks, as stored for the frame.
struct TCorridorCamera {
    float X = 0, Y = 1.0f, Z = 0, Yaw = 0;
};

// The camera e ms after the start of measuring; elapsed() is read afresh for each quantity.
template <typename Elapsed> TCorridorCamera CorridorCamera(Elapsed elapsed) {
    TCorridorCamera camera;
    camera.X = static_cast<float>(CameraXAt(elapsed()));
    camera.Z = static_cast<float>(CameraZAt(elapsed()));
    camera.Yaw = static_cast<float>(CameraYawAt(elapsed()));
    return camera;
}

// One step ahead along the yaw, each coordinate rounded once to float.
D3DVECTOR CorridorLookAt(const TCorridorCamera& camera);
// The view from the camera towards CorridorLookAt, world up (0, 1, 0).
void CorridorViewMatrix(D3DMATRIX& view, const TCorridorCamera& camera);
// Field of view 1 radian, aspect factor 0.75, planes at 0.5 and 250.
void CorridorProjectionMatrix(D3DMATRIX& projection);

// Light s at eye height where the camera will be 150.1 s ms later; elapsed() is read afresh
// for each coordinate.
template <typename Elapsed> D3DVECTOR CorridorLightPosition(int light, Elapsed elapsed) {
    D3DVECTOR position;
    position.x = static_cast<float>(LightXAt(light, elapsed()));
    position.y = 1.0f;
    position.z = static_cast<float>(LightZAt(light, elapsed()));
    return position;
}
