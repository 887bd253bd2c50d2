#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Screen-space ambient occlusion: 16 samples in the hemisphere around the
// view-space normal, each compared against the depth the G-buffer holds where
// the sample projects. The kernel is rotated per pixel by a fixed pattern that
// the blur removes; nothing depends on time, so a frame renders the same
// every time.

in vec2 UV;

layout(binding = 0) uniform sampler2D colorMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D tangentMap;
layout(binding = 3) uniform sampler2D depthMap;
layout(binding = 4) uniform sampler2D positionMap;
layout(binding = 5) uniform sampler2D propertiesMap;

uniform mat4 P;

layout(location = 0) out vec4 outOcclusion;

const int kSamples = 16;
const float kRadius = 0.6;  // view-space units

float Hash(vec2 p) { return fract(sin(dot(p, vec2(12.9898, 78.233))) * 43758.5453); }

// Interleaved gradient noise: a rotation pattern whose 4 x 4 neighbourhood
// averages out under the blur.
float Noise(vec2 pixel) { return fract(52.9829189 * fract(dot(pixel, vec2(0.06711056, 0.00583715)))); }

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    if (texelFetch(depthMap, pixel, 0).r >= 1.0) {
        outOcclusion = vec4(1.0);
        return;
    }
    vec3 position = texelFetch(positionMap, pixel, 0).xyz;
    vec3 n = normalize(texelFetch(normalMap, pixel, 0).xyz);

    float angle = Noise(gl_FragCoord.xy) * 6.2831853;
    vec3 random = vec3(cos(angle), sin(angle), 0.0);
    vec3 t = random - n * dot(random, n);
    if (dot(t, t) < 1e-6) t = abs(n.x) < 0.9 ? cross(n, vec3(1, 0, 0)) : cross(n, vec3(0, 1, 0));
    t = normalize(t);
    mat3 basis = mat3(t, cross(n, t), n);

    float occlusion = 0.0;
    for (int i = 0; i < kSamples; ++i) {
        float fi = float(i);
        vec3 k = normalize(vec3(Hash(vec2(fi, 1.0)) * 2.0 - 1.0, Hash(vec2(fi, 2.0)) * 2.0 - 1.0,
                                Hash(vec2(fi, 3.0)) * 0.9 + 0.1));
        float scale = (fi + 1.0) / float(kSamples);
        k *= mix(0.1, 1.0, scale * scale);
        vec3 samplePosition = position + basis * k * kRadius;

        vec4 clip = P * vec4(samplePosition, 1.0);
        if (clip.w <= 0.0) continue;
        vec2 uv = clip.xy / clip.w * 0.5 + 0.5;
        if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0)))) continue;
        if (texture(depthMap, uv).r >= 1.0) continue;
        float sceneZ = texture(positionMap, uv).z;
        // Far-away occluders (across a depth edge) do not darken: no haloes.
        float range = smoothstep(0.0, 1.0, kRadius / max(abs(position.z - sceneZ), 1e-4));
        occlusion += (sceneZ >= samplePosition.z + 0.02 ? 1.0 : 0.0) * range;
    }
    float visibility = 1.0 - occlusion / float(kSamples);
    outOcclusion = vec4(vec3(visibility), 1.0);
}
