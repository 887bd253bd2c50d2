#pragma once

#include "platform/Gl.h"

#include <glm/mat4x4.hpp>

#include "playback/PreparedFrame.h"

namespace caldera {

class ObjectParticles;
class ShaderProgram;

// The GPU side of a particle system: three stream buffers sized to its pool
// and, on OpenGL ES, the indices that draw each quad as two triangles; made
// and remade by the draw, kept with the system so that they go with it.
struct ParticleBuffers {
    GLuint quadPositionBuffer = 0, quadUvBuffer = 0, quadColorBuffer = 0, quadIndexBuffer = 0;
    int glBufferCount = -1;  // pool size the buffers were made for; -1: none
};

// Render thread with the context current.
// The three stream buffers for the current pool size, without data, and on
// OpenGL ES the index buffer.
void InitGLBuffers(ObjectParticles& system);
// Deletes the buffers, then makes new ones for the current pool size.
void DeleteGLBuffers(ObjectParticles& system);

// "draw.quads": streams the frame's sorted quads of one system and draws
// them alpha-blended, depth-tested, over the lit picture. A null program or
// one that did not build uploads but draws nothing.
void DrawQuads(const PreparedFrame::ParticleQuads& quads, ShaderProgram* program, const glm::mat4& projection,
               const glm::mat4& view, const glm::mat4& depthBias, float time);

}  // namespace caldera
