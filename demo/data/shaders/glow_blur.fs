#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// The glow chain at a sixth of the screen. Horizontal pass: the bright part
// of the picture smeared into long anamorphic streaks, plus a lens flare (the
// picture mirrored through the centre). Vertical pass: a short vertical blur
// of that, plus radial reflections.

in vec2 UV;

layout(binding = 0) uniform sampler2D texture;
layout(binding = 1) uniform sampler2D texturePosition;

uniform int isHorizontal;
uniform float uAnamorphicIntensity;
uniform float uLensFlareIntensity;
uniform float uRadialReflectIntensity;

layout(location = 0) out vec4 outColor;

vec3 Bright(vec2 uv) {
    vec3 c = texture2D(texture, clamp(uv, vec2(0.0), vec2(1.0))).rgb;
    return max(c - vec3(1.0), vec3(0.0));
}

void main() {
    vec3 sum = vec3(0.0);
    if (isHorizontal != 0) {
        for (int i = -12; i <= 12; ++i) {
            float w = exp(-abs(float(i)) * 0.18);
            sum += Bright(UV + vec2(float(i) * 0.012, 0.0)) * w;
        }
        sum *= uAnamorphicIntensity * 0.1;
        sum += Bright(vec2(1.0) - UV) * uLensFlareIntensity * 0.5;
    } else {
        float total = 0.0;
        for (int i = -4; i <= 4; ++i) {
            float w = exp(-float(i * i) * 0.2);
            sum += texture2D(texture, UV + vec2(0.0, float(i) * 0.004)).rgb * w;
            total += w;
        }
        sum /= total;
        vec2 fromCentre = UV - 0.5;
        sum += texture2D(texture, 0.5 - fromCentre * 0.6).rgb * uRadialReflectIntensity * 0.3;
    }
    outColor = vec4(sum, 1.0);
}
