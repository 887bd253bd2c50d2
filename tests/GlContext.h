#pragma once

// One OpenGL context for the GL tests of a process, made current on the
// calling thread at first use and kept until the process ends. Tests call
// `if (!HaveGlContext()) GTEST_SKIP() << ...;` and run headless under Xvfb.

#include <string>

// Whether a context is current on this thread; the first call makes it.
bool HaveGlContext();
// Why there is none (empty while there is one).
const std::string& GlContextError();
