#pragma once

#include <glm/mat4x4.hpp>

namespace pugi {
class xml_node;
}
class Object;
class ShaderProgram;

// The particle system of one object. A placeholder until the particle
// system lands: objects create, update and draw it already, and it does
// nothing yet.
class ObjectParticles {
public:
    explicit ObjectParticles(Object& owner) : owner(owner) {}
    ObjectParticles(const ObjectParticles&) = delete;
    ObjectParticles& operator=(const ObjectParticles&) = delete;

    Object& owner;

    void LoadXml(const pugi::xml_node& /*element*/) {}
    // Emission and simulation, once per frame.
    void Update() {}
    // The particle pass of the frame.
    void Draw(ShaderProgram* /*program*/, const glm::mat4& /*projection*/, const glm::mat4& /*view*/) {}
};
