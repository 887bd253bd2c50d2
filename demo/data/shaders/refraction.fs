#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// Glass: the picture behind the surface ("backgroundImage"), displaced along
// the surface normal by "refraction" and tinted by the material colour, with
// a Fresnel reflection of the sharp environment cube. Drawn twice, back faces
// first over the lit picture, then front faces over that; both write a full
// G-buffer layer so that the reflection pass sees the glass surface.
// In the back-face draw "backgroundImage" shares its unit with "cubeMapBlur",
// and the material's "blurrinessMap" shares unit 3 with "cubeMap": neither
// "cubeMapBlur" nor "blurrinessMap" is sampled here.

in vec2 UV;
in vec3 viewPosition;
in vec3 viewNormal;
in vec3 viewTangent;
in vec3 worldPosition;

layout(binding = 0) uniform sampler2D colorMap;
layout(binding = 1) uniform sampler2D normalMap;
layout(binding = 2) uniform sampler2D reflectionMap;
layout(binding = 3) uniform samplerCube cubeMap;
layout(binding = 4) uniform sampler2D backgroundImage;

uniform vec3 COLOR;
uniform float refraction;
uniform float reflectionAmount;
uniform float normalStrength;
uniform float objectID;
uniform float glowAmount;
uniform int isFaceInverted;
uniform vec2 viewportResolution;
uniform mat4 V;
uniform int usedLights;
uniform vec4 lightsPos[16];
uniform vec4 lightsCol[16];

layout(location = 0) out vec4 outColor;
layout(location = 1) out vec3 outNormal;
layout(location = 2) out vec3 outTangent;
layout(location = 3) out vec4 outPosition;
layout(location = 4) out vec4 outProperties;

void main() {
    // The side facing the eye, whichever winding this draw counts as front.
    vec3 n = normalize(dot(viewNormal, viewPosition) > 0.0 ? -viewNormal : viewNormal);
    vec3 t = viewTangent - n * dot(n, viewTangent);
    if (dot(t, t) > 1e-10) {
        t = normalize(t);
        vec3 mapped = texture(normalMap, UV).xyz * 2.0 - 1.0;
        mapped.xy *= normalStrength * 2.0;
        n = normalize(mat3(t, cross(n, t), n) * mapped);
    }
    vec3 toEye = normalize(-viewPosition);

    vec2 resolution = max(viewportResolution, vec2(1.0));
    vec2 screen = gl_FragCoord.xy / resolution;
    vec2 displaced = clamp(screen - n.xy * refraction * 0.1, vec2(0.0), vec2(1.0));
    vec3 behind = texture(backgroundImage, displaced).rgb;

    vec3 tint = texture(colorMap, UV).rgb * COLOR;
    vec3 worldReflect = transpose(mat3(V)) * reflect(-toEye, n);
    float fresnel = 0.04 + 0.96 * pow(1.0 - max(dot(n, toEye), 0.0), 5.0);
    float reflectance = clamp(fresnel * reflectionAmount * texture(reflectionMap, UV).r, 0.0, 1.0);

    vec3 highlight = vec3(0.0);
    for (int i = 0; i < usedLights && i < 16; ++i) {
        vec3 l = normalize((V * vec4(lightsPos[i].xyz, 1.0)).xyz - viewPosition);
        highlight += pow(max(dot(n, normalize(l + toEye)), 0.0), 96.0) * lightsCol[i].rgb;
    }

    vec3 color = mix(behind * tint, texture(cubeMap, worldReflect).rgb, reflectance) + highlight * 0.5;
    outColor = vec4(color, 1.0);
    outNormal = n;
    outTangent = t;
    outPosition = vec4(viewPosition, objectID);
    outProperties = vec4(reflectance, 0.0, glowAmount, 1.0);
}
