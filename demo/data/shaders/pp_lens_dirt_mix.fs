#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// The full-size mix: the glow added through the lens-dirt texture, then the
// colour filter and the fades to black and to white.

in vec2 UV;

layout(binding = 0) uniform sampler2D texLensDirtIntensity;
layout(binding = 1) uniform sampler2D texScene;
layout(binding = 2) uniform sampler2D texLensDirt;

uniform float uLensDirtIntensity;
uniform float uLensDirtIntensityClean;
uniform float uFadeToBlack;
uniform float uFadeToWhite;
uniform float uColorFilterIntensity;
uniform vec3 uColorFilterColor;

layout(location = 0) out vec4 outColor;

void main() {
    vec3 scene = texelFetch(texScene, ivec2(gl_FragCoord.xy), 0).rgb;
    vec3 glow = texture(texLensDirtIntensity, UV).rgb;
    vec3 dirt = texture(texLensDirt, UV).rgb;
    vec3 color = scene + glow * (dirt * uLensDirtIntensity + vec3(uLensDirtIntensityClean));
    color = mix(color, color * uColorFilterColor, clamp(uColorFilterIntensity, 0.0, 1.0));
    color = mix(color, vec3(0.0), clamp(uFadeToBlack, 0.0, 1.0));
    color = mix(color, vec3(1.0), clamp(uFadeToWhite, 0.0, 1.0));
    outColor = vec4(color, 1.0);
}
