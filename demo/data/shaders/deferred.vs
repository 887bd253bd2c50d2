#version 330 compatibility
// Deferred lighting runs on the full-screen quad: corners in, texture coordinates out.

layout(location = 0) in vec3 vertexPosition;

out vec2 UV;

void main() {
    UV = vertexPosition.xy * 0.5 + 0.5;
    gl_Position = vec4(vertexPosition.xy, 0.0, 1.0);
}
