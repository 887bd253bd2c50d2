#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// The bright part of the picture; built and reloaded, drawn by no pass.

in vec2 UV;

layout(binding = 0) uniform sampler2D texScene;

layout(location = 0) out vec4 outColor;

void main() {
    outColor = vec4(max(texture(texScene, UV).rgb - vec3(1.0), vec3(0.0)), 1.0);
}
