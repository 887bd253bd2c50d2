#pragma once

#include <glm/mat4x4.hpp>

#include "playback/PreparedFrame.h"

namespace caldera {

class ShaderProgram;

// How a prepared frame's drawables reach the GL: the one loop every pass
// draws a scene with, and the draws of an object, its particle copies and
// its arrays. Render thread, context current.

// Which drawables a pass takes. Filters apply to top-level objects, whose
// children go with them.
struct DrawSelection {
    // The cube-map render: every object whose "Render to Cubemap?" is on,
    // whatever "Render model?" says, glass or not.
    bool cube = false;
    bool glass = false;             // outside the cube render: glass objects, or the others
    bool onlyShadowCasters = false;
    // Front faces are counter-clockwise, else clockwise.
    bool invertFaces = false;
};

// Draws the selected drawables of `frame` with `program`, seen through
// `projection` and `view`. Leaves face culling as the last object's "Cull
// Face" set it and no program in use.
void DrawObjects(const PreparedFrame& frame, ShaderProgram* program, const glm::mat4& projection,
                 const glm::mat4& view, DrawSelection selection);

// The frame's lights, uploaded as "usedLights", "lightsPos" and "lightsCol".
void UploadLights(const PreparedFrame::Lights& lights, ShaderProgram* program);

}  // namespace caldera
