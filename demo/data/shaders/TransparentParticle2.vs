#version 330 compatibility
// Particles: camera-facing quads (position, uv, colour) placed in the
// owner's space by "M", their size their own; or instanced models placed by
// "M" and scaled by "modelScale".

layout(location = 0) in vec3 vertexPosition;
layout(location = 1) in vec2 vertexUV;
layout(location = 2) in vec4 vertexColor;

uniform mat4 M;
uniform mat4 V;
uniform mat4 P;
uniform vec3 modelScale;
uniform int quadParticles;

out vec2 UV;
out vec4 particleColor;

void main() {
    UV = vertexUV;
    particleColor = vertexColor;
    vec3 scale = quadParticles != 0 ? vec3(1.0) : modelScale;
    gl_Position = P * V * M * vec4(vertexPosition * scale, 1.0);
}
