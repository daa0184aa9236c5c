// What the vertex loop needs of a draw, worked out once per call, and the loop's
// instruction-set variants. Private to the software vertex processing.
#pragma once

#include "render/runtime/swvp/SoftwareVertexProcessing.h"

#include <cstddef>
#include <cstdint>

namespace swvp::detail {

struct PreparedLight {
    float position[3];
    float diffuse[3]; // material diffuse x light diffuse
    float ambient[3]; // material ambient x light ambient
    float range;
    float attenuation[3];
};

struct Prepared {
    float clip[4][4];    // clipFromObject
    float camera[4][3];  // cameraFromObject without its fourth column
    float normal[3][3];  // inverse transpose of cameraFromObject's upper 3 x 3
    float base[3];       // material emissive + material ambient x global ambient
    std::uint32_t alpha; // material diffuse alpha as the colour's top byte
    bool lighting;
    int lightCount;
    PreparedLight lights[8];
};

// Works out the per-draw constants.
void Prepare(const DrawState& state, Prepared& p);

// Both write exactly `count` vertices; ProcessAvx2 needs a processor with AVX2 and FMA.
void ProcessSse2(const Prepared& p, const SourceVertex* source, std::size_t count, LitVertex* out);
void ProcessAvx2(const Prepared& p, const SourceVertex* source, std::size_t count, LitVertex* out);

} // namespace swvp::detail
