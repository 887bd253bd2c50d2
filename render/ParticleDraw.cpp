#include "render/ParticleDraw.h"

#include <memory>
#include <tuple>
#include <utility>

#include "particles/ObjectParticles.h"
#include "platform/Log.h"
#include "render/ApplyRenderState.h"
#include "render/MeshDraw.h"
#include "render/Renderer.h"
#include "resources/Mesh.h"
#include "render/ShaderProgram.h"
#include "scene/Object.h"

namespace {

// Gives the buffers back with the system, which a scene reload retires on
// the render thread.
void FreeBuffers(ParticleBuffers* buffers) {
    for (GLuint* buffer : {&buffers->quadPositionBuffer, &buffers->quadUvBuffer, &buffers->quadColorBuffer})
        if (*buffer) glDeleteBuffers(1, buffer);
    delete buffers;
}

void FollowPool(ObjectParticles& system) {
    if (GlLoaded()) DeleteGLBuffers(system);
}

int BufferCount(const ObjectParticles& system) { return system.glBuffers ? system.glBuffers->glBufferCount : -1; }

}  // namespace

bool GlLoaded() {
    // The entry points are resolved once a context was made current.
    return glGenBuffers != nullptr;
}

void UpdateScene(Scene& scene, float seconds) { UpdateParticles(scene, seconds, &FollowPool); }

void UpdateSystem(ObjectParticles& system, float seconds) {
    if (system.Update(seconds)) FollowPool(system);
}

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
    b.glBufferCount = system.count;
}

void DeleteGLBuffers(ObjectParticles& system) {
    Log(3, "ObjectParticles::deleteGLBuffers()");
    system.glBuffers.reset();
    // The CPU arrays were sized with the pool by the update.
    InitGLBuffers(system);
}

void DrawModels(ObjectParticles& system, ShaderProgram* program, const glm::mat4& projection,
                const glm::mat4& view) {
    if (system.drawMode != DrawModeModel || system.count == 0 || !program || program->program == 0) return;
    Object& owner = system.owner;
    Mesh* mesh = owner.model.Evaluate();
    if (!mesh) return;
    // Copies look like their owner: its material as the owner's draw applied it.
    ObjectRenderState& renderState = system.renderState;
    renderState = owner.renderState;
    renderState.mesh = mesh;
    renderState.position = owner.position.Evaluate();
    renderState.rotation = owner.rotation.Evaluate();
    renderState.scale = owner.scale.Evaluate();
    Apply(renderState, program, projection, view, owner.id);
    glUniform1i(program->UniformLocation("quadParticles"), 0);
    const GLint modelScale = program->UniformLocation("modelScale");
    const GLenum primitiveMode = Renderer::Instance().primitiveMode;
    system.ForEachModelInstance(renderState.position, renderState.rotation, renderState.scale,
                                [&](const ParticleModelInstance& instance) {
                                    glUniform3fv(modelScale, 1, &instance.modelScale.x);
                                    ApplyInstance(renderState, program, projection, view, instance.matrix);
                                    DrawMesh(*mesh, primitiveMode);
                                });
}

void DrawQuads(ObjectParticles& system, ShaderProgram* program, const glm::mat4& projection,
               const glm::mat4& view) {
    const int count = system.count;
    if (!system.updated || system.drawMode != DrawModeQuads || count == 0 ||
        system.quadPositions.size() < static_cast<size_t>(count) * 12)
        return;
    if (BufferCount(system) != count) DeleteGLBuffers(system);
    Object& owner = system.owner;
    const glm::vec3 ownerPosition = owner.position.Evaluate();
    const int n = system.BuildQuads(Renderer::Instance().cameraRotation, ownerPosition);
    const ParticleBuffers& b = *system.glBuffers;

    glUseProgram(0);
    // Only what this frame wrote; the rest of each buffer is not drawn.
    const size_t quads = static_cast<size_t>(n);
    const std::tuple<GLuint, const float*, size_t> uploads[] = {
        {b.quadPositionBuffer, system.quadPositions.data(), quads * 48},
        {b.quadUvBuffer, system.quadUvs.data(), quads * 32},
        {b.quadColorBuffer, system.quadColors.data(), quads * 64}};
    for (const auto& [buffer, data, bytes] : uploads) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        if (bytes) glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes), data);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // A program that did not build draws nothing rather than fixed-function quads.
    if (n == 0 || !program || program->program == 0) return;

    // Sprites take the owner's colour texture where its material has one.
    ObjectRenderState& renderState = system.renderState;
    renderState = owner.renderState;
    renderState.position = ownerPosition;
    renderState.rotation = owner.rotation.Evaluate();
    renderState.scale = owner.scale.Evaluate();
    Apply(renderState, program, projection, view, owner.id);
    // Quads are sized by the particles alone; the owner's scale sizes models.
    glUniform1i(program->UniformLocation("quadParticles"), 1);

    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 0.25f);
    const std::pair<GLuint, GLint> attributes[] = {
        {b.quadPositionBuffer, 3}, {b.quadUvBuffer, 2}, {b.quadColorBuffer, 4}};
    for (GLuint location = 0; location < 3; ++location) {
        glEnableVertexAttribArray(location);
        glBindBuffer(GL_ARRAY_BUFFER, attributes[location].first);
        glVertexAttribPointer(location, attributes[location].second, GL_FLOAT, GL_FALSE, 0, nullptr);
    }
    glDrawArrays(GL_QUADS, 0, 4 * n);
    for (GLuint location = 0; location < 3; ++location) glDisableVertexAttribArray(location);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDisable(GL_BLEND);
}

void DrawParticles(Object& object, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view) {
    if (object.particles) DrawQuads(*object.particles, program, projection, view);
    for (auto& child : object.children) DrawParticles(*child, program, projection, view);
}
