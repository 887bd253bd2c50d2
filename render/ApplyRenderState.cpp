#include "render/ApplyRenderState.h"

#include "platform/Gl.h"

#include <glm/gtc/type_ptr.hpp>

#include "render/Renderer.h"
#include "render/ShaderProgram.h"
#include "resources/Texture.h"
#include "scene/ObjectRenderState.h"

namespace caldera {

namespace {

// A texture that is decoding, or whose file did not decode, binds as none;
// sampling none reads black, which would turn a normal map into a bent
// normal, so the stand-in is bound then as well.
void BindOrFallback(ShaderProgram& program, const char* name, Texture* texture, GLuint fallback, int unit) {
    if (!texture) {
        program.SetTextureName(name, fallback, unit);
        return;
    }
    program.SetTexture(name, texture, unit);
    if (texture->glName == 0 || texture->loading.load(std::memory_order_acquire))
        glBindTexture(GL_TEXTURE_2D, fallback);
}

void UploadMatrix(ShaderProgram& program, const char* name, const glm::mat4& matrix) {
    glUniformMatrix4fv(program.UniformLocation(name), 1, GL_FALSE, glm::value_ptr(matrix));
}

bool Usable(const ShaderProgram* program) { return program && program->program != 0; }

}  // namespace

void BindTextures(const ObjectRenderState& state, ShaderProgram& program) {
    const Renderer& renderer = Renderer::Instance();
    BindOrFallback(program, "colorMap", state.colorTexture, renderer.whiteTex, 0);
    BindOrFallback(program, "normalMap", state.normalTexture, renderer.defaultNormalTex, 1);
    BindOrFallback(program, "reflectionMap", state.reflectionTexture, renderer.whiteTex, 2);
    BindOrFallback(program, "blurrinessMap", state.blurrinessTexture, renderer.whiteTex, 3);
}

void Apply(const ObjectRenderState& state, ShaderProgram* program, const glm::mat4& projection,
           const glm::mat4& view, int objectId, const glm::mat4& depthBias, float time) {
    if (!Usable(program)) return;
    const glm::mat4 mvp = projection * view * state.modelMatrix;

    glUseProgram(program->program);
    BindTextures(state, *program);

    ShaderProgram& p = *program;
    glUniform3fv(p.UniformLocation("modelScale"), 1, glm::value_ptr(state.scale));
    glUniform1f(p.UniformLocation("shadeless"), state.shadeless);
    glUniform1f(p.UniformLocation("reflectionAmount"), state.reflectionAmount);
    glUniform1f(p.UniformLocation("_time"), time);
    glUniform1i(p.UniformLocation("useSkyShader"), state.useSkyShader ? 1 : 0);
    glUniform1f(p.UniformLocation("blurriness"), state.blurriness);
    glUniform1f(p.UniformLocation("normalStrength"), state.normalStrength);
    glUniform1f(p.UniformLocation("refraction"), state.refraction);
    glUniform1f(p.UniformLocation("objectID"), static_cast<float>(objectId));
    UploadMatrix(p, "MVP", mvp);
    UploadMatrix(p, "M", state.modelMatrix);
    UploadMatrix(p, "V", view);
    UploadMatrix(p, "P", projection);
    UploadMatrix(p, "DepthBiasMVP", depthBias);
    glUniform3fv(p.UniformLocation("COLOR"), 1, glm::value_ptr(state.color));
}

void ApplyInstance(ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view,
                   const glm::mat4& instanceModel) {
    if (!Usable(program)) return;
    const glm::mat4 mvp = projection * view * instanceModel;
    glUseProgram(program->program);
    UploadMatrix(*program, "MVP", mvp);
    UploadMatrix(*program, "M", instanceModel);
    UploadMatrix(*program, "V", view);
    UploadMatrix(*program, "P", projection);
}

}  // namespace caldera
