// The fixed-function pipeline as generated GLSL: one linked program per combination of the
// state the shaders are specialised on, built on first use and kept for the device's life.
#pragma once

#include "d3d8/D3D8.h"

#include <QOpenGLExtraFunctions>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

class QOpenGLShaderProgram;

namespace d3d8rt {

class GlBindings;

// What texture stage 0 writes.
enum class ColorSource : std::uint8_t { Diffuse, Modulate, Texture };

// What texture stage 0 writes for a D3DTSS_COLOROP value.
ColorSource StageColor(DWORD colorOp);

// The state a program is specialised on; two draws with equal keys share a program.
struct ProgramKey {
    bool software = false;       // finished vertices from the CPU path; the rest is then unused
    bool lighting = false;       // D3DRS_LIGHTING
    std::uint8_t lightCount = 0; // enabled lights, 0..8
    bool lightAmbient = false;   // any light adds an ambient term
    bool texture = false;        // a texture on stage 0
    ColorSource color = ColorSource::Modulate;

    bool operator==(const ProgramKey&) const = default;
};

struct ProgramKeyHash {
    std::size_t operator()(const ProgramKey& k) const noexcept;
};

struct Program {
    GLuint id = 0;
    GLint clipFromObject = -1, cameraFromObject = -1, normalMatrix = -1, base = -1,
          lightPosition = -1, lightDiffuse = -1, lightAmbient = -1, lightAttenuation = -1;
    // Generations of the matrices and lights its uniforms hold (0 = none yet).
    std::uint64_t matrices = 0, lights = 0;
    std::unique_ptr<QOpenGLShaderProgram> program;
};

class ProgramCache {
public:
    explicit ProgramCache(GlBindings& bindings);
    ~ProgramCache();
    ProgramCache(const ProgramCache&) = delete;
    ProgramCache& operator=(const ProgramCache&) = delete;

    // The program for `key`, built if new and made current; null when GL refuses it.
    Program* Use(const ProgramKey& key);
    // Deletes every program; the context should be current.
    void Clear();

private:
    bool Build(const ProgramKey& key, Program& out);

    GlBindings& bindings_;
    std::unordered_map<ProgramKey, Program, ProgramKeyHash> programs_;
    // Successive draws mostly use the same program: the last one is found without hashing.
    ProgramKey lastKey_{};
    Program* last_ = nullptr;
};

} // namespace d3d8rt
