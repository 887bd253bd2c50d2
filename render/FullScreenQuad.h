#pragma once

#include "platform/Gl.h"

namespace caldera {

// Two triangles covering clip space, 6 vertices of x y z at attribute 0.
// Every screen-space pass ends by drawing it.

// Creates and fills the quad's vertex buffer (72 bytes, static).
GLuint CreateFullScreenQuad();

// Draws the quad from `quadBuffer` with culling off; attribute 0 is enabled
// only for the draw.
void DrawFullScreenQuad(GLuint quadBuffer);

}  // namespace caldera
