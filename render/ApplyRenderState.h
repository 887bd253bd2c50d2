#pragma once

#include <glm/mat4x4.hpp>

class ObjectRenderState;
class ShaderProgram;

// The four material textures of `state` on units 0 to 3 ("colorMap",
// "normalMap", "reflectionMap", "blurrinessMap"). The program must be in use.
void BindTextures(ObjectRenderState& state, ShaderProgram& program);

// Builds the model matrix T x Rx x Ry x Rz and the MVP, binds the textures
// and uploads every per-object uniform to `program`, which it puts in use.
// Does nothing for a null program or one that did not build.
void Apply(ObjectRenderState& state, ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view,
           int objectId);

// For one instance of an array or particle system: `instanceModel` becomes
// the model matrix; uploads "MVP", "M", "V" and "P" only.
void ApplyInstance(ObjectRenderState& state, ShaderProgram* program, const glm::mat4& projection,
                   const glm::mat4& view, const glm::mat4& instanceModel);
