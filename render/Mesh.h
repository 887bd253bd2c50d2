#pragma once

#include <GL/glew.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <glm/glm.hpp>

// One model from data/models/, in the form the GPU draws: every triangle with
// its own three vertices, nothing indexed. Parsed on the watcher thread when
// first added; a changed file is re-read by the render thread at the mesh's
// next draw, which also creates the GL buffers on first use.
class Mesh {
public:
    uint32_t hash = 0;     // NameHash(fileName), the registry key
    std::string path;      // "data/models/" + file name
    std::string fileName;  // lower-case file name

    int32_t vertexFloatCount = 0;  // triangles x 9
    int32_t uvFloatCount = 0;      // triangles x 6
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> tangents;
    std::vector<float> uvs;

    GLuint positionBuffer = 0;
    GLuint normalBuffer = 0;
    GLuint tangentBuffer = 0;
    GLuint uvBuffer = 0;
    bool buffersReady = false;  // render thread only

    // Watcher -> render thread: the file changed; re-read it before drawing.
    std::atomic<bool> reloadRequested{false};

    // Records where the model comes from and parses it. Any one thread.
    void Load(uint32_t hash, const std::string& path, const std::string& fileName);
    // Parses `path` again into the arrays; a file that cannot be read leaves
    // a mesh of no triangles.
    void Load();

    // Render thread, context current.
    void CreateBuffers();
    void DeleteBuffers();
    // Draws the triangles with `primitiveMode` (GL_TRIANGLES for objects),
    // re-reading the file first when a reload was requested.
    void Draw(GLenum primitiveMode = GL_TRIANGLES);

    int32_t TriangleCount() const { return vertexFloatCount / 9; }

    struct SurfacePoint {
        glm::vec3 position;
        glm::vec3 normal;  // mean of the corner normals, not normalised
    };
    // A random point on a random triangle, from three draws of the 15-bit
    // Rand(); none for a mesh without triangles (no draws are made then).
    std::optional<SurfacePoint> RandomSurfacePoint() const;
};
