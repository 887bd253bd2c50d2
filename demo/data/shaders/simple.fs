#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Shows a texture unchanged: the final blit and the glass pass's copies of the
// lit picture must not alter it.

in vec2 UV;

layout(binding = 0) uniform sampler2D renderedTexture;

layout(location = 0) out vec4 outColor;

void main() {
    outColor = vec4(texture(renderedTexture, UV).rgb, 1.0);
}
