// libFuzzer target for the OBJ parser: any bytes must load without a memory
// error, and what loads must be consistent enough to fill vertex arrays.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "resources/SModelLoader.h"

using namespace caldera;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The loader's progress lines would drown libFuzzer's own (on stderr).
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SModelLoader loader;
    loader.LoadObjText("fuzz.obj", reinterpret_cast<const char*>(data), size);

    auto check = [](bool ok) {
        if (!ok) std::abort();
    };
    check(loader.positions.size() == static_cast<size_t>(loader.positionCount));
    check(loader.uvs.size() == static_cast<size_t>(loader.uvCount));
    check(loader.normals.size() == static_cast<size_t>(loader.normalCount));
    check(loader.positionIndices.size() == static_cast<size_t>(loader.triangleCount));
    check(loader.uvIndices.size() == loader.positionIndices.size());
    check(loader.normalIndices.size() == loader.positionIndices.size());
    // Every triangle the parser keeps names real elements (0: none, for uv and normal).
    for (int t = 0; t < loader.triangleCount; ++t)
        for (int k = 0; k < 3; ++k) {
            check(loader.positionIndices[t][k] >= 1 && loader.positionIndices[t][k] <= loader.positionCount);
            check(loader.uvIndices[t][k] >= 0 && loader.uvIndices[t][k] <= loader.uvCount);
            check(loader.normalIndices[t][k] >= 0 && loader.normalIndices[t][k] <= loader.normalCount);
        }

    ModelVertexArrays arrays = VertexArrays(loader);
    check(arrays.vertexCount == 3 * loader.triangleCount);
    // Tangents never carry NaN or infinity, whatever the coordinates.
    for (float f : arrays.tangents) check(f == f && f - f == 0.0f);
    return 0;
}
