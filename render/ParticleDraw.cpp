#include "render/ParticleDraw.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "particles/ObjectParticles.h"
#include "platform/Log.h"
#include "render/ApplyRenderState.h"
#include "render/ShaderProgram.h"

namespace caldera {

namespace {

// Gives the buffers back with the system, which a scene reload retires on
// the render thread.
void FreeBuffers(ParticleBuffers* buffers) {
    for (GLuint* buffer :
         {&buffers->quadPositionBuffer, &buffers->quadUvBuffer, &buffers->quadColorBuffer, &buffers->quadIndexBuffer})
        if (*buffer) glDeleteBuffers(1, buffer);
    delete buffers;
}

int BufferCount(const ObjectParticles& system) { return system.glBuffers ? system.glBuffers->glBufferCount : -1; }

}  // namespace

void InitGLBuffers(ObjectParticles& system) {
    Log(3, "ObjectParticles::initGLBuffers()");
    system.glBuffers = std::shared_ptr<ParticleBuffers>(new ParticleBuffers, &FreeBuffers);
    ParticleBuffers& b = *system.glBuffers;
    const size_t n = static_cast<size_t>(system.count);
    const std::pair<GLuint*, size_t> buffers[] = {
        {&b.quadPositionBuffer, n * 48}, {&b.quadUvBuffer, n * 32}, {&b.quadColorBuffer, n * 64}};
    for (const auto& [buffer, bytes] : buffers) {
        glGenBuffers(1, buffer);
        glBindBuffer(GL_ARRAY_BUFFER, *buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bytes), nullptr, GL_STREAM_DRAW);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // OpenGL ES has no quad primitive: there each quad's corners 0 1 2 3
    // are drawn as the triangles 0 1 2 and 0 2 3. Desktop GL keeps quads,
    // whose split into triangles is the driver's and differs from any fixed
    // split in the last bit of a few pixels.
    if (!kGlEs) {
        b.glBufferCount = system.count;
        return;
    }
    std::vector<GLuint> indices(n * 6);
    for (size_t quad = 0; quad < n; ++quad) {
        const GLuint first = static_cast<GLuint>(quad * 4);
        const GLuint corners[6] = {first, first + 1, first + 2, first, first + 2, first + 3};
        std::copy(corners, corners + 6, indices.begin() + static_cast<std::ptrdiff_t>(quad * 6));
    }
    glGenBuffers(1, &b.quadIndexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.quadIndexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(GLuint)), indices.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    b.glBufferCount = system.count;
}

void DeleteGLBuffers(ObjectParticles& system) {
    Log(3, "ObjectParticles::deleteGLBuffers()");
    system.glBuffers.reset();
    // The CPU arrays were sized with the pool by the update.
    InitGLBuffers(system);
}

void DrawQuads(const PreparedFrame::ParticleQuads& quads, ShaderProgram* program, const glm::mat4& projection,
               const glm::mat4& view, const glm::mat4& depthBias, float time) {
    ObjectParticles& system = *quads.system;
    if (BufferCount(system) != system.count) DeleteGLBuffers(system);
    const int n = quads.quads;
    const ParticleBuffers& b = *system.glBuffers;

    glUseProgram(0);
    // Only what this frame wrote; the rest of each buffer is not drawn.
    const size_t count = static_cast<size_t>(n);
    const std::tuple<GLuint, const float*, size_t> uploads[] = {
        {b.quadPositionBuffer, system.quadPositions.data(), count * 48},
        {b.quadUvBuffer, system.quadUvs.data(), count * 32},
        {b.quadColorBuffer, system.quadColors.data(), count * 64}};
    for (const auto& [buffer, data, bytes] : uploads) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        if (bytes) glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), data);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // A program that did not build draws nothing rather than fixed-function quads.
    if (n == 0 || !program || program->program == 0) return;

    Apply(quads.state, program, projection, view, quads.objectId, depthBias, time);
    // Quads are sized by the particles alone; the owner's scale sizes models.
    glUniform1i(program->UniformLocation("quadParticles"), 1);

    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const std::pair<GLuint, GLint> attributes[] = {
        {b.quadPositionBuffer, 3}, {b.quadUvBuffer, 2}, {b.quadColorBuffer, 4}};
    for (GLuint location = 0; location < 3; ++location) {
        glEnableVertexAttribArray(location);
        glBindBuffer(GL_ARRAY_BUFFER, attributes[location].first);
        glVertexAttribPointer(location, attributes[location].second, GL_FLOAT, GL_FALSE, 0, nullptr);
    }
#ifdef DEMO_GLES
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b.quadIndexBuffer);
    glDrawElements(GL_TRIANGLES, 6 * n, GL_UNSIGNED_INT, nullptr);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
#else
    glDrawArrays(GL_QUADS, 0, 4 * n);
#endif
    for (GLuint location = 0; location < 3; ++location) glDisableVertexAttribArray(location);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDisable(GL_BLEND);
}

}  // namespace caldera
