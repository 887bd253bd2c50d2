#include "scene/Array.h"

#include <pugixml.hpp>

#include <cmath>

#include <glm/gtc/matrix_transform.hpp>

#include "platform/Log.h"
#include "scene/Object.h"

namespace caldera {

namespace {

constexpr float kRadiansPerDegree = 0.017453292f;

glm::mat4 RotateXYZ(const glm::vec3& degrees) {
    glm::mat4 m = glm::rotate(glm::mat4(1.0f), degrees.x * kRadiansPerDegree, glm::vec3(1, 0, 0));
    m = glm::rotate(m, degrees.y * kRadiansPerDegree, glm::vec3(0, 1, 0));
    return glm::rotate(m, degrees.z * kRadiansPerDegree, glm::vec3(0, 0, 1));
}

struct ChainWalk {
    glm::mat4 owner;
    glm::vec3 scale;
    std::vector<ArrayInstance>& out;
    // Every visited instance of every level counts, so that large counts over
    // empty inner arrays cannot stall either.
    size_t visitsLeft = kMaxArrayInstances;
    bool cut = false;

    void Walk(const Array& array, const glm::mat4* parent, float factor) {
        float c = array.count.Evaluate();
        if (std::isnan(c)) return;
        float f = std::floor(c);
        if (f < 0.0f) return;
        int n = f >= static_cast<float>(kMaxArrayInstances) ? static_cast<int>(kMaxArrayInstances)
                                                            : static_cast<int>(f);
        if (f > static_cast<float>(kMaxArrayInstances)) cut = true;
        for (int i = 0; i <= n; ++i) {
            if (visitsLeft == 0) {
                cut = true;
                return;
            }
            --visitsLeft;
            float weight = i < n ? 1.0f : c - f;
            // The extra copy of a whole count has no size; at a count of 0
            // its place on the curve (0 / 0) is not asked for.
            float v = weight == 0.0f ? 0.0f : array.scaleOverIndex.Evaluate(static_cast<float>(i) / c) * weight;
            glm::mat4 m = array.InstanceMatrix(i);
            if (parent) m = *parent * m;
            if (array.next) {
                Walk(*array.next, &m, v * factor);
            } else {
                ArrayInstance instance;
                instance.local = m;
                instance.matrix = owner * m;
                instance.weight = v * factor;
                instance.modelScale = instance.weight * scale;
                out.push_back(instance);
            }
        }
    }
};

}  // namespace

// Element, label, member, default, editing slot.
constexpr Parameter<Array> kArrayParameters[] = {
    {"Count", "Count", &Array::count, 5.0f, 0},
    {"Translate", "Translate", &Array::translate, 0, 1},
    {"Rotate", "Rotate.Center", &Array::rotateCenter, 0, 2},
    {"RotateInstance", "Rotate.Instance", &Array::rotateInstance, 0, 3},
    {"ScaleMultiplier", "Scale.Multiplier", &Array::scaleMultiplier, 0, 4},
    {"ScaleOverIndex", "Scale.Over.Index", &Array::scaleOverIndex, 1.0f, 5},
};
static_assert(ValidTables<Array>({kArrayParameters}), "see ValidTables");

std::span<const Parameter<Array>> Array::Parameters() { return kArrayParameters; }

Array::Array(Object& owner) : owner(owner) { properties = SetUpParameters<Array>(*this, {kArrayParameters}); }

void Array::LoadXml(const pugi::xml_node& element) { LoadParameters<Array>(*this, kArrayParameters, element); }

glm::mat4 Array::InstanceMatrix(int i) const {
    float fi = static_cast<float>(i);
    glm::mat4 c = RotateXYZ(fi * rotateCenter.Evaluate());
    glm::mat4 p = glm::translate(glm::mat4(1.0f), fi * translate.Evaluate());
    // The spin grows with the square of the index.
    glm::mat4 r = RotateXYZ(fi * fi * rotateInstance.Evaluate());
    return c * p * r;
}

std::vector<ArrayInstance> ArrayInstances(const Array& first) {
    std::vector<ArrayInstance> out;
    ArrayInstances(first, out);
    return out;
}

void ArrayInstances(const Array& first, std::vector<ArrayInstance>& out) {
    ArrayInstances(first, first.owner.position.Evaluate(), out);
}

void ArrayInstances(const Array& first, const glm::vec3& ownerPosition, std::vector<ArrayInstance>& out) {
    out.clear();
    const Array* last = &first;
    while (last->next) last = last->next;
    // The owner's own copy-transform source is not taken into account.
    ChainWalk walk{ModelMatrix(ownerPosition, first.owner.rotation.Evaluate()),
                   first.owner.scale.Evaluate() * last->scaleMultiplier.Evaluate(), out};
    walk.Walk(first, nullptr, 1.0f);
    if (walk.cut && !first.cutLogged) {
        Log(3, "Array of %s: more than %zu copies, the rest are not drawn", first.owner.name.c_str(),
            kMaxArrayInstances);
        first.cutLogged = true;
    }
}

}  // namespace caldera
