#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Screen-space reflections over the final G-buffer: a ray is marched in view
// space from each reflective pixel and the lit picture is read where it first
// passes behind the depth buffer. Positions are rebuilt from the depth
// texture, so the pass does not depend on what the position target holds.
// Rays that leave the screen or hit nothing fade out to the picture as it is.

in vec2 UV;

layout(binding = 0) uniform sampler2D colorMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D depthMap;
layout(binding = 4) uniform sampler2D propertiesMap;

uniform mat4 P;

layout(location = 0) out vec4 outColor;

const int kSteps = 40;
const float kStepLength = 0.25;  // view-space units
const float kThickness = 0.6;

mat4 inverseP;  // computed once per pixel, not per step

vec3 ViewPosition(vec2 uv, float depth) {
    vec4 clip = vec4(uv * 2.0 - 1.0, depth * 2.0 - 1.0, 1.0);
    vec4 view = inverseP * clip;
    return view.xyz / view.w;
}

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    vec3 base = texelFetch(colorMap, pixel, 0).rgb;
    float depth = texelFetch(depthMap, pixel, 0).r;
    float amount = clamp(texelFetch(propertiesMap, pixel, 0).r, 0.0, 1.0);
    outColor = vec4(base, 1.0);
    if (depth >= 1.0 || amount <= 0.01) return;

    inverseP = inverse(P);
    vec2 size = vec2(textureSize(depthMap, 0));
    vec3 position = ViewPosition((vec2(pixel) + 0.5) / size, depth);
    vec3 n = normalize(texelFetch(normalMap, pixel, 0).xyz);
    vec3 toEye = normalize(-position);
    vec3 ray = reflect(-toEye, n);
    // Rays towards the camera soon leave the depth buffer's knowledge.
    if (ray.z > 0.6) return;

    vec3 p = position + n * 0.02;
    for (int i = 1; i <= kSteps; ++i) {
        p += ray * kStepLength * (1.0 + float(i) * 0.05);
        vec4 clip = P * vec4(p, 1.0);
        if (clip.w <= 0.0) return;
        vec2 uv = clip.xy / clip.w * 0.5 + 0.5;
        if (any(lessThan(uv, vec2(0.0))) || any(greaterThan(uv, vec2(1.0)))) return;
        float sceneDepth = texture(depthMap, uv).r;
        if (sceneDepth >= 1.0) continue;
        float sceneZ = ViewPosition(uv, sceneDepth).z;
        float behind = sceneZ - p.z;
        if (behind > 0.0 && behind < kThickness) {
            vec2 edge = min(uv, 1.0 - uv);
            float fade = smoothstep(0.0, 0.1, min(edge.x, edge.y)) * (1.0 - float(i) / float(kSteps));
            float fresnel = 0.2 + 0.8 * pow(1.0 - max(dot(n, toEye), 0.0), 5.0);
            vec3 hit = texture(colorMap, uv).rgb;
            outColor = vec4(mix(base, hit, amount * fresnel * fade), 1.0);
            return;
        }
    }
}
