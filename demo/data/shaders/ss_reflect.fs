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

// The march: 12 strides that grow along the ray and reach 20 view-space
// units, then 3 halvings between the last two strides to find where the ray
// passes behind the surface.
const int kSteps = 12;
const int kRefinements = 3;
const float kFirstStride = 0.25;  // view-space units
const float kGrowth = 1.32;        // each stride this much longer than the last
const float kThickness = 0.6;

// How far along the fade a hit at distance t lies: reflections fade out
// linearly in the count of 40 strides, each 5% longer than the last, that
// reach 20.25 units.
float FadeAt(float t) { return 1.0 - (sqrt(1.050625 + 0.4 * t) - 1.025) / 0.05 / 40.0; }

// View-space z of a depth-buffer value: the inverse of the projection's
// depth row, one division instead of a matrix product.
float ViewZ(float depth) { return -P[3][2] / (depth * 2.0 - 1.0 + P[2][2]); }

vec3 ViewPosition(vec2 uv, float depth) {
    float z = ViewZ(depth);
    vec2 ndc = uv * 2.0 - 1.0;
    // x and y of a perspective projection with an off-centre term.
    return vec3((-ndc.x * z - P[2][0] * z) / P[0][0], (-ndc.y * z - P[2][1] * z) / P[1][1], z);
}

// The depth of the nearest texel: one read instead of four filtered ones.
float DepthAt(vec2 uv, vec2 size) { return texelFetch(depthMap, min(ivec2(uv * size), ivec2(size) - 1), 0).r; }

bool OnScreen(vec2 uv) { return all(greaterThanEqual(uv, vec2(0.0))) && all(lessThanEqual(uv, vec2(1.0))); }

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    vec3 base = texelFetch(colorMap, pixel, 0).rgb;
    float depth = texelFetch(depthMap, pixel, 0).r;
    float amount = clamp(texelFetch(propertiesMap, pixel, 0).r, 0.0, 1.0);
    outColor = vec4(base, 1.0);
    if (depth >= 1.0 || amount <= 0.01) return;

    vec2 size = vec2(textureSize(depthMap, 0));
    vec3 position = ViewPosition((vec2(pixel) + 0.5) / size, depth);
    vec3 n = normalize(texelFetch(normalMap, pixel, 0).xyz);
    vec3 toEye = normalize(-position);
    vec3 ray = reflect(-toEye, n);
    // Rays towards the camera soon leave the depth buffer's knowledge.
    if (ray.z > 0.6) return;

    // The projection is linear, so the march steps in clip space: one
    // multiply-add a step instead of a matrix product.
    vec4 start = P * vec4(position + n * 0.02, 1.0);
    vec4 clipRay = P * vec4(ray, 0.0);
    float behindZ = position.z + n.z * 0.02;  // view z along the ray is start z + t * ray.z
    float previous = 0.0, t = 0.0, stride = kFirstStride;
    bool crossed = false;
    for (int i = 0; i < kSteps; ++i) {
        previous = t;
        t += stride;
        stride *= kGrowth;
        vec4 clip = start + clipRay * t;
        if (clip.w <= 0.0) return;
        vec2 uv = clip.xy / clip.w * 0.5 + 0.5;
        if (!OnScreen(uv)) return;
        float sceneDepth = DepthAt(uv, size);
        if (sceneDepth >= 1.0) continue;
        if (ViewZ(sceneDepth) > behindZ + t * ray.z) {
            crossed = true;
            break;
        }
    }
    if (!crossed) return;
    // Halve the last stride towards where the ray passes behind the surface.
    float near = previous, far = t;
    for (int i = 0; i < kRefinements; ++i) {
        float middle = 0.5 * (near + far);
        vec4 clip = start + clipRay * middle;
        float sceneDepth = DepthAt(clip.xy / clip.w * 0.5 + 0.5, size);
        if (sceneDepth < 1.0 && ViewZ(sceneDepth) > behindZ + middle * ray.z) far = middle;
        else near = middle;
    }
    vec4 clip = start + clipRay * far;
    vec2 uv = clip.xy / clip.w * 0.5 + 0.5;
    float sceneDepth = DepthAt(uv, size);
    float behind = ViewZ(sceneDepth) - (behindZ + far * ray.z);
    // A surface the ray passed far behind hides nothing the ray could see.
    if (sceneDepth >= 1.0 || behind < 0.0 || behind > kThickness) return;
    vec2 edge = min(uv, 1.0 - uv);
    float fade = smoothstep(0.0, 0.1, min(edge.x, edge.y)) * FadeAt(far);
    float fresnel = 0.2 + 0.8 * pow(1.0 - max(dot(n, toEye), 0.0), 5.0);
    vec3 hit = texture(colorMap, uv).rgb;
    outColor = vec4(mix(base, hit, amount * fresnel * max(fade, 0.0)), 1.0);
}
