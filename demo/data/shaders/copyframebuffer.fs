#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// An exact texel-for-texel copy between targets of the same size.

layout(binding = 0) uniform sampler2D inTexture1;

layout(location = 0) out vec4 outColor;

void main() {
    outColor = texelFetch(inTexture1, ivec2(gl_FragCoord.xy), 0);
}
