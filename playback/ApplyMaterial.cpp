#include "playback/ApplyMaterial.h"

#include "scene/ObjectRenderState.h"
#include "resources/Material.h"
#include "resources/ResourceManager.h"

namespace caldera {

namespace {

Texture* FindTexture(uint32_t hash) { return hash ? ResourceManager::Instance().FindTexture(hash) : nullptr; }

}  // namespace

void ApplyMaterial(ObjectRenderState& state, const Material& material, glm::vec3 objectColor) {
    state.colorTexture = FindTexture(material.colorMap);
    state.normalTexture = FindTexture(material.normalMap);
    state.reflectionTexture = FindTexture(material.reflectionMap);
    state.blurrinessTexture = FindTexture(material.blurrinessMap);
    state.color = material.color * objectColor;
    state.reflectionAmount = material.reflectionAmount;
    state.shadeless = material.shadeless;
    state.useSkyShader = material.useSkyShader;
    state.blurriness = material.blurrinessMultiplier;
    state.normalStrength = material.normalStrength;
    state.refraction = material.refraction;
}

}  // namespace caldera
