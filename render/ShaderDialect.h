#pragma once

#include <string>
#include <string_view>
#include <vector>

// GL-free: the content checker and the tests use it without a context.

namespace caldera {

// A sampler and the texture unit its declaration names.
struct SamplerUnit {
    std::string name;
    int unit = 0;
};

// The units that `layout(binding = N)` gives the samplers of `source`. The
// renderer sets them with glUniform1i after linking, so a source whose
// bindings were dropped samples the same units.
std::vector<SamplerUnit> SamplerBindings(std::string_view source);

// The name under which a uniform of the desktop source is found in its
// GLSL ES rewrite: only a sampler called "texture" is renamed.
const char* EsUniformName(const char* name);

// A desktop shader stage (`#version 330`, core or compatibility, with the
// 420pack extension) rewritten as GLSL ES 3.00: the version line becomes
// `#version 300 es`; highp precision for float, int and the sampler types is
// set at the start of the first line that is not a directive; the 420pack
// extension line and `layout(binding = N)` go; texture2D, textureCube and
// their Lod forms become texture and textureLod; a sampler named "texture",
// which would hide the built-in function, is renamed; attribute and varying
// become in and out, and gl_FragColor a declared output. Every line stays on
// its line, so compiler messages point at the author's file. Comments are
// copied unchanged.
std::string ToGlslEs(std::string_view source, bool fragment);

}  // namespace caldera
