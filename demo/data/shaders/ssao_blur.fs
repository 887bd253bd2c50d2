#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// One direction of the separable occlusion blur. Taps across a depth edge or
// a crease are weighted down, so occlusion does not bleed between surfaces.

in vec2 UV;

layout(binding = 0) uniform sampler2D ssaoMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D tangentMap;
layout(binding = 3) uniform sampler2D depthMap;
layout(binding = 4) uniform sampler2D positionMap;

uniform vec2 resolution;
uniform int horizontal;

layout(location = 0) out vec4 outOcclusion;

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    ivec2 last = ivec2(resolution) - 1;
    ivec2 direction = horizontal != 0 ? ivec2(1, 0) : ivec2(0, 1);
    float centreZ = texelFetch(positionMap, pixel, 0).z;
    vec3 centreN = texelFetch(normalMap, pixel, 0).xyz;
    bool background = texelFetch(depthMap, pixel, 0).r >= 1.0;

    const float weights[5] = float[](0.2270270, 0.1945946, 0.1216216, 0.0540540, 0.0162162);
    float sum = texelFetch(ssaoMap, pixel, 0).r * weights[0];
    float total = weights[0];
    if (!background) {
        for (int i = 1; i < 5; ++i) {
            for (int side = -1; side <= 1; side += 2) {
                ivec2 p = clamp(pixel + direction * (i * 2 * side), ivec2(0), last);
                if (texelFetch(depthMap, p, 0).r >= 1.0) continue;
                float dz = abs(texelFetch(positionMap, p, 0).z - centreZ);
                float w = weights[i] * exp(-dz * 8.0 / max(abs(centreZ), 1.0));
                w *= pow(max(dot(centreN, texelFetch(normalMap, p, 0).xyz), 0.0), 8.0);
                sum += texelFetch(ssaoMap, p, 0).r * w;
                total += w;
            }
        }
    }
    float visibility = sum / total;
    outOcclusion = vec4(vec3(visibility), 1.0);
}
