#pragma once

// The OpenGL API this build draws with, the one place that tells the two
// back ends apart: desktop OpenGL 3.3 through GLEW, or OpenGL ES 3.0 (the
// API of WebGL 2) when the build defines DEMO_GLES (cmake -DDEMO_GL=ES3).
// Everything else includes this header and writes one code path, branching
// on kGlEs only where ES 3.0 has no equivalent of a desktop call.

#ifdef DEMO_GLES
#include <GLES3/gl3.h>
#else
#include <GL/glew.h>
#endif

namespace caldera {

#ifdef DEMO_GLES
inline constexpr bool kGlEs = true;
#else
inline constexpr bool kGlEs = false;
#endif

// The name of a glGetError code ("GL_INVALID_ENUM"); "unknown GL error" for
// any other value.
const char* GlErrorName(GLenum error);

}  // namespace caldera
