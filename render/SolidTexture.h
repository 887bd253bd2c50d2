#pragma once

#include "platform/Gl.h"

#include <cstdint>

namespace caldera {

// A 1x1 RGB texture of one colour, linear and clamped: the stand-in for a
// material texture that is not there.
GLuint CreateSolidTexture(uint8_t red, uint8_t green, uint8_t blue);

}  // namespace caldera
