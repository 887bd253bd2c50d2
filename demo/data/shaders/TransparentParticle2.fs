#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Particles: the owner's colour map tinted by the particle colour and the
// material colour, blended over the picture.

in vec2 UV;
in vec4 particleColor;

layout(binding = 0) uniform sampler2D colorMap;
uniform vec3 COLOR;

layout(location = 0) out vec4 outColor;

void main() {
    vec4 texel = texture(colorMap, UV);
    outColor = vec4(texel.rgb * COLOR * particleColor.rgb, texel.a * particleColor.a);
}
