#pragma once

#include <glm/mat4x4.hpp>

namespace caldera {

class ObjectRenderState;
class ShaderProgram;

// The four material textures of `state` on units 0 to 3 ("colorMap",
// "normalMap", "reflectionMap", "blurrinessMap"). The program must be in use.
void BindTextures(const ObjectRenderState& state, ShaderProgram& program);

// Binds the textures and uploads every per-object uniform to `program`,
// which it puts in use: the state's model matrix, the MVP through
// `projection` and `view`, `depthBias` for the shadow lookup and the show's
// `time` in seconds. Does nothing for a null program or one that did not
// build.
void Apply(const ObjectRenderState& state, ShaderProgram* program, const glm::mat4& projection,
           const glm::mat4& view, int objectId, const glm::mat4& depthBias, float time);

// For one instance of an array or particle system drawn with `instanceModel`:
// uploads "MVP", "M", "V" and "P" only.
void ApplyInstance(ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view,
                   const glm::mat4& instanceModel);

}  // namespace caldera
