#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "resources/NameHash.h"
#include "scene/ParameterTable.h"
#include "scene/Property.h"

namespace pugi {
class xml_node;
}

namespace caldera {

class Texture;

// A named, animated viewpoint of a scene with the post-effect levels that
// apply while the production looks through it. Loaded with its scene;
// evaluated on the render thread only.
class Camera {
public:
    Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    std::string name;       // how the timeline names it
    uint32_t nameHash = 0;  // NameHash(name)
    std::vector<Property*> properties;  // editing order
    // What the loader reads into the properties (scene/ParameterTable.h).
    static std::span<const Parameter<Camera>> Parameters();
    uint32_t lensDirtHash = NameHash("lensdirt.jpg");
    // Found under lensDirtHash by the frame driver and kept; not owned.
    Texture* lensDirtTexture = nullptr;

    PropertyVec3 position;
    PropertyVec3 rotation;  // radians about X, Y, Z
    PropertyFloat fov;      // vertical field of view in degrees
    PropertyFloat anamorphicGlow;
    PropertyFloat lensFlare;
    PropertyFloat lensReflect;
    PropertyFloat lensDirtIntensity;
    PropertyFloat lensDirtCleanIntensity;
    PropertyFloat fadeWhite;
    PropertyFloat fadeBlack;
    PropertyVec3 colorFilterColor;  // "x", "y", "z" of "ColorFilterIntensity"
    PropertyFloat colorFilterIntensity;

    // Fills the camera from a "Camera" element.
    void LoadXml(const pugi::xml_node& element);
};

constexpr float kCameraNear = 0.05f;
constexpr float kCameraFar = 1000.0f;

// The camera's matrices: orientation Ry x Rx x Rz (radians, zero angles
// skipped), a right-handed perspective of `fovDegrees` vertically with depth
// -1 to 1, a look-at along the turned -Z, and an identity model.
void BuildCameraMatrices(const glm::vec3& rotation, const glm::vec3& position, float fovDegrees, float aspect,
                         glm::mat4& projection, glm::mat4& view, glm::mat4& model);

// width / height; 1 while the window has no size yet.
float ScreenAspect(int width, int height);

}  // namespace caldera
