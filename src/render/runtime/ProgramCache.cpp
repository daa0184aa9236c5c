#include "render/runtime/ProgramCache.h"

#include "render/runtime/GlBindings.h"

#include <QOpenGLShaderProgram>

#include <functional>

namespace d3d8rt {

namespace {

// The shaders are specialised by #defines prepended to these sources, one program per state
// combination: llvmpipe runs a shader on every vertex or pixel as written, so uniform branches
// and a loop over a uniform light count cost on every vertex, and constant-indexed uniform
// arrays are much cheaper than indexed ones.
//   LIGHTING       0 or 1
//   LIGHT_COUNT    0..8, the enabled lights in order
//   LIGHT_AMBIENT  0 when no light adds ambient (its term is then exactly zero)
const char* const kHardwareVertexShader = R"(
attribute vec3 a_position;
attribute vec3 a_normal;
attribute vec2 a_texcoord;
uniform mat4 u_clipFromObject;
varying vec4 v_color;
varying vec2 v_texcoord;
#if LIGHTING
uniform mat4 u_cameraFromObject;
uniform mat3 u_normalMatrix;
uniform vec4 u_base; // emissive + material ambient x global ambient; material diffuse alpha
#if LIGHT_COUNT > 0
uniform vec3 u_lightPosition[LIGHT_COUNT]; // camera space
uniform vec3 u_lightDiffuse[LIGHT_COUNT];  // material diffuse x light diffuse
#if LIGHT_AMBIENT
uniform vec3 u_lightAmbient[LIGHT_COUNT];  // material ambient x light ambient
#endif
uniform vec4 u_lightAttenuation[LIGHT_COUNT]; // range, a0, a1, a2
#endif
#endif
void main() {
    vec4 position = vec4(a_position, 1.0);
    gl_Position = u_clipFromObject * position;
    v_texcoord = a_texcoord;
#if LIGHTING
    // Direct3D's fixed-function lighting in camera space; normals are not renormalised.
    vec3 p = (u_cameraFromObject * position).xyz;
    vec3 n = u_normalMatrix * a_normal;
    vec3 color = u_base.rgb;
#if LIGHT_COUNT > 0
    for (int i = 0; i < LIGHT_COUNT; ++i) {
        vec3 toLight = u_lightPosition[i] - p;
        // Kept off zero, so a light on the vertex or all-zero attenuation gives a huge but
        // finite light rather than infinities and NaNs.
        float d2 = max(dot(toLight, toLight), 1e-30);
        float invD = inversesqrt(d2);
        float d = d2 * invD;
        vec4 a = u_lightAttenuation[i];
        // step() cuts the light off beyond its range, ambient included.
        float attenuation = step(d, a.x) / max(a.y + a.z * d + a.w * d2, 1e-30);
        float nDotL = max(dot(n, toLight) * invD, 0.0);
        color += (attenuation * nDotL) * u_lightDiffuse[i];
#if LIGHT_AMBIENT
        color += attenuation * u_lightAmbient[i];
#endif
    }
#endif
    v_color = vec4(clamp(color, 0.0, 1.0), u_base.a);
#else
    v_color = vec4(1.0);
#endif
}
)";

const char* const kSoftwareVertexShader = R"(
attribute vec4 a_position;
attribute vec4 a_color;
attribute vec2 a_texcoord;
varying vec4 v_color;
varying vec2 v_texcoord;
void main() {
    gl_Position = a_position;
    v_color = a_color;
    v_texcoord = a_texcoord;
}
)";

// Texture stage 0, specialised like the vertex shader:
//   HAS_TEXTURE  0 or 1; without a texture the stage reads opaque white
//   COLOR_OP     0 diffuse only, 1 modulate, 2 texture only
const char* const kFragmentShader = R"(
uniform sampler2D u_texture;
varying vec4 v_color;
varying vec2 v_texcoord;
void main() {
#if HAS_TEXTURE
    vec4 t = texture2D(u_texture, v_texcoord);
#else
    vec4 t = vec4(1.0);
#endif
#if COLOR_OP == 1
    gl_FragColor = vec4(t.rgb * v_color.rgb, t.a);
#elif COLOR_OP == 2
    gl_FragColor = t;
#else
    gl_FragColor = v_color;
#endif
}
)";

QByteArray Define(const char* name, int value) {
    return QByteArray("#define ") + name + ' ' + QByteArray::number(value) + '\n';
}

} // namespace

ColorSource StageColor(DWORD colorOp) {
    return colorOp == D3DTOP_MODULATE     ? ColorSource::Modulate
           : colorOp == D3DTOP_SELECTARG1 ? ColorSource::Texture
                                          : ColorSource::Diffuse;
}

std::size_t ProgramKeyHash::operator()(const ProgramKey& k) const noexcept {
    std::size_t h = 0;
    const auto mix = [&h](std::size_t v) { h ^= v + 0x9E3779B97F4A7C15u + (h << 6) + (h >> 2); };
    mix(std::hash<bool>{}(k.software));
    mix(std::hash<bool>{}(k.lighting));
    mix(std::hash<int>{}(k.lightCount));
    mix(std::hash<bool>{}(k.lightAmbient));
    mix(std::hash<bool>{}(k.texture));
    mix(std::hash<int>{}(int(k.color)));
    return h;
}

ProgramCache::ProgramCache(GlBindings& bindings) : bindings_(bindings) {}

ProgramCache::~ProgramCache() {
    Clear();
}

void ProgramCache::Clear() {
    programs_.clear();
    last_ = nullptr;
}

Program* ProgramCache::Use(const ProgramKey& key) {
    if (last_ == nullptr || !(key == lastKey_)) {
        auto [it, added] = programs_.try_emplace(key);
        if (added && !Build(key, it->second)) {
            programs_.erase(it);
            return nullptr;
        }
        last_ = &it->second;
        lastKey_ = key;
    }
    bindings_.UseProgram(last_->id);
    return last_;
}

bool ProgramCache::Build(const ProgramKey& key, Program& out) {
    QByteArray vertex("#version 120\n");
    if (key.software) {
        vertex += kSoftwareVertexShader;
    } else {
        vertex += Define("LIGHTING", key.lighting) +
                  Define("LIGHT_COUNT", key.lighting ? key.lightCount : 0) +
                  Define("LIGHT_AMBIENT", key.lighting && key.lightAmbient) + kHardwareVertexShader;
    }
    const QByteArray fragment = QByteArray("#version 120\n") + Define("HAS_TEXTURE", key.texture) +
                                Define("COLOR_OP", key.color == ColorSource::Modulate  ? 1
                                                   : key.color == ColorSource::Texture ? 2
                                                                                       : 0) +
                                kFragmentShader;
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertex) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragment))
        return false;
    program->bindAttributeLocation("a_position", kPositionAttribute);
    program->bindAttributeLocation(key.software ? "a_color" : "a_normal", kSecondAttribute);
    program->bindAttributeLocation("a_texcoord", kTexcoordAttribute);
    if (!program->link())
        return false;
    out.id = program->programId();
    out.clipFromObject = program->uniformLocation("u_clipFromObject");
    out.cameraFromObject = program->uniformLocation("u_cameraFromObject");
    out.normalMatrix = program->uniformLocation("u_normalMatrix");
    out.base = program->uniformLocation("u_base");
    out.lightPosition = program->uniformLocation("u_lightPosition");
    out.lightDiffuse = program->uniformLocation("u_lightDiffuse");
    out.lightAmbient = program->uniformLocation("u_lightAmbient");
    out.lightAttenuation = program->uniformLocation("u_lightAttenuation");
    const GLint sampler = program->uniformLocation("u_texture");
    if (sampler >= 0) {
        QOpenGLExtraFunctions* gl = bindings_.gl();
        gl->glUseProgram(out.id);
        gl->glUniform1i(sampler, 0);
        gl->glUseProgram(bindings_.program());
    }
    out.program = std::move(program);
    return true;
}

} // namespace d3d8rt
