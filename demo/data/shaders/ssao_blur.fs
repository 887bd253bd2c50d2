#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// One direction of the separable occlusion blur. Taps across a depth edge
// are weighted down, so occlusion does not bleed between surfaces. The
// occlusion target carries each pixel's distance from the eye next to its
// visibility (see ssao.fs), so a tap is one fetch; the result keeps the
// centre's distance for the next direction.

in vec2 UV;

layout(binding = 0) uniform sampler2D ssaoMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D tangentMap;
layout(binding = 3) uniform sampler2D depthMap;
layout(binding = 4) uniform sampler2D positionMap;

uniform vec2 resolution;
uniform int horizontal;

layout(location = 0) out vec4 outOcclusion;

float DecodeDistance(vec2 encoded) {
    vec2 bytes = floor(encoded * 255.0 + 0.5);
    return (bytes.x * 256.0 + bytes.y) / 65535.0 * 14.0;  // log2(1 + distance)
}

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    ivec2 last = ivec2(resolution) - 1;
    ivec2 direction = horizontal != 0 ? ivec2(1, 0) : ivec2(0, 1);
    vec3 centre = texelFetch(ssaoMap, pixel, 0).rgb;
    // Background keeps its full visibility.
    if (centre.g + centre.b <= 0.0) {
        outOcclusion = vec4(centre, 1.0);
        return;
    }
    float centreLog = DecodeDistance(centre.gb);
    float centreDistance = exp2(centreLog) - 1.0;
    // Depth differences in log space: |dz| / distance for nearby depths,
    // the same fall-off the weights had in view units.
    float falloff = 8.0 * (1.0 + centreDistance) / max(centreDistance, 1.0) * 0.6931472;

    const float weights[3] = float[](0.2270270, 0.1945946, 0.1216216);
    float sum = centre.r * weights[0];
    float total = weights[0];
    for (int i = 1; i < 3; ++i) {
        for (int side = -1; side <= 1; side += 2) {
            ivec2 p = clamp(pixel + direction * (i * 2 * side), ivec2(0), last);
            vec3 tap = texelFetch(ssaoMap, p, 0).rgb;
            if (tap.g + tap.b <= 0.0) continue;
            float w = weights[i] * exp(-abs(DecodeDistance(tap.gb) - centreLog) * falloff);
            sum += tap.r * w;
            total += w;
        }
    }
    outOcclusion = vec4(sum / total, centre.gb, 1.0);
}
