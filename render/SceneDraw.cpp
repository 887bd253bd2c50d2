#include "render/SceneDraw.h"

#include "platform/Gl.h"

#include "render/ApplyRenderState.h"
#include "render/MeshDraw.h"
#include "render/ShaderProgram.h"

namespace caldera {

namespace {

struct PassInputs {
    const PreparedFrame& frame;
    ShaderProgram* program;
    const glm::mat4& projection;
    const glm::mat4& view;
    bool cube;
};

bool Usable(const ShaderProgram* program) { return program && program->program != 0; }

// "draw.model": a copy of the owner's mesh per emitted particle, alive or dead.
void DrawParticleModels(const PassInputs& pass, const PreparedFrame::Drawable& d) {
    if (!d.particleModels || !Usable(pass.program)) return;
    ShaderProgram& program = *pass.program;
    Apply(d.particleState, pass.program, pass.projection, pass.view, d.objectId, pass.frame.shadow.biasMvp, pass.frame.time);
    glUniform1i(program.UniformLocation("quadParticles"), 0);
    const GLint modelScale = program.UniformLocation("modelScale");
    for (uint32_t i = 0; i < d.particleCopies.count; ++i) {
        const PreparedFrame::Instance& copy = pass.frame.instances[d.particleCopies.first + i];
        glUniform3fv(modelScale, 1, &copy.modelScale.x);
        ApplyInstance(pass.program, pass.projection, pass.view, copy.matrix);
        DrawMesh(*d.particleState.mesh);
    }
}

// Every copy of the object's array chain: the owner's render state once,
// then each copy's matrices, "modelScale" and a draw of the owner's mesh.
void DrawArrayCopies(const PassInputs& pass, const PreparedFrame::Drawable& d) {
    Apply(d.state, pass.program, pass.projection, pass.view, d.objectId, pass.frame.shadow.biasMvp, pass.frame.time);
    if (!Usable(pass.program)) return;
    const GLint scaleLocation = pass.program->UniformLocation("modelScale");
    for (uint32_t i = 0; i < d.arrayCopies.count; ++i) {
        const PreparedFrame::Instance& copy = pass.frame.instances[d.arrayCopies.first + i];
        ApplyInstance(pass.program, pass.projection, pass.view, copy.matrix);
        glUniform3f(scaleLocation, copy.modelScale.x, copy.modelScale.y, copy.modelScale.z);
        if (d.state.mesh) DrawMesh(*d.state.mesh);
    }
}

// Draws drawable `index` and its subtree; returns the index past it.
uint32_t DrawObject(const PassInputs& pass, uint32_t index) {
    const PreparedFrame::Drawable& d = pass.frame.drawables[index];
    if (pass.cube && !d.renderToCubemap) return d.subtreeEnd;

    // A program that did not build takes no uniforms and draws nothing of
    // this object's own; its children still try.
    const bool usable = Usable(pass.program);
    if (usable) {
        ShaderProgram& p = *pass.program;
        glUseProgram(p.program);
        glUniform3f(p.UniformLocation("uvAdd"), d.uvAdd.x, d.uvAdd.y, d.uvAdd.z);
        glUniform1i(p.UniformLocation("uvGen"), d.generateUv ? 1 : 0);
        glUniform1f(p.UniformLocation("uvGenScale"), d.uvGenScale);
        glUniform1i(p.UniformLocation("uvGenWorldSpace"), d.uvGenWorldSpace ? 1 : 0);
        glUniform1f(p.UniformLocation("alphaThreshold"), d.alphaThreshold);
        glUniform1f(p.UniformLocation("shadowReciveAmount"), d.shadowReceive);
        glUniform1f(p.UniformLocation("glowAmount"), d.glow);
    }

    if (d.cullFace) {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT);
    } else {
        glDisable(GL_CULL_FACE);
    }

    if ((pass.cube || d.renderModel) && d.state.mesh && usable) {
        glUseProgram(pass.program->program);
        Apply(d.state, pass.program, pass.projection, pass.view, d.objectId, pass.frame.shadow.biasMvp, pass.frame.time);
        DrawMesh(*d.state.mesh);
    }
    glUseProgram(0);

    DrawParticleModels(pass, d);
    if (d.arrays) DrawArrayCopies(pass, d);

    uint32_t next = index + 1;
    while (next < d.subtreeEnd) next = DrawObject(pass, next);
    return d.subtreeEnd;
}

}  // namespace

void DrawObjects(const PreparedFrame& frame, ShaderProgram* program, const glm::mat4& projection,
                 const glm::mat4& view, DrawSelection selection) {
    const PassInputs pass{frame, program, projection, view, selection.cube};
    glFrontFace(selection.invertFaces ? GL_CCW : GL_CW);
    const GLuint name = program ? program->program : 0;
    const uint32_t count = static_cast<uint32_t>(frame.drawables.size());
    for (uint32_t i = 0; i < count; i = frame.drawables[i].subtreeEnd) {
        glUseProgram(name);
        const PreparedFrame::Drawable& d = frame.drawables[i];
        if (!selection.cube && d.glass != selection.glass) continue;
        if (selection.onlyShadowCasters && !d.castShadow) continue;
        DrawObject(pass, i);
    }
}

void UploadLights(const PreparedFrame::Lights& lights, ShaderProgram* program) {
    // A program that did not build takes no uniforms.
    if (!Usable(program)) return;
    glUseProgram(program->program);
    glUniform1i(program->UniformLocation("usedLights"), lights.count);
    glUniform4fv(program->UniformLocation("lightsPos"), PreparedFrame::kMaxLights, &lights.positions[0][0]);
    glUniform4fv(program->UniformLocation("lightsCol"), PreparedFrame::kMaxLights, &lights.colors[0][0]);
}

}  // namespace caldera
