#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// The geometry pass: writes the G-buffer.
//   0 colour      rgb albedo (material colour x colour map); a shadeless amount,
//                 or -1 for a sky surface
//   1 normal      view-space unit normal after normal mapping
//   2 tangent     view-space tangent
//   3 position    view-space position; w object id
//   4 properties  r reflection amount, g blurriness, b glow, a shadow visibility
// With "useCubemap" set it instead shades the surface directly into output 0,
// for the environment cube, which has no G-buffer.

in vec2 UV;
in vec3 viewPosition;
in vec3 viewNormal;
in vec3 viewTangent;
in vec3 worldPosition;
in vec3 worldNormal;

layout(binding = 0) uniform sampler2D colorMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D reflectionMap;
// Unit 3 also carries the pass's cube map; a program may sample only one of
// the two, so the environment is left to the lighting pass.
layout(binding = 3) uniform sampler2D blurrinessMap;
layout(binding = 4) uniform sampler2DShadow shadowMap;
layout(binding = 6) uniform sampler2D ShadowMaskTexture;

uniform vec3 COLOR;
uniform float shadeless;
uniform float reflectionAmount;
uniform int useSkyShader;
uniform float blurriness;
uniform float normalStrength;
uniform float objectID;
uniform float alphaThreshold;
uniform float shadowReciveAmount;
uniform float glowAmount;
uniform int useCubemap;
uniform mat4 DepthBiasMVP;
uniform mat4 V;
uniform int usedLights;
uniform vec4 lightsPos[16];
uniform vec4 lightsCol[16];

layout(location = 0) out vec4 outColor;
layout(location = 1) out vec3 outNormal;
layout(location = 2) out vec3 outTangent;
layout(location = 3) out vec4 outPosition;
layout(location = 4) out vec4 outProperties;

// Visibility from the spot light's depth map: percentage-closer filtering
// over 3 x 3 texels in four filtered taps, with a bias that grows with the
// slope to keep acne off grazing surfaces. Outside the map nothing is known
// to be in shadow: the depth test fades out over the map's outer rim, so the
// map's border never shows, while the mask, whose edge texels stretch
// outwards, still shapes the spot.
float ShadowVisibility() {
    vec4 clip = DepthBiasMVP * vec4(worldPosition, 1.0);
    vec3 p = clip.xyz / max(clip.w, 1e-6);
    vec2 texel = 1.0 / vec2(textureSize(shadowMap, 0));
    float slope = length(vec2(dFdx(p.z), dFdy(p.z)));
    float mask = texture(ShadowMaskTexture, clamp(p.xy, vec2(0.0), vec2(1.0))).r;
    // Behind the light: the mask's outermost value.
    if (clip.w <= 0.0) return textureLod(ShadowMaskTexture, vec2(0.0), 0.0).r;
    vec2 edge = min(p.xy, 1.0 - p.xy);
    float inside = smoothstep(0.0, 0.04, min(edge.x, edge.y));
    if (inside <= 0.0 || p.z >= 1.0) return mask;
    float bias = 0.00015 + 2.0 * slope;
    float reference = p.z - bias;
    float lit = texture(shadowMap, vec3(p.xy + vec2(-0.5, -0.5) * texel, reference)) +
                texture(shadowMap, vec3(p.xy + vec2(0.5, -0.5) * texel, reference)) +
                texture(shadowMap, vec3(p.xy + vec2(-0.5, 0.5) * texel, reference)) +
                texture(shadowMap, vec3(p.xy + vec2(0.5, 0.5) * texel, reference));
    return mix(1.0, lit * 0.25, inside) * mask;
}

// The camera's world position, from the rigid view matrix.
vec3 EyePosition() { return -(transpose(mat3(V)) * V[3].xyz); }

vec3 SkyColor(vec3 direction) {
    float up = clamp(normalize(direction).y, -1.0, 1.0);
    vec3 horizon = vec3(0.80, 0.85, 0.95);
    vec3 zenith = vec3(0.25, 0.45, 0.85);
    vec3 ground = vec3(0.35, 0.33, 0.30);
    return up >= 0.0 ? mix(horizon, zenith, pow(up, 0.6)) : mix(horizon, ground, pow(-up, 0.4));
}

void main() {
    vec4 texel = texture(colorMap, UV);
    if (texel.a < alphaThreshold) discard;
    vec3 albedo = texel.rgb * COLOR;

    // Which winding counts as front changes from pass to pass, so the side
    // is told by the eye: a surface seen from behind shows its other side.
    bool seenFromBehind = dot(viewNormal, viewPosition) > 0.0;
    vec3 n = normalize(seenFromBehind ? -viewNormal : viewNormal);
    vec3 t = viewTangent - n * dot(n, viewTangent);
    float tangentLength = length(t);
    if (tangentLength > 1e-5) {
        t /= tangentLength;
        vec3 b = cross(n, t);
        vec3 mapped = texture(normalMap, UV).xyz * 2.0 - 1.0;
        mapped.xy *= normalStrength * 2.0;
        n = normalize(mat3(t, b, n) * mapped);
    } else {
        t = vec3(0.0);
    }

    if (useCubemap != 0) {
        vec3 wn = normalize(seenFromBehind ? -worldNormal : worldNormal);
        vec3 lit = albedo * 0.25;
        for (int i = 0; i < usedLights && i < 16; ++i) {
            vec3 toLight = lightsPos[i].xyz - worldPosition;
            float d = length(toLight);
            float attenuation = 1.0 / (1.0 + 0.02 * d + 0.002 * d * d);
            lit += albedo * lightsCol[i].rgb * max(dot(wn, toLight / max(d, 1e-4)), 0.0) * attenuation;
        }
        lit = mix(lit, albedo, clamp(shadeless, 0.0, 1.0));
        if (useSkyShader != 0) lit = albedo * SkyColor(worldPosition - EyePosition());
        outColor = vec4(lit, 1.0);
        outNormal = vec3(0.0);
        outTangent = vec3(0.0);
        outPosition = vec4(0.0);
        outProperties = vec4(0.0);
        return;
    }

    float shadow = shadowReciveAmount > 0.0 ? mix(1.0, ShadowVisibility(), min(shadowReciveAmount, 1.0)) : 1.0;
    outColor = vec4(albedo, useSkyShader != 0 ? -1.0 : shadeless);
    outNormal = n;
    outTangent = t;
    outPosition = vec4(viewPosition, objectID);
    float reflection = reflectionAmount != 0.0 ? reflectionAmount * texture(reflectionMap, UV).r : 0.0;
    float blur = blurriness != 0.0 ? blurriness * texture(blurrinessMap, UV).r : 0.0;
    outProperties = vec4(reflection, blur, glowAmount, shadow);
}
