#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include "scene/ObjectRenderState.h"

namespace caldera {

class Camera;
class Mesh;
class ObjectParticles;
class Scene;
class Texture;

// Everything the back end draws a frame from, worked out by the front end
// (playback/FrameDriver.h) before the first pass: the camera and shadow
// matrices, the lights, every drawable with its resolved mesh, material and
// transforms, the particle vertex data and the post-effect levels. The back
// end reads it as const and asks the scene nothing. Render thread.
struct PreparedFrame {
    Scene* currentScene = nullptr;    // the scene drawn; null on a frame with no shot
    Camera* currentCamera = nullptr;  // the shot's camera
    float time = 0;  // the show's clock in seconds, for animated shaders ("_time")

    // The current camera's view set-up; `model` is the identity and `mvp`
    // is projection x view x model.
    glm::mat4 projection{1.0f};
    glm::mat4 view{1.0f};
    glm::mat4 model{1.0f};
    glm::mat4 mvp{1.0f};
    glm::vec3 cameraRotation{0.0f};  // radians, as the camera keys them
    glm::vec3 cameraPosition{0.0f};
    float fov = 0;  // degrees, vertical

    // The shadow camera at the scene's spot light, and the matrix that takes
    // a world position to the shadow map's texture space.
    struct Shadow {
        glm::mat4 projection{1.0f};
        glm::mat4 view{1.0f};
        glm::mat4 biasMvp{1.0f};
    } shadow;
    Texture* shadowMask = nullptr;  // registered and enabled; null binds white

    // The first kMaxLights light objects that are on.
    static constexpr int kMaxLights = 16;
    struct Lights {
        int count = 0;
        std::array<glm::vec4, kMaxLights> positions{};
        std::array<glm::vec4, kMaxLights> colors{};
    } lights;

    // The environment cube: where it is seen from, and whether the scene asks
    // for a new one every frame.
    glm::vec3 cubeEye{0.0f, 5.0f, 0.0f};
    bool renderCubemap = false;

    // The post effects: glow and flare levels at a sixth of the size, then
    // lens dirt, fades and the colour filter (from the camera, else the
    // scene's or the neutral levels).
    struct Post {
        float anamorphicGlow = 0, lensFlare = 0, lensReflect = 0;
        float lensDirt = 1.0f, lensDirtClean = 1.0f;
        float fadeBlack = 0, fadeWhite = 0;
        float colorFilter = 0;
        glm::vec3 colorFilterColor{1.0f};
        Texture* lensDirtTexture = nullptr;  // null skips the mix
    } post;

    // A copy of a mesh drawn with its own matrix and size.
    struct Instance {
        glm::mat4 matrix{1.0f};
        glm::vec3 modelScale{0.0f};
    };
    struct Range {
        uint32_t first = 0;
        uint32_t count = 0;
    };

    // One object, in draw order: an object, then its children (depth first,
    // document order). A pass that leaves an object out leaves its whole
    // subtree out: it jumps to `subtreeEnd`.
    struct Drawable {
        int objectId = 0;
        int depth = 0;  // 0: a top-level object
        uint32_t subtreeEnd = 0;
        // What decides whether a pass draws it.
        bool glass = false;
        bool castShadow = false;
        bool renderToCubemap = false;
        bool renderModel = false;
        bool cullFace = false;
        // Per-draw values.
        glm::vec3 uvAdd{0.0f};
        bool generateUv = false;
        float uvGenScale = 0;
        bool uvGenWorldSpace = false;
        float alphaThreshold = 0;
        float shadowReceive = 0;
        float glow = 0;
        // The mesh, material and transform; modelMatrix is worked out.
        ObjectRenderState state;
        // "draw.model" particles: the owner's look at the owner's transform,
        // one copy per emitted particle. Not drawn without a mesh.
        bool particleModels = false;
        ObjectRenderState particleState;
        Range particleCopies;
        // The copies of the object's array chain, drawn with its own state.
        bool arrays = false;
        Range arrayCopies;
    };

    // "draw.quads" particles, in the particle pass's order; the quads are in
    // the system's quad arrays, back to front.
    struct ParticleQuads {
        ObjectParticles* system = nullptr;
        int quads = 0;  // written this frame; 0 uploads nothing
        int objectId = 0;
        ObjectRenderState state;
    };

    std::vector<Drawable> drawables;
    std::vector<Instance> instances;
    std::vector<ParticleQuads> particleQuads;

    // Empties the lists, keeping their memory for the next frame.
    void Clear() {
        drawables.clear();
        instances.clear();
        particleQuads.clear();
    }
};

}  // namespace caldera
