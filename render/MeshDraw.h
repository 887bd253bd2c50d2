#pragma once

#include "platform/Gl.h"

namespace caldera {

class Mesh;

// The GPU side of a mesh: its four vertex buffers. Render thread, context
// current.
void CreateBuffers(Mesh& mesh);
void DeleteBuffers(Mesh& mesh);
// Draws the triangles with `primitiveMode` (GL_TRIANGLES for objects),
// re-reading the file first when a reload was requested and still pending,
// and (re)making the buffers when the content is new.
void DrawMesh(Mesh& mesh, GLenum primitiveMode = GL_TRIANGLES);

}  // namespace caldera
