#version 330 compatibility
// Depth from the spot light: the object's vertices through the light's MVP.

layout(location = 0) in vec3 vertexPosition;

uniform mat4 MVP;
uniform vec3 modelScale;

void main() {
    gl_Position = MVP * vec4(vertexPosition * modelScale, 1.0);
}
