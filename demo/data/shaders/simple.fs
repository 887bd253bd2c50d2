#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Shows a texture unchanged: the final blit and the glass pass's copies of the
// lit picture must not alter it. Source and target have the same size, so
// each pixel reads its own texel.

in vec2 UV;

layout(binding = 0) uniform sampler2D renderedTexture;

layout(location = 0) out vec4 outColor;

void main() {
    outColor = vec4(texelFetch(renderedTexture, ivec2(gl_FragCoord.xy), 0).rgb, 1.0);
}
