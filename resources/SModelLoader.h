#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <glm/glm.hpp>

namespace caldera {

// Reads one Wavefront OBJ model and turns it into flat, de-indexed triangle
// arrays (positions, normals, uvs, tangents) for glDrawArrays. Supported: "v ",
// "vt ", "vn " and "f " lines; faces of any number of corners, fanned from their
// first corner; corners v, v/vt, v//vn and v/vt/vn with positive or negative
// (relative) indices. Every other line is ignored.
//
// CPU only, no GL. One thread at a time; the loader can load again after Release
// (or directly: a load starts from empty arrays). Texts of a megabyte and more
// are parsed in chunks on a few short-lived threads while the caller works on
// its share; the results, and the log, are those of a parse in one go. Vertex
// arrays of large models are filled the same way, with the same result as one
// thread's. No more threads are started than the calling thread may run on.
class SModelLoader {
public:
    // The largest model file read (loose or packed): a larger one is refused
    // by its size, before a byte of it is read. Four times the largest
    // benchmark model; a real model this size would not draw at a frame rate.
    static constexpr uint64_t kMaxFileSize = 512ull << 20;

    // Elements of the file, in file order; their sizes equal the counts below.
    std::vector<glm::vec3> positions;
    std::vector<glm::vec3> normals;
    std::vector<glm::vec2> uvs;

    // Per triangle, the 1-based indices of its three corners. Every position
    // index is valid; a uv or normal index of 0 means the corner has none
    // (it gets uv (0, 0) and the triangle's geometric normal).
    std::vector<glm::ivec3> positionIndices;
    std::vector<glm::ivec3> uvIndices;
    std::vector<glm::ivec3> normalIndices;

    std::string path;  // as given to the last load

    // Sizes of the arrays above after a load.
    int32_t positionCount = 0;
    int32_t normalCount = 0;
    int32_t triangleCount = 0;
    int32_t uvCount = 0;

    // Elements stored by the parse (what the load log reports).
    int32_t positionsRead = 0;
    int32_t normalsRead = 0;
    int32_t trianglesRead = 0;
    int32_t uvsRead = 0;

    // Reads `path` through LoadFile and parses it. False, with every count 0,
    // when the file cannot be read, is empty or is larger than kMaxFileSize.
    bool LoadObjFile(const std::string& path);

    // Parses `size` bytes of OBJ text held in memory; `path` only names the model
    // in the log. The text ends at `size` or at its first zero byte, and nothing
    // at or past `text + size` is read, so the bytes need no terminator.
    bool LoadObjText(const std::string& path, const char* text, size_t size);

    // Writes all `triangleCount` triangles, three vertices each, corners in
    // order: 9 * triangleCount floats to positionsOut, normalsOut and
    // tangentsOut, 6 * triangleCount to uvsOut.
    void FillVertexArrays(float* positionsOut, float* normalsOut, float* uvsOut, float* tangentsOut) const;

    // Frees every array and sets every count to 0.
    void Release();
};

// The de-indexed output of one model, sized and filled by VertexArrays.
struct ModelVertexArrays {
    std::vector<float> positions;  // x, y, z per vertex
    std::vector<float> normals;    // x, y, z per vertex, as in the file
    std::vector<float> uvs;        // u, v per vertex
    std::vector<float> tangents;   // unit x, y, z per vertex
    int32_t vertexCount = 0;       // 3 * triangleCount
};

// Allocates the four arrays for the loader's triangles and fills them.
ModelVertexArrays VertexArrays(const SModelLoader& loader);

}  // namespace caldera
