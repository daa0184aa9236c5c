#pragma once

#include <cstdint>

// Builds texture textureIndex of set setNumber as 1024 x 1024 A8R8G8B8 pixels; any other
// set or index leaves pixels untouched.
void PrepareTexture(unsigned setNumber, unsigned textureIndex, std::uint32_t* pixels);
