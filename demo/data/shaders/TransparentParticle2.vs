#version 330 compatibility
// Particles: camera-facing quads (position, uv, colour) or instanced models
// placed by "M" and scaled by "modelScale".

layout(location = 0) in vec3 vertexPosition;
layout(location = 1) in vec2 vertexUV;
layout(location = 2) in vec4 vertexColor;

uniform mat4 M;
uniform mat4 V;
uniform mat4 P;
uniform vec3 modelScale;

out vec2 UV;
out vec4 particleColor;

void main() {
    UV = vertexUV;
    particleColor = vertexColor;
    gl_Position = P * V * M * vec4(vertexPosition * modelScale, 1.0);
}
