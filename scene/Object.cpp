#include "scene/Object.h"

#include <pugixml.hpp>

#include <atomic>

#include <glm/gtc/matrix_transform.hpp>

#include "platform/Log.h"
#include "resources/NameHash.h"
#include "resources/XmlValue.h"
#include "scene/Array.h"
#include "scene/ParameterTable.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

// Objects are built on the watcher thread (first load of a scene) and on the
// render thread (a scene reloading itself).
std::atomic<int> objectCounter{0};

constexpr float kRadiansPerDegree = 0.017453292f;

}  // namespace

// Element, label, member, default, editing slot, colour. The model's
// element also names a material in older files (see LoadXml). The material
// has no label; the shadow strength has none and is read but not edited.
constexpr Parameter<Object> kObjectParameters[] = {
    {"Position", "Position", &Object::position, 0, 1},
    {"Rotation", "Rotation", &Object::rotation, 0, 2},
    {"Scale", "Scale", &Object::scale, 0, 3},
    {"RenderToCubeMap", "Render to Cubemap?", &Object::renderToCubemap, true, 6},
    {"UVGenEnabled", "Generate UV?", &Object::generateUv, false, 7},
    {"Glow", "Glow", &Object::glow, 0.0f, 16},
    {"UVGenScale", "UVGen scale", &Object::uvGenScale, 0.5f, 9},
    {"UVAdd", "UV Add", &Object::uvAdd, 0, 10},
    {"UVGenUseWorldSpace", "UVGen is World-space?", &Object::uvGenWorldSpace, false, 8},
    {"AlphaThreshold", "Alpha Threshold", &Object::alphaThreshold, 0.5f, 14},
    {"ShadowCast", "Cast shadow?", &Object::castShadow, true, 5},
    {"ShadowRecieve", "", &Object::shadowReceive, 1.0f, kNotEdited},
    {"Color", "Color", &Object::color, 0, 12, true},
    {"EnableRender", "Render model?", &Object::renderModel, true, 15},
    {"Material", "", &Object::materialProperty, 0, 13},
    {"CullFace", "Cull Face", &Object::cullFace, false, 11},
    {"RenderObj", "Model", &Object::model, 0, 0},
    {"LightSource", "Is Light Source?", &Object::lightSource, false, 4},
};
static_assert(ValidTables<Object>({kObjectParameters}), "see ValidTables");

std::span<const Parameter<Object>> Object::Parameters() { return kObjectParameters; }

Object::Object() : id(objectCounter.fetch_add(1) + 1) {
    properties = SetUpParameters<Object>(*this, {kObjectParameters});
}

Object::~Object() = default;

void Object::LoadXml(const pugi::xml_node& element) {
    ObjectLoadLimits limits;
    LoadXml(element, limits);
}

void Object::LoadXml(const pugi::xml_node& element, ObjectLoadLimits& limits, int depth) {
    particles.reset();
    appliedMaterial = nullptr;
    cubeMapOrigin = false;
    parent = nullptr;
    // An object is loaded once; a second load must not pile up attachments.
    children.clear();
    arrays.clear();

    name = element.attribute("name").value();
    cubeMapOrigin = ParseBool(element.attribute("isCubeMap").value());
    nameHash = NameHash(name);

    LoadParameters<Object>(*this, kObjectParameters, element);

    // Older files name the material on the model element; the table has
    // read both by now.
    pugi::xml_node renderObj = element.child("RenderObj");
    if (renderObj && materialProperty.baseValue == 0)
        materialProperty.baseValue = NameHash(renderObj.attribute("material").value());

    for (pugi::xml_node childElement : element.children("Object")) {
        if (depth >= ObjectLoadLimits::kMaxDepth) {
            if (!limits.depthReported)
                Log(3, "Objects nested deeper than %d levels are skipped", ObjectLoadLimits::kMaxDepth);
            limits.depthReported = true;
            break;
        }
        if (limits.objects >= ObjectLoadLimits::kMaxObjects) {
            if (!limits.objectsReported) Log(3, "Objects beyond %zu are skipped", ObjectLoadLimits::kMaxObjects);
            limits.objectsReported = true;
            break;
        }
        ++limits.objects;
        auto child = std::make_unique<Object>();
        child->LoadXml(childElement, limits, depth + 1);
        child->parent = this;
        children.push_back(std::move(child));
    }

    if (pugi::xml_node particlesElement = element.child("Particles")) {
        if (particleSystemFactory.create) particles.reset(particleSystemFactory.create(*this, particlesElement));
        else Log(3, "Particles of %s are skipped: this program has no particle systems", name.c_str());
    }

    for (pugi::xml_node arrayElement : element.children("Array")) {
        if (arrays.size() == ObjectLoadLimits::kMaxArrays) {
            if (!limits.arraysReported)
                Log(3, "Arrays beyond %zu per object are skipped", ObjectLoadLimits::kMaxArrays);
            limits.arraysReported = true;
            break;
        }
        auto array = std::make_unique<Array>(*this);
        array->LoadXml(arrayElement);
        arrays.push_back(std::move(array));
    }
    for (size_t i = 0; i + 1 < arrays.size(); ++i) arrays[i]->next = arrays[i + 1].get();

    copyFromName.clear();
    copyFromHash = 0;
    if (pugi::xml_node copy = element.child("CopyTransform")) {
        copyFromName = copy.attribute("from").value();
        copyFromHash = NameHash(copyFromName);
    }
}

const Object* Object::CopySource(const Scene* scene) const {
    if (copyFromName.empty() || !scene) return nullptr;
    for (const auto& object : scene->objects)
        if (object->nameHash == copyFromHash) return object.get();
    return nullptr;
}

glm::vec3 Object::DrawPosition(const Scene* scene, const glm::vec3& placed, const glm::vec3& previous) const {
    if (copyFromName.empty()) return placed;
    const Object* source = CopySource(scene);
    if (!source) return previous;
    return source->position.Evaluate() + placed;
}

glm::mat4 ModelMatrix(const glm::vec3& position, const glm::vec3& rotationDegrees) {
    glm::mat4 m = glm::translate(glm::mat4(1.0f), position);
    m = glm::rotate(m, rotationDegrees.x * kRadiansPerDegree, glm::vec3(1, 0, 0));
    m = glm::rotate(m, rotationDegrees.y * kRadiansPerDegree, glm::vec3(0, 1, 0));
    return glm::rotate(m, rotationDegrees.z * kRadiansPerDegree, glm::vec3(0, 0, 1));
}

glm::mat4 DrawMatrix(const glm::vec3& position, const glm::vec3& rotationDegrees) {
    const glm::mat4 identity(1.0f);
    const glm::mat4 rx = glm::rotate(identity, rotationDegrees.x * kRadiansPerDegree, glm::vec3(1, 0, 0));
    const glm::mat4 ry = glm::rotate(identity, rotationDegrees.y * kRadiansPerDegree, glm::vec3(0, 1, 0));
    const glm::mat4 rz = glm::rotate(identity, rotationDegrees.z * kRadiansPerDegree, glm::vec3(0, 0, 1));
    const glm::mat4 t = glm::translate(identity, position);
    return t * rx * ry * rz;
}

glm::vec3 PositionUnder(const Object& child, const glm::vec3& parentPosition) {
    return child.position.EvaluateAt(CurrentFrame(), child.position.baseValue + parentPosition);
}

}  // namespace caldera
