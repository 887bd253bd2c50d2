#pragma once

#include "platform/Gl.h"

namespace caldera {

// The texture kinds of the pipeline's render targets.
enum class TargetFormat {
    RGB16F,   // GL_RGB16F, half floats: lit colour and G-buffer vectors without banding
    RGBA16F,  // GL_RGBA16F
    RGB8,     // GL_RGB, 8 bits: occlusion only
    Depth24,  // GL_DEPTH_COMPONENT24
};

// A width x height 2D texture of `format` with no data, linear and clamped,
// without mipmaps. Leaves it bound to GL_TEXTURE_2D of the active unit.
GLuint CreateTargetTexture(TargetFormat format, int width, int height);

// The shadow map's edge x edge depth texture: linear, clamped, compared with
// GL_LEQUAL so that shaders read it through a shadow sampler.
GLuint CreateShadowDepthTexture(int edge);

// Sets the draw buffers of the bound framebuffer and logs `message` at level
// 0 unless the framebuffer is complete. Returns whether it is complete.
bool CheckTarget(int count, const GLenum* buffers, const char* message);

}  // namespace caldera
