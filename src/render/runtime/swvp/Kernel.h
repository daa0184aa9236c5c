// What the vertex loop needs of a draw, worked out once per call, and the loop's
// instruction-set variants. Private to the software vertex processing.
#pragma once

#include "render/runtime/swvp/SoftwareVertexProcessing.h"
#include "render/runtime/swvp/TransformLighting.h"

#include <cstddef>
#include <cstdint>

namespace swvp::detail {

struct Prepared {
    float clip[4][4];    // clipFromObject
    float camera[4][3];  // cameraFromObject without its fourth column
    float normal[3][3];  // inverse transpose of cameraFromObject's upper 3 x 3
    std::uint32_t alpha; // material diffuse alpha as the colour's top byte
    bool lighting;
    tnl::Lighting lit; // the lights, as the hardware path has them too
};

// Works out the per-draw constants.
void Prepare(const DrawState& state, Prepared& p);

// Both write exactly `count` vertices; ProcessAvx2 needs a processor with AVX2 and FMA.
void ProcessSse2(const Prepared& p, const SourceVertex* source, std::size_t count, LitVertex* out);
void ProcessAvx2(const Prepared& p, const SourceVertex* source, std::size_t count, LitVertex* out);

} // namespace swvp::detail
