#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Deferred lighting: up to 16 point lights over the G-buffer, ambient light
// from the blurred environment darkened by ambient occlusion, and glossy
// reflections from the environment cube whose blur matches the surface's
// blurriness. Lights come in world space; the G-buffer is in view space.

in vec2 UV;

layout(binding = 0) uniform sampler2D colorMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D tangentMap;
layout(binding = 3) uniform sampler2D depthMap;
layout(binding = 4) uniform sampler2D positionMap;
layout(binding = 5) uniform sampler2D ssaoMap;
layout(binding = 6) uniform sampler2D propertiesMap;
layout(binding = 7) uniform samplerCube cubeMap;
layout(binding = 8) uniform samplerCube cubeMapBlur;
layout(binding = 9) uniform samplerCube cubeMapBlur2;
layout(binding = 10) uniform samplerCube cubeMapBlur3;

uniform mat4 V;
uniform int usedLights;
uniform vec4 lightsPos[16];
uniform vec4 lightsCol[16];

layout(location = 0) out vec4 outColor;

const float kAmbient = 0.12;
const float kShininess = 48.0;
const float kSpecular = 0.35;

vec3 SkyColor(vec3 direction) {
    float up = clamp(normalize(direction).y, -1.0, 1.0);
    vec3 horizon = vec3(0.80, 0.85, 0.95);
    vec3 zenith = vec3(0.25, 0.45, 0.85);
    vec3 ground = vec3(0.35, 0.33, 0.30);
    return up >= 0.0 ? mix(horizon, zenith, pow(up, 0.6)) : mix(horizon, ground, pow(-up, 0.4));
}

// The environment along a world direction, sharp at blurriness 0 and most
// blurred at 1 and above, blending between the four cubes.
vec3 Environment(vec3 direction, float blurriness) {
    float level = clamp(blurriness, 0.0, 1.0) * 3.0;
    vec3 c0 = texture(cubeMap, direction).rgb;
    vec3 c1 = texture(cubeMapBlur, direction).rgb;
    vec3 c2 = texture(cubeMapBlur2, direction).rgb;
    vec3 c3 = texture(cubeMapBlur3, direction).rgb;
    if (level < 1.0) return mix(c0, c1, level);
    if (level < 2.0) return mix(c1, c2, level - 1.0);
    return mix(c2, c3, level - 2.0);
}

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    vec4 albedo = texelFetch(colorMap, pixel, 0);
    vec3 position = texelFetch(positionMap, pixel, 0).xyz;
    // No surface: the position target keeps its cleared zero.
    if (position.z >= 0.0) {
        outColor = vec4(albedo.rgb, 1.0);
        return;
    }
    vec3 n = normalize(texelFetch(normalMap, pixel, 0).xyz);
    vec4 properties = texelFetch(propertiesMap, pixel, 0);
    float occlusion = texelFetch(ssaoMap, pixel, 0).r;
    vec3 toEye = normalize(-position);
    mat3 viewToWorld = transpose(mat3(V));

    if (albedo.a < 0.0) {
        outColor = vec4(albedo.rgb * SkyColor(viewToWorld * -toEye), 1.0);
        return;
    }

    vec3 direct = vec3(0.0);
    for (int i = 0; i < usedLights && i < 16; ++i) {
        vec3 toLight = (V * vec4(lightsPos[i].xyz, 1.0)).xyz - position;
        float d = length(toLight);
        vec3 l = toLight / max(d, 1e-4);
        float attenuation = 1.0 / (1.0 + 0.02 * d + 0.002 * d * d);
        float diffuse = max(dot(n, l), 0.0);
        vec3 h = normalize(l + toEye);
        float specular = diffuse > 0.0 ? pow(max(dot(n, h), 0.0), kShininess) * kSpecular : 0.0;
        direct += (albedo.rgb * diffuse + specular) * lightsCol[i].rgb * attenuation;
    }
    direct *= properties.a;

    vec3 worldNormal = viewToWorld * n;
    vec3 ambient = albedo.rgb * (kAmbient + 0.25 * texture(cubeMapBlur3, worldNormal).rgb) * occlusion;
    // Schlick's Fresnel: every surface reflects at grazing angles, a
    // "reflectionAmount" of 1 is a mild gloss, not a mirror.
    vec3 worldReflect = viewToWorld * reflect(-toEye, n);
    float fresnel = 0.04 + 0.96 * pow(1.0 - max(dot(n, toEye), 0.0), 5.0);
    vec3 reflection = Environment(worldReflect, properties.g) * clamp(properties.r * fresnel, 0.0, 1.0) * occlusion;

    vec3 lit = direct + ambient + reflection;
    lit = mix(lit, albedo.rgb, clamp(albedo.a, 0.0, 1.0));
    outColor = vec4(lit, 1.0);
}
