#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "scene/ObjectRenderState.h"
#include "scene/ParameterTable.h"
#include "scene/Property.h"

namespace pugi {
class xml_node;
}

namespace caldera {

struct Material;
class Array;
class Object;
class ObjectParticles;
class Scene;

// Particle systems are built and freed by the particle layer; an object
// holds its own without looking inside. The layer hands these in once at
// start-up, before any scene loads (InstallParticleSystems in particles/).
struct ParticleSystemFactory {
    ObjectParticles* (*create)(Object& owner, const pugi::xml_node& element) = nullptr;
    void (*destroy)(ObjectParticles* system) = nullptr;
};
inline ParticleSystemFactory particleSystemFactory;

struct ParticleSystemDeleter {
    void operator()(ObjectParticles* system) const {
        if (system) particleSystemFactory.destroy(system);
    }
};

// What one load of nested objects may build. A scene file is authored by
// hand; these bounds only keep a damaged or hostile file from exhausting the
// stack or the memory. Each is reported once per load.
struct ObjectLoadLimits {
    static constexpr int kMaxDepth = 256;         // a top-level object is depth 1
    static constexpr size_t kMaxObjects = 65536;  // per load, all depths
    static constexpr size_t kMaxArrays = 16;      // per object: a chain multiplies its counts
    size_t objects = 0;
    bool depthReported = false;
    bool objectsReported = false;
    bool arraysReported = false;
};

// One model instance of a scene, with optional child objects, arrays of
// copies and a particle system, all owned. Loaded on the scene's loading
// thread; updated and drawn (render/SceneDraw.h) on the render thread.
class Object {
public:
    // Takes the next id of the process-wide counter (the first object is 1).
    Object();
    ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Object* parent = nullptr;
    int id = 0;  // unique for the process; never reused
    std::vector<std::unique_ptr<Object>> children;  // document order
    std::string name;
    uint32_t nameHash = 0;
    PropertyModel model;
    PropertyVec3 position;
    PropertyVec3 rotation;  // degrees about X, Y, Z
    PropertyVec3 scale;     // zero without a "Scale" element
    PropertyVec3 color;     // tint, and the colour of a light
    PropertyMaterial materialProperty;
    PropertyFloat glow;
    // Transform, mesh and material values of the latest draw.
    ObjectRenderState renderState;
    // Resolved at the latest draw; keeps the material alive across a library
    // reload until the next draw.
    std::shared_ptr<const Material> appliedMaterial;
    bool cubeMapOrigin = false;
    PropertyBool lightSource;
    PropertyBool castShadow;
    PropertyBool renderToCubemap;
    PropertyBool generateUv;
    PropertyBool uvGenWorldSpace;
    PropertyFloat uvGenScale;
    PropertyFloat alphaThreshold;
    PropertyFloat shadowReceive;  // not in the editing order
    PropertyBool cullFace;
    PropertyVec3 uvAdd;
    PropertyBool renderModel;
    std::vector<Property*> properties;  // editing order
    // What the loader reads into the properties (scene/ParameterTable.h).
    static std::span<const Parameter<Object>> Parameters();
    std::unique_ptr<ObjectParticles, ParticleSystemDeleter> particles;
    std::vector<std::unique_ptr<Array>> arrays;  // chained in this order
    std::string copyFromName;  // the top-level object whose position this one follows
    uint32_t copyFromHash = 0;

    // Fills the object, its children, particles and arrays from an "Object"
    // element. Objects nested deeper than the limits allow are skipped.
    void LoadXml(const pugi::xml_node& element);
    void LoadXml(const pugi::xml_node& element, ObjectLoadLimits& limits, int depth = 1);

    // The first top-level object of `scene` named copyFromName; null when
    // the name is empty or matches none.
    const Object* CopySource(const Scene* scene) const;
    // Where the draw places the mesh, given the object's own `placed`
    // position (PositionUnder for a child): the copy source's position plus
    // that, or that alone without a source name. When the source is
    // missing, `previous` (the last draw's position) is kept.
    glm::vec3 DrawPosition(const Scene* scene, const glm::vec3& placed, const glm::vec3& previous) const;
};

// T(position) x Rx x Ry x Rz, angles in degrees.
glm::mat4 ModelMatrix(const glm::vec3& position, const glm::vec3& rotationDegrees);

// Where `child` stands when drawn under a parent standing at
// `parentPosition` (the parent's own placed position): the parent's position
// moves the child's base, so a keyed child follows it only while the frame
// lies strictly between two of the child's keys.
glm::vec3 PositionUnder(const Object& child, const glm::vec3& parentPosition);

}  // namespace caldera
