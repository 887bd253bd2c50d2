#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// The glow chain at a sixth of the screen, in two passes.
// Horizontal pass, reading the full-size picture: the part brighter than 1
// smeared into anamorphic streaks whose length and strength follow
// "uAnamorphicIntensity", plus a lens flare (the bright part mirrored through
// the centre), plus the halo of glowing objects: each pixel's colour times
// its object's "Glow" (the G-buffer's glow amount), blurred. Vertical pass, reading that result: a short vertical blur that
// keeps the streaks thin, plus radial reflections (ghosts of the bright parts
// along the line through the centre).

in vec2 UV;

layout(binding = 0) uniform sampler2D texture;
layout(binding = 1) uniform sampler2D texturePosition;
layout(binding = 2) uniform sampler2D textureProperties;

uniform int isHorizontal;
uniform float uAnamorphicIntensity;
uniform float uLensFlareIntensity;
uniform float uRadialReflectIntensity;

layout(location = 0) out vec4 outColor;

vec3 Bright(vec2 uv) {
    vec3 c = texture2D(texture, clamp(uv, vec2(0.0), vec2(1.0))).rgb;
    return max(c - vec3(1.0), vec3(0.0));
}

// The bright part over the width of one output texel: the input is six times
// larger, and a small light between two taps must not vanish.
vec3 BrightTexel(vec2 uv, float texelX) {
    return (Bright(uv - vec2(texelX / 3.0, 0.0)) + Bright(uv) + Bright(uv + vec2(texelX / 3.0, 0.0))) / 3.0;
}

// The light an object's glow adds at `uv`: its colour times its glow amount.
vec3 Glowing(vec2 uv) {
    uv = clamp(uv, vec2(0.0), vec2(1.0));
    return texture2D(texture, uv).rgb * max(texture2D(textureProperties, uv).b, 0.0);
}

// Outside the picture a ghost shows nothing, not the stretched edge.
vec3 Ghost(vec2 uv) {
    if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0)))) return vec3(0.0);
    return texture2D(texture, uv).rgb;
}

void main() {
    vec3 sum = vec3(0.0);
    if (isHorizontal != 0) {
        float texelX = 6.0 / float(textureSize(texture, 0).x);
        float level = max(uAnamorphicIntensity, 0.0);
        if (level > 0.0) {
            // Fall-off length in output texels grows with the level.
            float reach = 1.0 + 8.0 * level;
            for (int i = -32; i <= 32; ++i) {
                float w = exp(-abs(float(i)) / reach);
                if (w < 0.01) continue;
                sum += BrightTexel(UV + vec2(float(i) * texelX, 0.0), texelX) * w;
            }
            sum *= level * 0.5;
        }
        sum += BrightTexel(vec2(1.0) - UV, texelX) * max(uLensFlareIntensity, 0.0) * 0.5;
        // The halo's horizontal half; the vertical pass blurs it as much down.
        vec3 halo = vec3(0.0);
        float total = 0.0;
        for (int i = -2; i <= 2; ++i) {
            float w = exp(-float(i * i) * 0.5);
            halo += Glowing(UV + vec2(float(i) * texelX, 0.0)) * w;
            total += w;
        }
        sum += halo / total;
    } else {
        float texelY = 1.0 / float(textureSize(texture, 0).y);
        float total = 0.0;
        for (int i = -2; i <= 2; ++i) {
            float w = exp(-float(i * i) * 0.5);
            sum += texture2D(texture, UV + vec2(0.0, float(i) * texelY)).rgb * w;
            total += w;
        }
        sum /= total;
        vec2 fromCentre = UV - 0.5;
        vec3 ghosts = Ghost(0.5 - fromCentre * 0.6) * 0.5 + Ghost(0.5 - fromCentre * 1.5) * 0.3 +
                      Ghost(0.5 + fromCentre * 0.35) * 0.2;
        sum += ghosts * max(uRadialReflectIntensity, 0.0) * 0.6;
    }
    outColor = vec4(sum, 1.0);
}
