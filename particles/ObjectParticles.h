#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "scene/ParameterTable.h"
#include "scene/Property.h"

namespace pugi {
class xml_node;
}

namespace caldera {

class Object;
class Scene;
// The GPU buffers of a system's quads: made, used and freed by the renderer
// (render/ParticleDraw.h), which hands them over with their own deleter.
struct ParticleBuffers;

// Emitter shapes, indices of EmitterTypeNames.
enum EmitterType : int {
    EmitterCubeVolume = 0,
    EmitterCubeSurface = 1,
    EmitterSphereVolume = 2,
    EmitterSphereSurface = 3,
    EmitterModelVertex = 4,
    EmitterModelFace = 5,
};

// Draw modes, indices of DrawModeNames.
enum DrawMode : int {
    DrawModeModel = 0,
    DrawModeQuads = 1,
};

// One copy of the owner's mesh in "draw.model" mode.
struct ParticleModelInstance {
    int slot = 0;
    glm::mat4 matrix{1.0f};       // T(particle + owner position) x Rx x Ry x Rz
    glm::vec3 modelScale{0.0f};   // owner scale x size curve x size multiplier
};

// The particle system one object carries: a fixed pool of particles in
// parallel arrays, emitted from a box, a sphere or a model, moved by wind,
// gravity curves, a noise field and two velocity terms, drawn as copies of
// the owner's mesh or as depth-sorted quads. Every parameter is an
// animatable property. Loaded with its owner; updated and drawn on the
// render thread.
class ObjectParticles {
public:
    // Pools are sized by content; a damaged or hostile "PCount" must not take
    // the machine's memory. Larger counts are cut to this, with a message.
    static constexpr int kMaxParticles = 1 << 18;

    explicit ObjectParticles(Object& owner);
    ~ObjectParticles();
    ObjectParticles(const ObjectParticles&) = delete;
    ObjectParticles& operator=(const ObjectParticles&) = delete;

    Object& owner;

    PropertyFloat countProperty;         // "P.Count": pool size, truncated
    PropertyFloat emitRate;              // "P.Emit.Rate": particles per second
    PropertyEmitterType emitterTypeProperty;  // "Emitter.Type"
    PropertyModel emitterModel;          // "Emitter.Model"
    PropertyVec3 emitterPos;             // "Emitter.Pos", owner-local
    PropertyVec3 emitterSize;            // "Emitter.Size"
    PropertyVec3 wind;                   // "P.Wind": drift per second
    PropertyFloat noiseIntensity;        // "Noise.Intensity", hundredths
    PropertyFloat noiseFrequency;        // "Noise.Frequency"
    PropertyVec3 noiseOffset;            // "Noise.Offset"
    PropertyLine noiseXLife, noiseYLife, noiseZLife;  // "Noise.Intensity.X.Life"..., hundredths
    PropertyDrawMode drawModeProperty;   // "P.DrawMode"
    PropertyFloat sizeMultiplier;        // "P.Size.Multiplier"
    PropertyFloat lifeMax;               // "P.Life.Max", seconds
    PropertyFloat lifeMin;               // "P.Life.Min", seconds
    PropertyFloat randomRotation;        // "Rnd.Rotation"
    PropertyVec3 rotation;               // "Rotation": spin, and the quad orientation without billboarding
    PropertyLine rotationLife;           // "Rotation.Life.Intensity"
    PropertyLine sizeLife;               // "P.Size.Life"
    PropertyLine gravityXLife, gravityYLife, gravityZLife;  // "P.GravX.Life"..., hundredths per second
    PropertyLine alphaLife, redLife, greenLife, blueLife;   // "C.Alpha.Life"...
    PropertyLine normalVelocityLife;     // "Vel.Nor.Life"
    PropertyFloat normalVelocity;        // "Vel.Nor.Time"
    PropertyLine randomVelocityLife;     // "Vel.Rnd.Life"
    PropertyFloat randomVelocity;        // "Vel.Rnd.Time"
    PropertyBool billboard;              // "Quad.Billboard"
    std::vector<Property*> properties;   // editing order
    // What the loader reads into the properties (scene/ParameterTable.h).
    static std::span<const Parameter<ObjectParticles>> Parameters();

    // Per particle, `count` long; lifetime -1 marks a slot never emitted.
    std::vector<float> posX, posY, posZ;  // owner-local
    std::vector<float> colR, colG, colB, colA;
    std::vector<float> age, lifetime;     // seconds
    std::vector<uint8_t> alive;
    std::vector<float> rotX, rotY, rotZ;  // degrees
    std::vector<glm::vec3> emitDir, randomDir;

    int count = 0;  // the pool size now in use
    int previousCount = 0;
    float emitCarry = 0;    // fraction of a particle owed to the next frame
    int emitterType = EmitterCubeVolume;  // taken at the last update
    int drawMode = DrawModeModel;            // taken at the last update
    bool updated = false;
    float dt = 0;

    // Quad draw data, sized with the pool; see BuildQuads.
    std::vector<float> quadPositions;  // 4 vertices x xyz per quad
    std::vector<float> quadUvs;        // 4 x uv, the same for every quad
    std::vector<float> quadColors;     // 4 x rgba
    std::vector<float> sortKeys;       // in slot order of the alive particles
    std::vector<int> sortIndex;        // slots, back to front after BuildQuads
    std::vector<float> quadSources;    // per slot: position, size, colour (8 floats) for the quads
    std::vector<uint64_t> sortEntries; // key and slot packed for the sort, 2 x count (half is scratch)
    int quadCount = 0;                 // quads written by the last BuildQuads
    std::shared_ptr<ParticleBuffers> glBuffers;  // null until the renderer makes them

    // Reads the properties from the owner's "Particles" element.
    void LoadXml(const pugi::xml_node& element);

    // One simulation step of `frameSeconds`. True when the step remade the
    // pool for a new count: the renderer's buffers must follow at once.
    bool Update(float frameSeconds);

    // (Re)starts the particle in `slot`; draws from Rand() in a fixed order,
    // so a seeded sequence fixes every position.
    void Emit(int slot);

    // The life fraction age / lifetime; 1 for a slot whose lifetime is not
    // positive, so that a zero life span never divides by zero.
    float LifeFraction(int slot) const {
        const float life = lifetime[static_cast<size_t>(slot)];
        return life > 0 ? age[static_cast<size_t>(slot)] / life : 1.0f;
    }

    // Calls visit(const ParticleModelInstance&) for every slot emitted at
    // least once (alive or dead: a dead particle stays where it died until it
    // is emitted again), given the owner's evaluated transform. Slots whose
    // matrix or scale would not be finite are left out.
    template <class Visit>
    void ForEachModelInstance(const glm::vec3& ownerPosition, const glm::vec3& ownerRotation,
                              const glm::vec3& ownerScale, Visit&& visit) const;

    // Writes the quads of all alive particles back to front along the
    // camera's view axis into quadPositions and quadColors, and returns their
    // number (also kept in quadCount). `cameraRotation` is the camera's
    // rotation in radians as the view set-up stores it; `ownerPosition`
    // places the particles for the sort. Particles whose values are not
    // finite are not drawn. No allocation.
    int BuildQuads(const glm::vec3& cameraRotation, const glm::vec3& ownerPosition);

private:
    void ResizePool(int newCount);
    void ReleasePool();
};

// T(position) x Rx x Ry x Rz, angles in degrees; declared with Object.
glm::mat4 ModelMatrix(const glm::vec3& position, const glm::vec3& rotationDegrees);

// Hands the scene layer the builder of particle systems, so that objects
// loaded from now on get theirs. Call once at start-up, before any scene
// loads.
void InstallParticleSystems();

// The scene's particle update: every object's system, each object before its
// children, in document order, by `seconds`. `remade`, when given, is called
// for a system right after an update that remade its pool.
void UpdateParticles(Scene& scene, float seconds, void (*remade)(ObjectParticles& system) = nullptr);

template <class Visit>
void ObjectParticles::ForEachModelInstance(const glm::vec3& ownerPosition, const glm::vec3& ownerRotation,
                                           const glm::vec3& ownerScale, Visit&& visit) const {
    const float s0 = sizeMultiplier.Evaluate();
    for (int i = 0; i < count; ++i) {
        const size_t k = static_cast<size_t>(i);
        if (!(age[k] >= 0 && lifetime[k] > 0)) continue;
        ParticleModelInstance instance;
        instance.slot = i;
        const float f = sizeLife.Evaluate(LifeFraction(i)) * s0;
        instance.modelScale = ownerScale * f;
        const glm::vec3 position = glm::vec3(posX[k], posY[k], posZ[k]) + ownerPosition;
        const glm::vec3 angles = glm::vec3(rotX[k], rotY[k], rotZ[k]) + ownerRotation;
        if (!std::isfinite(f) || !std::isfinite(position.x + position.y + position.z) ||
            !std::isfinite(angles.x + angles.y + angles.z))
            continue;
        instance.matrix = ModelMatrix(position, angles);
        visit(static_cast<const ParticleModelInstance&>(instance));
    }
}

}  // namespace caldera
