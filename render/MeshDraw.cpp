#include "render/MeshDraw.h"

#include <vector>

#include "resources/Mesh.h"

namespace caldera {

void CreateBuffers(Mesh& mesh) {
    auto upload = [](unsigned int& buffer, const std::vector<float>& data, GLenum usage) {
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(data.size() * sizeof(float)),
                     data.empty() ? nullptr : data.data(), usage);
    };
    // Positions may be rewritten in place by effects; the rest never changes.
    upload(mesh.positionBuffer, mesh.positions, GL_DYNAMIC_DRAW);
    upload(mesh.normalBuffer, mesh.normals, GL_STATIC_DRAW);
    upload(mesh.tangentBuffer, mesh.tangents, GL_STATIC_DRAW);
    upload(mesh.uvBuffer, mesh.uvs, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void DeleteBuffers(Mesh& mesh) {
    GLuint buffers[] = {mesh.positionBuffer, mesh.normalBuffer, mesh.tangentBuffer, mesh.uvBuffer};
    glDeleteBuffers(4, buffers);
    mesh.positionBuffer = mesh.normalBuffer = mesh.tangentBuffer = mesh.uvBuffer = 0;
}

void DrawMesh(Mesh& mesh, GLenum primitiveMode) {
    // The front end reads a changed file before the frame; a mesh drawn
    // outside a frame reads it here.
    mesh.ReloadIfRequested();
    if (!mesh.buffersReady) {
        // The buffers of the previous content go first.
        if (mesh.positionBuffer) DeleteBuffers(mesh);
        mesh.buffersReady = true;
        CreateBuffers(mesh);
    }
    if (mesh.vertexFloatCount == 0) return;

    const GLuint buffers[] = {mesh.positionBuffer, mesh.normalBuffer, mesh.tangentBuffer, mesh.uvBuffer};
    const GLint components[] = {3, 3, 3, 2};
    for (GLuint i = 0; i < 4; ++i) {
        glEnableVertexAttribArray(i);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[i]);
        glVertexAttribPointer(i, components[i], GL_FLOAT, GL_FALSE, 0, nullptr);
    }
    glDrawArrays(primitiveMode, 0, mesh.vertexFloatCount / 3);
    for (GLuint i = 0; i < 4; ++i) glDisableVertexAttribArray(i);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

}  // namespace caldera
