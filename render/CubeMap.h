#pragma once

#include "platform/Gl.h"

namespace caldera {

// An environment cube of RGB faces with the framebuffer that renders into it
// (colour attachment 0 is re-pointed face by face) and its own depth buffer.
struct CubeMap {
    GLuint texture = 0;
    GLuint framebuffer = 0;
    GLuint depthBuffer = 0;
    int edge = 0;
};

// Creates the cube texture (edge x edge faces, one mipmap level below the
// base for the blurred reads), its framebuffer and depth renderbuffer; the
// framebuffer starts on the positive-X face. Leaves framebuffer 0 and cube
// texture 0 bound.
CubeMap CreateCubeMap(int edge);

}  // namespace caldera
