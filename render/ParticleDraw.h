#pragma once

#include <GL/glew.h>

#include <glm/mat4x4.hpp>

class Object;
class ObjectParticles;
class Scene;
class ShaderProgram;

// The GPU side of a particle system: three stream buffers sized to its pool.
struct ParticleBuffers {
    GLuint quadPositionBuffer = 0, quadUvBuffer = 0, quadColorBuffer = 0;
    int glBufferCount = -1;  // pool size the buffers were made for; -1: none
};

// Whether GL entry points are loaded (a context was made current once).
bool GlLoaded();

// The scene's update step on the render thread: every particle system
// advances by `seconds`, and one whose pool changed gets buffers of the new
// size at once. Where GL was never loaded (a simulation without a window) the
// first quad draw makes them instead.
void UpdateScene(Scene& scene, float seconds);
// The same for one system.
void UpdateSystem(ObjectParticles& system, float seconds);

// Render thread with the context current.
// The three stream buffers for the current pool size, without data.
void InitGLBuffers(ObjectParticles& system);
// Deletes the buffers, then makes new ones for the current pool size.
void DeleteGLBuffers(ObjectParticles& system);

// "draw.model": a copy of the owner's mesh per emitted particle, alive or
// dead; for the object draw of every pass.
void DrawModels(ObjectParticles& system, ShaderProgram* program, const glm::mat4& projection,
                const glm::mat4& view);
// "draw.quads": streams the sorted quads and draws them alpha-blended,
// depth-tested, over the lit picture. A null program or one that did not
// build uploads but draws nothing.
void DrawQuads(ObjectParticles& system, ShaderProgram* program, const glm::mat4& projection,
               const glm::mat4& view);
// The particle pass of `object`, then of its children in order.
void DrawParticles(Object& object, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view);
