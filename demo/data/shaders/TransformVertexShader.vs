#version 330 compatibility
// Object vertices for the G-buffer, glass and debug draws. The scale is not in
// "M"; it is applied here, and normals are bent by its inverse so that a
// squashed sphere still lights like one.

layout(location = 0) in vec3 vertexPosition;
layout(location = 1) in vec3 vertexNormal;
layout(location = 2) in vec3 vertexTangent;
layout(location = 3) in vec2 vertexUV;

uniform mat4 MVP;
uniform mat4 M;
uniform mat4 V;
uniform mat4 P;
uniform vec3 modelScale;
uniform vec3 uvAdd;
uniform int uvGen;
uniform float uvGenScale;
uniform int uvGenWorldSpace;

out vec2 UV;
out vec3 viewPosition;
out vec3 viewNormal;
out vec3 viewTangent;
out vec3 worldPosition;
out vec3 worldNormal;

// Planar projection along the axis the normal points at most.
vec2 GeneratedUV(vec3 p, vec3 n) {
    vec3 a = abs(n);
    if (a.x >= a.y && a.x >= a.z) return p.zy;
    if (a.y >= a.z) return p.xz;
    return p.xy;
}

void main() {
    // A zero scale component would divide by zero in the normal transform.
    vec3 safeScale = mix(vec3(1e-6), modelScale, notEqual(modelScale, vec3(0.0)));
    vec3 local = vertexPosition * modelScale;
    vec4 world = M * vec4(local, 1.0);
    vec3 n = normalize(mat3(M) * (vertexNormal / safeScale));
    vec3 t = mat3(M) * (vertexTangent * modelScale);

    worldPosition = world.xyz;
    worldNormal = n;
    viewPosition = (V * world).xyz;
    viewNormal = mat3(V) * n;
    viewTangent = mat3(V) * t;

    vec2 uv = vertexUV;
    if (uvGen != 0) {
        if (uvGenWorldSpace != 0) uv = GeneratedUV(world.xyz, n) * uvGenScale;
        else uv = GeneratedUV(local, vertexNormal) * uvGenScale;
    }
    UV = uv + uvAdd.xy;
    gl_Position = MVP * vec4(local, 1.0);
}
