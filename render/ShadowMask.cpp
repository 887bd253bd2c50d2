#include "render/ShadowMask.h"

#include <GL/glew.h>

#include "render/Renderer.h"
#include "resources/ResourceManager.h"
#include "render/ShaderProgram.h"
#include "resources/Texture.h"
#include "scene/Scene.h"

void BindShadowMask(ShaderProgram& program, const Scene* scene, int unit) {
    Texture* mask = nullptr;
    if (scene && scene->shadowMaskEnabled && scene->shadowMaskHash != 0)
        mask = ResourceManager::Instance().FindTexture(scene->shadowMaskHash);
    if (mask) {
        program.SetTexture("ShadowMaskTexture", mask, unit);
        if (mask->glName != 0 && !mask->loading.load(std::memory_order_acquire)) return;
    }
    program.SetTextureName("ShadowMaskTexture", Renderer::Instance().whiteTex, unit);
}
