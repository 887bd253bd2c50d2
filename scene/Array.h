#pragma once

#include <cstddef>
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
struct ArrayInstance;

// Copies of an object's mesh along a procedural pattern. Instance i moves by
// i x translate, swings about the array origin by i x rotateCenter and spins
// by i x i x rotateInstance. Arrays of one object form a chain: every
// instance of one array carries a whole copy of the next, and only the last
// one draws. Loaded with the owner; used on the render
// thread only.
class Array {
public:
    explicit Array(Object& owner);
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    Object& owner;
    std::vector<Property*> properties;  // editing order
    // What the loader reads into the properties (scene/ParameterTable.h).
    static std::span<const Parameter<Array>> Parameters();
    PropertyFloat count;                // the fraction scales the last instance
    PropertyVec3 translate;
    PropertyVec3 rotateCenter;          // degrees per index about the array origin
    PropertyVec3 rotateInstance;        // degrees per index squared about each copy's origin
    PropertyVec3 scaleMultiplier;       // per axis, on the owner's scale
    PropertyLine scaleOverIndex;        // over i / count
    Array* next = nullptr;  // the following array of the owner's chain
    // Whether a cut at kMaxArrayInstances was logged for the chain starting
    // here: once, not every frame.
    mutable bool cutLogged = false;

    void LoadXml(const pugi::xml_node& element);

    // The local matrix of instance i at the current frame: C x P x R.
    glm::mat4 InstanceMatrix(int i) const;
};

// One copy drawn by a chain of arrays.
struct ArrayInstance {
    glm::mat4 local{1.0f};   // in the frame of the first array
    glm::mat4 matrix{1.0f};  // owner transform x local: what the copy is drawn with
    float weight = 0;        // product of the weights and curve values of every level
    glm::vec3 modelScale{0.0f};  // weight x the owner's scale x the last array's multiplier
};

// Copies beyond this many per chain and frame are not drawn: counts are
// authored, but a chain multiplies them, and a damaged file must not stall
// the frame.
constexpr size_t kMaxArrayInstances = 1 << 16;

// Every copy the chain starting at `first` draws at the current frame, in
// draw order. A negative or NaN count draws nothing; a count of c draws
// floor(c) + 1 instances, the last one weighted by the fraction of c.
std::vector<ArrayInstance> ArrayInstances(const Array& first);
// The same into `out`, which is emptied first and keeps its capacity.
void ArrayInstances(const Array& first, std::vector<ArrayInstance>& out);
// The same for an owner standing at `ownerPosition` (a child under its
// parent: scene/Object.h PositionUnder).
void ArrayInstances(const Array& first, const glm::vec3& ownerPosition, std::vector<ArrayInstance>& out);

}  // namespace caldera
