#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <glm/vec3.hpp>

namespace pugi {
class xml_node;
}

namespace caldera {

struct Material;
class Mesh;

// Every tunable value of a scene is a property: a base value, key frames and
// a rule that turns them into the value at the current frame. Properties are
// members of their owner; the owner also lists pointers to them in its
// editing order. Loaded on the thread that loads the scene, evaluated on the
// render thread; properties carry no locks.

enum PropertyType : int32_t {
    TypeVec3 = 1,
    TypeBool = 2,
    TypeFloat = 3,
    TypeMaterial = 5,
    TypeModel = 6,
    TypeLine = 7,
    TypeEmitterType = 8,
    TypeDrawMode = 9,
};

inline constexpr const char* EmitterTypeNames[] = {
    "cube.volume", "cube.surface", "sphere.volume", "sphere.surface", "model.vertex", "model.face",
};
inline constexpr const char* DrawModeNames[] = {"draw.model", "draw.quads"};

// The key frame of a shot's range at `progress` percent of its window:
// frameStart + (frameEnd - frameStart) * progress / 100, in single precision.
float KeyFrame(int frameStart, int frameEnd, float progress);
// The frame every property is evaluated at: KeyFrame of the frame state.
// Render thread.
float CurrentFrame();

class Property {
public:
    explicit Property(PropertyType type) : type(type) {}
    virtual ~Property() = default;
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;

    PropertyType type;
    // While true, evaluation returns editValue. Playback never sets it.
    bool editActive = false;
    std::string label;  // shown by editing tools only

    // Editing operations; playback never calls them.
    virtual void AddKey(int /*frame*/) {}
    virtual bool HasKey(int /*frame*/) const { return false; }
    virtual void RemoveKey(int /*frame*/) {}
    virtual int KeyCount() const { return 0; }
};

// The state and editing operations that every keyed class shares.
template <class T>
class KeyedProperty : public Property {
public:
    using Property::Property;

    T baseValue{};
    T editValue{};
    std::map<int32_t, T> keys;  // at most one key per frame, ascending

    // Sets the key at `frame` to editValue. The first key of a property
    // replaces its base, so base and edit value restart from zero.
    void AddKey(int frame) override {
        bool wasEmpty = keys.empty();
        keys[frame] = editValue;
        if (wasEmpty) {
            baseValue = T{};
            editValue = T{};
        }
    }
    bool HasKey(int frame) const override { return keys.count(frame) != 0; }
    void RemoveKey(int frame) override { keys.erase(frame); }
    int KeyCount() const override { return static_cast<int>(keys.size()); }

protected:
    // The evaluation prelude: the edit value, the base without keys, or the
    // only key. Null when the class rule has to decide.
    const T* Prelude() const {
        if (editActive) return &editValue;
        if (keys.empty()) return &baseValue;
        if (keys.size() == 1) return &keys.begin()->second;
        return nullptr;
    }
    // The step rule of booleans, names and enumerations at frame c.
    T StepAt(float c) const;
    // Reset before a load: no edit, no keys, the given base.
    void Reset(T base) {
        editActive = false;
        keys.clear();
        baseValue = base;
    }
};

// A 3-vector on a Catmull-Rom spline through its keys; the base is added
// only strictly between two keys.
class PropertyVec3 : public KeyedProperty<glm::vec3> {
public:
    PropertyVec3() : KeyedProperty(TypeVec3) {}
    // Only changes the attribute letters: "r", "g", "b" instead of "x", "y", "z".
    bool isColor = false;

    glm::vec3 Evaluate() const { return EvaluateAt(CurrentFrame(), baseValue); }
    glm::vec3 EvaluateAt(float c) const { return EvaluateAt(c, baseValue); }
    // The same with `base` in place of the base value: a child placed under
    // its parent evaluates with its base moved by the parent's position.
    glm::vec3 EvaluateAt(float c, const glm::vec3& base) const;
    // Removing the only key folds its value into the base, the counterpart
    // of AddKey clearing the base for the first key.
    void RemoveKey(int frame) override;
    void LoadXml(const char* elementName, const pugi::xml_node& parent);
};

// A float interpolated linearly between keys; the base is never added.
class PropertyFloat : public KeyedProperty<float> {
public:
    PropertyFloat() : KeyedProperty(TypeFloat) {}
    float Evaluate() const { return EvaluateAt(CurrentFrame()); }
    float EvaluateAt(float c) const;
    void LoadXml(const char* elementName, const pugi::xml_node& parent, float defaultValue);
};

class PropertyBool : public KeyedProperty<bool> {
public:
    PropertyBool() : KeyedProperty(TypeBool) {}
    bool Evaluate() const { return EvaluateAt(CurrentFrame()); }
    bool EvaluateAt(float c) const;
    void LoadXml(const char* elementName, const pugi::xml_node& parent, bool defaultValue);
};

// A material named by its NameHash, resolved in the material library on
// every evaluation so that a library reload shows at once.
class PropertyMaterial : public KeyedProperty<uint32_t> {
public:
    PropertyMaterial() : KeyedProperty(TypeMaterial) {}
    // Null when nothing is registered under the hash. The pointer keeps the
    // material alive across a library reload: hold it for a draw.
    std::shared_ptr<const Material> Evaluate() const;
    uint32_t HashAt(float c) const;
    // Element "Material".
    void LoadXml(const pugi::xml_node& parent);
};

// A model named by its NameHash, resolved in the model registry on every
// evaluation.
class PropertyModel : public KeyedProperty<uint32_t> {
public:
    PropertyModel() : KeyedProperty(TypeModel) {}
    Mesh* Evaluate() const;  // null when nothing is registered
    uint32_t HashAt(float c) const;
    void LoadXml(const char* elementName, const pugi::xml_node& parent);
};

// An index into EmitterTypeNames.
class PropertyEmitterType : public KeyedProperty<int32_t> {
public:
    PropertyEmitterType() : KeyedProperty(TypeEmitterType) {}
    int Evaluate() const { return EvaluateAt(CurrentFrame()); }
    int EvaluateAt(float c) const;
    // Element "EmitterType".
    void LoadXml(const pugi::xml_node& parent);
};

// An index into DrawModeNames.
class PropertyDrawMode : public KeyedProperty<int32_t> {
public:
    PropertyDrawMode() : KeyedProperty(TypeDrawMode) {}
    int Evaluate() const { return EvaluateAt(CurrentFrame()); }
    int EvaluateAt(float c) const;
    // Element "DrawMode".
    void LoadXml(const pugi::xml_node& parent);
};

// A piecewise-linear curve over x, usually in [0, 1]; not keyed by frame.
class PropertyLine : public Property {
public:
    PropertyLine() : Property(TypeLine) {}

    // Hand-authored curves have a few points; a load keeps at most this many.
    static constexpr size_t kMaxPoints = 1024;

    std::vector<std::pair<float, float>> points;  // (time, value), ascending time

    float Evaluate(float x) const;
    // Inserts keeping ascending time; equal times keep their insertion order.
    void AddPoint(float time, float value);
    // Always leaves at least one point: (0, defaultValue) when none is given.
    void LoadXml(const char* elementName, const pugi::xml_node& parent, float defaultValue);
};

}  // namespace caldera
