#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Screen-space ambient occlusion: 6 samples in the hemisphere around the
// view-space normal, each compared against the surface the G-buffer holds
// where the sample projects. The kernel is rotated per pixel by a fixed
// pattern that the blur removes; nothing depends on time, so a frame renders
// the same every time.
// Output: r visibility; g and b the pixel's distance from the eye, 16 bits
// over two channels (0 where no surface is), which the blur reads instead of
// fetching the G-buffer again for every tap.

in vec2 UV;

layout(binding = 0) uniform sampler2D colorMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D tangentMap;
layout(binding = 3) uniform sampler2D depthMap;
layout(binding = 4) uniform sampler2D positionMap;
layout(binding = 5) uniform sampler2D propertiesMap;

uniform mat4 P;

layout(location = 0) out vec4 outOcclusion;

const int kSamples = 6;
const float kRadius = 0.6;  // view-space units

// Directions spread over the hemisphere on a golden-angle spiral, from
// near the normal to grazing, with lengths that grow so near occluders
// count more.
const vec3 kKernel[kSamples] = vec3[](
    vec3(0.0462, 0.0000, 0.1161), vec3(-0.0909, 0.0833, 0.1575), vec3(0.0217, -0.2472, 0.2099),
    vec3(0.2627, 0.3427, 0.2521), vec3(-0.6654, -0.1177, 0.2628), vec3(0.8229, -0.5235, 0.2208));

// Interleaved gradient noise: a rotation pattern whose neighbourhood
// averages out under the blur.
float Noise(vec2 pixel) { return fract(52.9829189 * fract(dot(pixel, vec2(0.06711056, 0.00583715)))); }

// The distance from the eye mapped to 0..1 with the same relative precision
// near and far, split into two 8-bit channels.
vec2 EncodeDistance(float z) {
    float d = clamp(log2(1.0 + abs(z)) / 14.0, 0.0, 1.0);
    float v = floor(d * 65535.0 + 0.5);
    float high = floor(v / 256.0);
    return vec2(high, v - high * 256.0) / 255.0;
}

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    vec4 centre = texelFetch(positionMap, pixel, 0);
    // No surface: the position target keeps its cleared zero.
    if (centre.z >= 0.0) {
        outOcclusion = vec4(1.0, 0.0, 0.0, 1.0);
        return;
    }
    vec3 position = centre.xyz;
    vec3 n = normalize(texelFetch(normalMap, pixel, 0).xyz);

    float angle = Noise(gl_FragCoord.xy) * 6.2831853;
    vec3 random = vec3(cos(angle), sin(angle), 0.0);
    vec3 t = random - n * dot(random, n);
    if (dot(t, t) < 1e-6) t = abs(n.x) < 0.9 ? cross(n, vec3(1, 0, 0)) : cross(n, vec3(0, 1, 0));
    t = normalize(t);
    mat3 basis = mat3(t, cross(n, t), n) * kRadius;

    vec2 size = vec2(textureSize(positionMap, 0));
    ivec2 last = textureSize(positionMap, 0) - 1;
    float occlusion = 0.0;
    for (int i = 0; i < kSamples; ++i) {
        vec3 samplePosition = position + basis * kKernel[i];
        vec4 clip = P * vec4(samplePosition, 1.0);
        if (clip.w <= 0.0) continue;
        vec2 uv = clip.xy / clip.w * 0.5 + 0.5;
        if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0)))) continue;
        // The nearest texel: one read instead of four filtered ones.
        float sceneZ = texelFetch(positionMap, min(ivec2(uv * size), last), 0).z;
        if (sceneZ >= 0.0) continue;
        // Far-away occluders (across a depth edge) do not darken: no haloes.
        float range = smoothstep(0.0, 1.0, kRadius / max(abs(position.z - sceneZ), 1e-4));
        occlusion += (sceneZ >= samplePosition.z + 0.02 ? 1.0 : 0.0) * range;
    }
    float visibility = 1.0 - occlusion / float(kSamples);
    outOcclusion = vec4(visibility, EncodeDistance(position.z), 1.0);
}
