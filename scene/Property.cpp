#include "scene/Property.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "platform/Log.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/XmlValue.h"
#include "scene/FrameState.h"

namespace caldera {

namespace {

// Distance between a key frame and c, truncated toward zero; saturates so
// that frames near the ends of the 32-bit range and a NaN frame stay defined.
int64_t TruncatedDistance(float frame, float c) {
    float d = std::fabs(frame - c);
    if (!(d < 9.0e18f)) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(d);
}

// The key nearest to `from` among those `accept` takes, visiting keys in
// ascending order; a later key replaces the choice only when strictly nearer.
template <class Map, class Accept>
typename Map::const_iterator NearestKey(const Map& keys, float from, Accept accept) {
    auto best = keys.end();
    int64_t bestDistance = 0;
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        if (!accept(it->first)) continue;
        int64_t d = TruncatedDistance(static_cast<float>(it->first), from);
        if (best == keys.end() || d < bestDistance) {
            best = it;
            bestDistance = d;
        }
    }
    return best;
}

int32_t KeyFrame(const pugi::xml_node& key) { return key.attribute("frame").as_int(0); }

float FloatAttribute(const pugi::xml_node& node, const char* name, float fallback) {
    pugi::xml_attribute attribute = node.attribute(name);
    return attribute ? ParseFloat(attribute.value()) : fallback;
}

bool BoolAttribute(const pugi::xml_node& node, const char* name, bool fallback) {
    pugi::xml_attribute attribute = node.attribute(name);
    return attribute ? ParseBool(attribute.value()) : fallback;
}

// Index of `text` in `names`, matched exactly; 0 when it is not listed.
template <size_t N>
int32_t NameIndex(const char* text, const char* const (&names)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (std::strcmp(text, names[i]) == 0) return static_cast<int32_t>(i);
    return 0;
}

glm::vec3 Vec3Attributes(const pugi::xml_node& node, bool isColor, float absent) {
    static const char* const kColor[] = {"r", "g", "b"};
    static const char* const kVector[] = {"x", "y", "z"};
    const char* const* letters = isColor ? kColor : kVector;
    return {FloatAttribute(node, letters[0], absent), FloatAttribute(node, letters[1], absent),
            FloatAttribute(node, letters[2], absent)};
}

}  // namespace

float KeyFrame(int frameStart, int frameEnd, float progress) {
    const float start = static_cast<float>(frameStart);
    const float end = static_cast<float>(frameEnd);
    return start + (end - start) * progress / 100.0f;
}

float CurrentFrame() {
    const FrameState& frame = FrameState::Current();
    return KeyFrame(frame.frameStart, frame.frameEnd, frame.progress);
}

// Before the first key that lies past zero the result is zero: `before`
// starts as a zero value at frame 0, which content relies on to switch
// things on at their first key.
template <class T>
T KeyedProperty<T>::StepAt(float c) const {
    int32_t beforeFrame = 0;
    T beforeValue{};
    T afterValue{};
    bool haveBefore = false, haveAfter = false;
    float beforeDistance = 0, afterDistance = 0;
    for (const auto& [frame, value] : keys) {
        float f = static_cast<float>(frame);
        float d = std::fabs(f - c);
        if (f <= c && (!haveBefore || d < beforeDistance)) {
            haveBefore = true;
            beforeDistance = d;
            beforeFrame = frame;
            beforeValue = value;
        }
        if (f >= c && (!haveAfter || d < afterDistance)) {
            haveAfter = true;
            afterDistance = d;
            afterValue = value;
        }
    }
    return c > static_cast<float>(beforeFrame) ? beforeValue : afterValue;
}

template class KeyedProperty<bool>;
template class KeyedProperty<uint32_t>;
template class KeyedProperty<int32_t>;

// --- PropertyVec3 ---

glm::vec3 PropertyVec3::EvaluateAt(float c, const glm::vec3& base) const {
    if (const glm::vec3* value = Prelude()) return value == &baseValue ? base : *value;
    for (const auto& [frame, value] : keys)
        if (static_cast<float>(frame) == c) return value;

    auto below = [c](int32_t frame) { return static_cast<float>(frame) < c; };
    auto above = [c](int32_t frame) { return static_cast<float>(frame) > c; };
    auto p1 = NearestKey(keys, c, below);
    if (p1 == keys.end()) p1 = NearestKey(keys, c, above);
    auto p2 = NearestKey(keys, c, above);
    if (p2 == keys.end()) p2 = NearestKey(keys, c, below);
    // A NaN frame is neither before nor after any key.
    if (p1 == keys.end() || p2 == keys.end()) return keys.begin()->second;
    if (p1 == p2) return p1->second;

    const int32_t f1 = p1->first;
    const float from = static_cast<float>(f1);
    auto p0 = NearestKey(keys, from, [f1](int32_t frame) { return frame < f1; });
    if (p0 == keys.end()) p0 = NearestKey(keys, from, [f1](int32_t frame) { return frame > f1; });
    // Searched from P1, not P2: this is always P2 itself, so the segment's
    // end tangent is (P2 - P1) / 2. Authored curves are tuned to that shape.
    auto p3 = NearestKey(keys, from, [f1](int32_t frame) { return frame > f1; });
    if (p3 == keys.end()) p3 = NearestKey(keys, from, [f1](int32_t frame) { return frame < f1; });

    // 64-bit so that keys at both ends of the frame range do not overflow.
    float span = static_cast<float>(static_cast<int64_t>(p2->first) - static_cast<int64_t>(p1->first));
    float t = (c - from) / span;
    t = std::min(t, 1.0f);
    t = std::max(t, 0.0f);

    const glm::vec3 P0 = p0->second, P1 = p1->second, P2 = p2->second, P3 = p3->second;
    glm::vec3 spline = 0.5f * (2.0f * P1 + (P2 - P0) * t + (2.0f * P0 - 5.0f * P1 + 4.0f * P2 - P3) * (t * t) +
                               (-P0 + 3.0f * P1 - 3.0f * P2 + P3) * (t * t * t));
    return base + spline;
}

void PropertyVec3::RemoveKey(int frame) {
    auto it = keys.find(frame);
    if (it == keys.end()) return;
    if (keys.size() == 1) baseValue += it->second;
    keys.erase(it);
}

void PropertyVec3::LoadXml(const char* elementName, const pugi::xml_node& parent) {
    Reset(glm::vec3(0.0f));
    if (!parent) return;
    pugi::xml_node element = parent.child(elementName);
    if (!element) return;
    baseValue = Vec3Attributes(element, isColor, isColor ? 1.0f : 0.0f);
    for (pugi::xml_node key : element.children("Key")) keys[KeyFrame(key)] = Vec3Attributes(key, isColor, 0.0f);
}

// --- PropertyFloat ---

float PropertyFloat::EvaluateAt(float c) const {
    if (const float* value = Prelude()) return *value;
    auto before = keys.end(), after = keys.end();
    float beforeDistance = 0, afterDistance = 0;
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        float f = static_cast<float>(it->first);
        float d = std::fabs(f - c);
        if (f <= c && (before == keys.end() || d < beforeDistance)) {
            before = it;
            beforeDistance = d;
        }
        if (f >= c && (after == keys.end() || d < afterDistance)) {
            after = it;
            afterDistance = d;
        }
    }
    if (after == keys.end() && before == keys.end()) return keys.begin()->second;  // c is NaN
    if (after == keys.end()) return before->second;
    if (before == keys.end()) return after->second;
    if (before == after) return before->second;
    float span = static_cast<float>(after->first) - static_cast<float>(before->first);
    // Distinct frames far out in the 32-bit range can meet in one float.
    if (span == 0.0f) return before->second;
    float t = (c - static_cast<float>(before->first)) / span;
    t = std::min(t, 1.0f);
    t = std::max(t, 0.0f);
    return before->second + t * (after->second - before->second);
}

void PropertyFloat::LoadXml(const char* elementName, const pugi::xml_node& parent, float defaultValue) {
    Reset(defaultValue);
    if (!parent) return;
    pugi::xml_node element = parent.child(elementName);
    if (!element) return;
    baseValue = FloatAttribute(element, "value", defaultValue);
    for (pugi::xml_node key : element.children("Key"))
        keys[KeyFrame(key)] = FloatAttribute(key, "value", defaultValue);
}

// --- PropertyBool ---

bool PropertyBool::EvaluateAt(float c) const {
    if (const bool* value = Prelude()) return *value;
    return StepAt(c);
}

void PropertyBool::LoadXml(const char* elementName, const pugi::xml_node& parent, bool defaultValue) {
    Reset(defaultValue);
    if (!parent) return;
    pugi::xml_node element = parent.child(elementName);
    if (!element) return;
    baseValue = BoolAttribute(element, "value", defaultValue);
    for (pugi::xml_node key : element.children("Key"))
        keys[KeyFrame(key)] = BoolAttribute(key, "value", defaultValue);
}

// --- PropertyMaterial ---

uint32_t PropertyMaterial::HashAt(float c) const {
    if (const uint32_t* value = Prelude()) return *value;
    return StepAt(c);
}

std::shared_ptr<const Material> PropertyMaterial::Evaluate() const {
    // Hash 0 is looked up like any other: a material saved without a name
    // is registered under it and dresses every object that names none.
    return ResourceManager::Instance().FindMaterial(HashAt(CurrentFrame()));
}

void PropertyMaterial::LoadXml(const pugi::xml_node& parent) {
    Reset(0);
    if (!parent) return;
    pugi::xml_node element = parent.child("Material");
    if (!element) return;
    baseValue = NameHash(element.attribute("value").value());
    for (pugi::xml_node key : element.children("Key")) {
        uint32_t hash = NameHash(key.attribute("value").value());
        // Without a base the first key names the material, registered or not.
        if (baseValue == 0) baseValue = hash;
        std::shared_ptr<const Material> material = ResourceManager::Instance().FindMaterial(hash);
        if (material) keys[KeyFrame(key)] = material->nameHash;
    }
}

// --- PropertyModel ---

uint32_t PropertyModel::HashAt(float c) const {
    if (const uint32_t* value = Prelude()) return *value;
    return StepAt(c);
}

Mesh* PropertyModel::Evaluate() const {
    return ResourceManager::Instance().FindModel(HashAt(CurrentFrame()));
}

void PropertyModel::LoadXml(const char* elementName, const pugi::xml_node& parent) {
    Reset(0);
    if (!parent) return;
    pugi::xml_node element = parent.child(elementName);
    if (!element) return;
    baseValue = NameHash(element.attribute("model").value());
    for (pugi::xml_node key : element.children("Key")) {
        Mesh* mesh = ResourceManager::Instance().FindModel(NameHash(key.attribute("value").value()));
        keys[KeyFrame(key)] = mesh ? mesh->hash : 0;
    }
}

// --- PropertyEmitterType, PropertyDrawMode ---

int PropertyEmitterType::EvaluateAt(float c) const {
    if (const int32_t* value = Prelude()) return *value;
    return StepAt(c);
}

void PropertyEmitterType::LoadXml(const pugi::xml_node& parent) {
    Reset(0);
    if (!parent) return;
    pugi::xml_node element = parent.child("EmitterType");
    if (!element) return;
    baseValue = NameIndex(element.attribute("type").value(), EmitterTypeNames);
    for (pugi::xml_node key : element.children("Key"))
        keys[KeyFrame(key)] = NameIndex(key.attribute("value").value(), EmitterTypeNames);
}

int PropertyDrawMode::EvaluateAt(float c) const {
    if (const int32_t* value = Prelude()) return *value;
    return StepAt(c);
}

void PropertyDrawMode::LoadXml(const pugi::xml_node& parent) {
    Reset(0);
    if (!parent) return;
    pugi::xml_node element = parent.child("DrawMode");
    if (!element) return;
    baseValue = NameIndex(element.attribute("type").value(), DrawModeNames);
    for (pugi::xml_node key : element.children("Key"))
        keys[KeyFrame(key)] = NameIndex(key.attribute("value").value(), DrawModeNames);
}

// --- PropertyLine ---

float PropertyLine::Evaluate(float x) const {
    if (points.empty()) return 0;
    if (points.size() == 1) return points[0].second;
    if (x >= points.back().first) return points.back().second;
    size_t lo = 0, hi = points.size() - 1;
    for (size_t i = 0; i < points.size(); ++i) {
        float time = points[i].first;
        if (x >= time && time > points[lo].first) lo = i;
        if (time >= x && points[hi].first > time) hi = i;
    }
    if (lo == hi) return points[hi].second;
    float span = points[hi].first - points[lo].first;
    // Points sharing the first time, with x before them: hold the first value
    // rather than divide by zero.
    if (span == 0.0f) return points[lo].second;
    return points[lo].second + (points[hi].second - points[lo].second) * (x - points[lo].first) / span;
}

void PropertyLine::AddPoint(float time, float value) {
    points.emplace_back(time, value);
    // The list was sorted before, so moving the new point down to its place
    // gives what a full stable sort gives, in linear time.
    for (size_t i = points.size() - 1; i > 0 && points[i - 1].first > points[i].first; --i)
        std::swap(points[i - 1], points[i]);
}

void PropertyLine::LoadXml(const char* elementName, const pugi::xml_node& parent, float defaultValue) {
    editActive = false;
    points.clear();
    pugi::xml_node element = parent ? parent.child(elementName) : pugi::xml_node();
    size_t skipped = 0;
    for (pugi::xml_node point : element.children("Point")) {
        if (points.size() == kMaxPoints) {
            ++skipped;
            continue;
        }
        AddPoint(FloatAttribute(point, "time", 0.0f), FloatAttribute(point, "value", 1.0f));
    }
    if (skipped) Log(3, "Curve %s: %zu points beyond %zu ignored", elementName, skipped, kMaxPoints);
    if (points.empty()) AddPoint(0.0f, defaultValue);
}

}  // namespace caldera
