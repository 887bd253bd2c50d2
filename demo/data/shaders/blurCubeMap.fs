#version 330 compatibility
#extension GL_ARB_shading_language_420pack : require
// One direction of a separable blur of a cube map, rendered face by face.
// "face" is the render order +Y, -Y, +X, -X, +Z, -Z; each pixel is turned
// into its direction and the source is sampled along the face's horizontal
// or vertical axis, across face seams, so no seam shows.

in vec2 UV;

layout(binding = 0) uniform samplerCube cubeMap;
uniform int face;
uniform int horizontal;
uniform float blurStrength;

layout(location = 0) out vec4 outColor;

vec3 Direction(int glFace, float s, float t) {
    if (glFace == 0) return vec3(1.0, -t, -s);
    if (glFace == 1) return vec3(-1.0, -t, s);
    if (glFace == 2) return vec3(s, 1.0, t);
    if (glFace == 3) return vec3(s, -1.0, -t);
    if (glFace == 4) return vec3(s, -t, 1.0);
    return vec3(-s, -t, -1.0);
}

void main() {
    const int glFaces[6] = int[](2, 3, 0, 1, 4, 5);
    int glFace = glFaces[clamp(face, 0, 5)];
    float s = UV.x * 2.0 - 1.0;
    float t = UV.y * 2.0 - 1.0;
    float texel = 2.0 / float(textureSize(cubeMap, 0).x);
    vec2 axis = horizontal != 0 ? vec2(1.0, 0.0) : vec2(0.0, 1.0);

    // A 9-tap Gaussian in 5 fetches: each outer fetch lies between two taps,
    // weighted so that the filtering mixes them as the two taps would.
    const float weights[3] = float[](0.2270270, 0.3162162, 0.0702703);
    const float offsets[3] = float[](0.0, 1.3846154, 3.2307692);
    vec3 sum = texture(cubeMap, Direction(glFace, s, t)).rgb * weights[0];
    for (int i = 1; i < 3; ++i) {
        vec2 offset = axis * offsets[i] * texel * blurStrength * 0.5;
        sum += texture(cubeMap, Direction(glFace, s + offset.x, t + offset.y)).rgb * weights[i];
        sum += texture(cubeMap, Direction(glFace, s - offset.x, t - offset.y)).rgb * weights[i];
    }
    outColor = vec4(sum, 1.0);
}
