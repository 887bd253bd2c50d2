#include "scene/Camera.h"

#include <pugixml.hpp>

#include <cmath>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

namespace caldera {

// Element, label, member, default, editing slot. One element carries the
// colour filter's strength in "value" and its colour in x, y, z: it feeds
// two properties.
constexpr Parameter<Camera> kCameraParameters[] = {
    {"Position", "Position", &Camera::position, 0, 0},
    {"Rotation", "Rotation", &Camera::rotation, 0, 1},
    {"FOV", "FOV", &Camera::fov, 0.5f, 2},
    {"Anamorphic", "Anamorphic Glow", &Camera::anamorphicGlow, 0.7f, 3},
    {"LensFlare", "Lens Flare", &Camera::lensFlare, 0.8f, 4},
    {"LensReflect", "Lens Reflect", &Camera::lensReflect, 0.35f, 5},
    {"LensDirt", "Lens Dirt Intensity", &Camera::lensDirtIntensity, 1.0f, 6},
    {"LensDirtClean", "Lens Dirt Clean Intensity", &Camera::lensDirtCleanIntensity, 1.0f, 7},
    {"FadeToWhite", "Fade White", &Camera::fadeWhite, 0.0f, 9},
    {"FadeToBlack", "Fade Black", &Camera::fadeBlack, 0.0f, 8},
    {"ColorFilterIntensity", "C.Filter.Intensity", &Camera::colorFilterIntensity, 0.0f, 10},
    {"ColorFilterIntensity", "C.Filter.Color", &Camera::colorFilterColor, 0, 11},
};
static_assert(ValidTables<Camera>({kCameraParameters}), "see ValidTables");

std::span<const Parameter<Camera>> Camera::Parameters() { return kCameraParameters; }

Camera::Camera() { properties = SetUpParameters<Camera>(*this, {kCameraParameters}); }

void Camera::LoadXml(const pugi::xml_node& element) {
    name = element.attribute("name").value();
    nameHash = NameHash(name);
    // Hashed as written: a name in capitals finds no texture, and the frame
    // falls back to the default lens dirt.
    pugi::xml_attribute lensDirt = element.attribute("lensDirt");
    lensDirtHash = NameHash(lensDirt ? lensDirt.value() : "lensdirt.jpg");
    lensDirtTexture = nullptr;
    LoadParameters<Camera>(*this, kCameraParameters, element);
}

void BuildCameraMatrices(const glm::vec3& rotation, const glm::vec3& position, float fovDegrees, float aspect,
                         glm::mat4& projection, glm::mat4& view, glm::mat4& model) {
    glm::mat4 turn(1.0f);
    if (rotation.y != 0.0f) turn = glm::rotate(turn, rotation.y, glm::vec3(0, 1, 0));
    if (rotation.x != 0.0f) turn = glm::rotate(turn, rotation.x, glm::vec3(1, 0, 0));
    if (rotation.z != 0.0f) turn = glm::rotate(turn, rotation.z, glm::vec3(0, 0, 1));
    glm::vec3 forward = glm::vec3(turn * glm::vec4(0, 0, -1, 0));
    glm::vec3 right = glm::vec3(turn * glm::vec4(1, 0, 0, 0));
    glm::vec3 up = glm::cross(right, forward);

    float t = std::tan(fovDegrees * 0.017453292f / 2.0f);
    projection = glm::mat4(0.0f);
    projection[0][0] = 1.0f / (aspect * t);
    projection[1][1] = 1.0f / t;
    projection[2][2] = -(kCameraFar + kCameraNear) / (kCameraFar - kCameraNear);
    projection[2][3] = -1.0f;
    projection[3][2] = -(2.0f * kCameraFar * kCameraNear) / (kCameraFar - kCameraNear);

    model = glm::mat4(1.0f);

    glm::vec3 f = glm::normalize(forward);
    glm::vec3 s = glm::normalize(glm::cross(f, up));
    glm::vec3 u = glm::cross(s, f);
    view = glm::mat4(1.0f);
    for (int column = 0; column < 3; ++column) {
        view[column][0] = s[column];
        view[column][1] = u[column];
        view[column][2] = -f[column];
    }
    view[3][0] = -glm::dot(s, position);
    view[3][1] = -glm::dot(u, position);
    view[3][2] = glm::dot(f, position);
}

float ScreenAspect(int width, int height) {
    if (width <= 0 || height <= 0) return 1.0f;
    return static_cast<float>(width) / static_cast<float>(height);
}

}  // namespace caldera
