#pragma once

// The shader programs the renderer builds, by name, with the files of their
// two stages in data/shaders/. GL-free: the content checker compiles the same
// pairs that the renderer links.

namespace caldera {

struct ProgramFiles {
    const char* name;      // as messages name the program
    const char* vertex;    // file name in data/shaders/
    const char* fragment;
};

inline constexpr const char* kShadersFolder = "data/shaders/";

// In the order Renderer::Init builds them (and the rebuild sweep visits them).
inline constexpr ProgramFiles kProgramFiles[] = {
    {"ssao", "Passthrough.vs", "ssao.fs"},
    {"copy", "Passthrough.vs", "copyframebuffer.fs"},
    {"lighting", "deferred.vs", "deferred.fs"},
    {"ssao blur", "Passthrough.vs", "ssao_blur.fs"},
    {"reflection", "Passthrough.vs", "ss_reflect.fs"},
    {"cube blur", "Passthrough.vs", "blurCubeMap.fs"},
    {"geometry", "TransformVertexShader.vs", "ColorFragmentShader.fs"},
    {"particles", "TransparentParticle2.vs", "TransparentParticle2.fs"},
    {"debug", "TransformVertexShader.vs", "Debug.fs"},
    {"simple", "Passthrough.vs", "simple.fs"},
    {"glass", "TransformVertexShader.vs", "refraction.fs"},
    {"lens dirt threshold", "Passthrough.vs", "pp_lens_dirt_threshold.fs"},
    {"lens dirt blur", "Passthrough.vs", "pp_lens_dirt_blur.fs"},
    {"lens dirt mix", "Passthrough.vs", "pp_lens_dirt_mix.fs"},
    {"shadow", "shadowmap_depth.vs", "shadowmap_depth.fs"},
    {"glow blur", "Passthrough.vs", "glow_blur.fs"},
};

}  // namespace caldera
