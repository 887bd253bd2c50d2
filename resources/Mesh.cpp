#include "resources/Mesh.h"

#include "platform/Rand.h"
#include "resources/SModelLoader.h"

namespace caldera {

void Mesh::Load(uint32_t modelHash, const std::string& modelPath, const std::string& modelName) {
    hash = modelHash;
    path = modelPath;
    fileName = modelName;
    Load();
}

bool Mesh::ReloadIfRequested() {
    if (!reloadRequested.exchange(false, std::memory_order_acquire)) return false;
    buffersReady = false;
    Load();
    return true;
}

void Mesh::Load() {
    positions.clear();
    normals.clear();
    tangents.clear();
    uvs.clear();
    vertexFloatCount = 0;
    uvFloatCount = 0;

    SModelLoader loader;
    loader.LoadObjFile(path);  // logs what it read, or why it could not
    ModelVertexArrays arrays = VertexArrays(loader);
    loader.Release();
    // Arrays are filled whole or not at all, so the counts always match them.
    vertexFloatCount = arrays.vertexCount * 3;
    uvFloatCount = arrays.vertexCount * 2;
    positions = std::move(arrays.positions);
    normals = std::move(arrays.normals);
    tangents = std::move(arrays.tangents);
    uvs = std::move(arrays.uvs);
}

std::optional<Mesh::SurfacePoint> Mesh::RandomSurfacePoint() const {
    const int32_t triangles = TriangleCount();
    if (triangles == 0) return std::nullopt;
    const int a = Rand();
    const int b = Rand();
    const int c = Rand();
    const size_t t = static_cast<size_t>(c % triangles);
    const float u = static_cast<float>(a) / kRandMax;
    const float v = (static_cast<float>(b) / kRandMax) * (1.0f - u);

    auto corner = [&](const std::vector<float>& array, int k) {
        const float* p = &array[t * 9 + static_cast<size_t>(k) * 3];
        return glm::vec3(p[0], p[1], p[2]);
    };
    const glm::vec3 p0 = corner(positions, 0), p1 = corner(positions, 1), p2 = corner(positions, 2);
    SurfacePoint point;
    point.position = p0 + (p2 - p0) * u + (p1 - p0) * v;
    point.normal = (corner(normals, 0) + corner(normals, 1) + corner(normals, 2)) / 3.0f;
    return point;
}

}  // namespace caldera
