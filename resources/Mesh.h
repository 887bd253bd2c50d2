#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <glm/glm.hpp>

namespace caldera {

// One model from data/models/, in the form the GPU draws: every triangle with
// its own three vertices, nothing indexed. Parsed on the watcher thread when
// first added; a changed file is re-read by the render thread at the mesh's
// next draw (render/MeshDraw.h), which also makes the GL buffers named here.
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

    // GL buffer names, made and used by the draw; render thread only.
    unsigned int positionBuffer = 0;
    unsigned int normalBuffer = 0;
    unsigned int tangentBuffer = 0;
    unsigned int uvBuffer = 0;
    bool buffersReady = false;

    // Watcher -> render thread: the file changed; re-read it before drawing.
    std::atomic<bool> reloadRequested{false};

    // Records where the model comes from and parses it. Any one thread.
    void Load(uint32_t hash, const std::string& path, const std::string& fileName);
    // Parses `path` again into the arrays; a file that cannot be read leaves
    // a mesh of no triangles.
    void Load();
    // Render thread: parses the file again when the watcher asked for it,
    // and marks the buffers for a rebuild at the next draw. True when it did.
    bool ReloadIfRequested();

    int32_t TriangleCount() const { return vertexFloatCount / 9; }

    struct SurfacePoint {
        glm::vec3 position;
        glm::vec3 normal;  // mean of the corner normals, not normalised
    };
    // A random point on a random triangle, from three draws of the 15-bit
    // Rand(); none for a mesh without triangles (no draws are made then).
    std::optional<SurfacePoint> RandomSurfacePoint() const;
};

}  // namespace caldera
