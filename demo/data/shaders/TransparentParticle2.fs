#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Particles: soft round sprites tinted by the particle colour, through the
// owner's colour map (white where it has none).

in vec2 UV;
in vec4 particleColor;

layout(binding = 0) uniform sampler2D colorMap;
uniform vec3 COLOR;

layout(location = 0) out vec4 outColor;

void main() {
    vec4 texel = texture(colorMap, UV);
    // 1 in the middle of the quad, fading smoothly to 0 at its inscribed circle.
    float radius = length(UV * 2.0 - 1.0);
    float soft = 1.0 - smoothstep(0.35, 1.0, radius);
    float alpha = texel.a * particleColor.a * soft;
    if (alpha <= 0.002) discard;
    outColor = vec4(texel.rgb * COLOR * particleColor.rgb, alpha);
}
