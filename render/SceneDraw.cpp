#include "render/SceneDraw.h"

#include <GL/glew.h>

#include "render/ApplyMaterial.h"
#include "render/ApplyRenderState.h"
#include "render/MeshDraw.h"
#include "render/ParticleDraw.h"
#include "render/Renderer.h"
#include "resources/Material.h"
#include "render/ShaderProgram.h"
#include "scene/Array.h"
#include "scene/Scene.h"

namespace {

// Set by DrawObjects for the cube-map render, where objects are drawn when
// "Render to Cubemap?" is on, whatever "Render model?" says.
bool drawAllObjects = false;

// The glass flag of the material the object draws with now. Asking the
// object's material property rather than the material of its previous draw
// keeps glass out of the opaque passes on the first frame it is drawn and on
// the frame its material key changes.
bool IsGlass(const Object& object) {
    std::shared_ptr<const Material> material = object.materialProperty.Evaluate();
    return material && material->glass;
}

}  // namespace

void DrawObjects(Scene& scene, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view,
                 bool allObjects, bool glassWanted, bool onlyShadowCasters, bool invertFaces) {
    drawAllObjects = allObjects;
    Renderer::Instance().primitiveMode = GL_TRIANGLES;
    scene.projection = projection;
    scene.view = view;

    // Objects a reload replaces stay alive until the frame ends.
    if (!allObjects) scene.PollFile();

    glFrontFace(invertFaces ? GL_CCW : GL_CW);
    const GLuint name = program ? program->program : 0;
    for (auto& object : scene.objects) {
        glUseProgram(name);
        if (!allObjects && IsGlass(*object) != glassWanted) continue;
        if (onlyShadowCasters && !object->castShadow.Evaluate()) continue;
        DrawObject(*object, program, projection, view);
    }
}

void DrawObject(Object& object, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view) {
    if (drawAllObjects && !object.renderToCubemap.Evaluate()) return;
    Renderer& renderer = Renderer::Instance();
    ObjectRenderState& renderState = object.renderState;

    renderState.mesh = object.model.Evaluate();
    object.appliedMaterial = object.materialProperty.Evaluate();
    if (object.appliedMaterial) ApplyMaterial(renderState, *object.appliedMaterial, object.color.Evaluate());

    // A program that did not build takes no uniforms and draws nothing of
    // this object's own; its children still try.
    const bool usable = program && program->program != 0;
    if (usable) {
        ShaderProgram& p = *program;
        glUseProgram(p.program);
        const glm::vec3 add = object.uvAdd.Evaluate();
        glUniform3f(p.UniformLocation("uvAdd"), add.x, add.y, add.z);
        glUniform1i(p.UniformLocation("uvGen"), object.generateUv.Evaluate() ? 1 : 0);
        glUniform1f(p.UniformLocation("uvGenScale"), object.uvGenScale.Evaluate());
        glUniform1i(p.UniformLocation("uvGenWorldSpace"), object.uvGenWorldSpace.Evaluate() ? 1 : 0);
        glUniform1f(p.UniformLocation("alphaThreshold"), object.alphaThreshold.Evaluate());
        glUniform1f(p.UniformLocation("shadowReciveAmount"), object.shadowReceive.Evaluate());
        glUniform1f(p.UniformLocation("glowAmount"), object.glow.Evaluate());
    }

    renderState.position = object.DrawPosition(renderer.frame.currentScene, renderState.position);
    renderState.scale = object.scale.Evaluate();
    renderState.rotation = object.rotation.Evaluate();

    if (object.cullFace.Evaluate()) {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_FRONT);
    } else {
        glDisable(GL_CULL_FACE);
    }

    if ((drawAllObjects || object.renderModel.Evaluate()) && renderState.mesh && usable) {
        glUseProgram(program->program);
        Apply(renderState, program, projection, view, object.id);
        DrawMesh(*renderState.mesh, renderer.primitiveMode);
    }
    glUseProgram(0);

    if (object.particles) DrawModels(*object.particles, program, projection, view);
    if (!object.arrays.empty()) DrawArray(*object.arrays.front(), program, projection, view);

    for (auto& child : object.children) {
        ParentOffset offset(object, *child);
        DrawObject(*child, program, projection, view);
    }
}

void DrawArray(Array& first, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view) {
    for (Array* array = &first; array; array = array->next) {
        array->program = program;
        array->projection = projection;
        array->view = view;
    }
    ObjectRenderState& state = first.owner.renderState;
    Apply(state, program, projection, view, first.owner.id);
    if (!program || program->program == 0) return;
    ArrayInstances(first, first.drawn);
    const GLint scaleLocation = program->UniformLocation("modelScale");
    const GLenum mode = Renderer::Instance().primitiveMode;
    for (const ArrayInstance& instance : first.drawn) {
        ApplyInstance(state, program, projection, view, instance.matrix);
        glUniform3f(scaleLocation, instance.modelScale.x, instance.modelScale.y, instance.modelScale.z);
        if (state.mesh) DrawMesh(*state.mesh, mode);
    }
}

void UploadLights(Scene& scene, ShaderProgram* program) {
    scene.GatherLights();
    // A program that did not build takes no uniforms.
    if (!program || program->program == 0) return;
    glUseProgram(program->program);
    glUniform1i(program->UniformLocation("usedLights"), scene.lightCount);
    glUniform4fv(program->UniformLocation("lightsPos"), Scene::kMaxLights, &scene.lightPositions[0][0]);
    glUniform4fv(program->UniformLocation("lightsCol"), Scene::kMaxLights, &scene.lightColors[0][0]);
}
