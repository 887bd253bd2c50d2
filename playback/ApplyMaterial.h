#pragma once

#include <glm/vec3.hpp>

namespace caldera {

struct Material;
class ObjectRenderState;

// Gives `state` the material's textures (looked up by name hash in the
// texture registry now, so a texture that appears later is picked up at the
// next application; an unregistered name gives none) and its values, with
// the material colour multiplied by the object's colour. Whether the object
// is glass is the material's `glass` flag, which the caller keeps.
void ApplyMaterial(ObjectRenderState& state, const Material& material, glm::vec3 objectColor);

}  // namespace caldera
