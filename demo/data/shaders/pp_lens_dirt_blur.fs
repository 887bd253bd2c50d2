#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// A small box blur; built and reloaded, drawn by no pass.

in vec2 UV;

layout(binding = 0) uniform sampler2D texture;

layout(location = 0) out vec4 outColor;

void main() {
    vec2 texel = 1.0 / vec2(textureSize(texture, 0));
    vec3 sum = vec3(0.0);
    for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x) sum += texture2D(texture, UV + vec2(x, y) * texel).rgb;
    outColor = vec4(sum / 9.0, 1.0);
}
