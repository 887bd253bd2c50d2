#pragma once

#include <cstdint>
#include <string>

#include <glm/vec3.hpp>

namespace pugi {
class xml_node;
}

namespace caldera {

// One surface material of the library data/materials.xml, keyed by
// NameHash(name). A default Material is what a "Material" element with only
// a name gives. The textures are named by the NameHash of their lower-case
// file names and looked up in the texture registry each time the material is
// applied, so a material never holds a texture itself.
struct Material {
    // First, so that a material can be made as Material{"name"}.
    std::string name;
    uint32_t nameHash = 0;  // NameHash(name)

    uint32_t colorMap = 0;  // 0: none
    uint32_t reflectionMap = 0;
    uint32_t normalMap = 0;
    uint32_t blurrinessMap = 0;
    bool useSkyShader = false;
    float shadeless = 0;
    float reflectionAmount = 1.0f;
    float normalStrength = 0.5f;
    float blurrinessMultiplier = 1.0f;
    bool glass = false;  // drawn in the glass pass
    // Black without a "Color" element; a component the element lacks is 1.
    glm::vec3 color{0.0f, 0.0f, 0.0f};
    float refraction = 0;  // of a glass material

    // Resets the material, then fills it from one "Material" element; missing
    // elements and attributes take the defaults above and are never errors.
    // Logs "Loading material : %s".
    void Load(const pugi::xml_node& element);
};

}  // namespace caldera
