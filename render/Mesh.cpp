#include "render/Mesh.h"

void Mesh::Load(uint32_t modelHash, const std::string& modelPath, const std::string& modelName) {
    hash = modelHash;
    path = modelPath;
    name = modelName;
}
