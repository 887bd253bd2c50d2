#pragma once

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

namespace caldera {

class Mesh;
class Texture;

// What one drawable hands to the shaders: its transform, its material's
// textures and values (the back end turns it into uniforms). An object keeps
// the one of its latest evaluation: values persist between frames until the
// material or the object writes them again. Render thread only.
class ObjectRenderState {
public:
    Mesh* mesh = nullptr;
    glm::vec3 position{0.0f};
    glm::vec3 scale{1.0f};     // sent as "modelScale", not part of the matrix
    glm::vec3 rotation{0.0f};  // degrees about X, Y, Z
    glm::mat4 modelMatrix{1.0f};  // T x Rx x Ry x Rz of position and rotation
    // Registered textures (owned by the resource manager); null binds the
    // renderer's white or flat-normal texture.
    Texture* colorTexture = nullptr;
    Texture* normalTexture = nullptr;
    Texture* reflectionTexture = nullptr;
    Texture* blurrinessTexture = nullptr;
    float normalStrength = 0.5f;
    glm::vec3 color{1.0f};
    float shadeless = 0;
    float reflectionAmount = 1.0f;
    bool useSkyShader = false;
    float blurriness = 1.0f;
    float refraction = 0;
};

// T x Rx x Ry x Rz of a drawn mesh (angles in degrees), each rotation made
// on its own: the model matrix of a render state.
glm::mat4 DrawMatrix(const glm::vec3& position, const glm::vec3& rotationDegrees);

}  // namespace caldera
