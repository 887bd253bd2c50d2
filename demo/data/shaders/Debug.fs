#version 330 compatibility
// Shows view-space normals as colours; built and reloaded, drawn by no pass.

in vec3 viewNormal;

layout(location = 0) out vec4 outColor;

void main() {
    outColor = vec4(normalize(viewNormal) * 0.5 + 0.5, 1.0);
}
