#include <pugixml.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "lint/LintContext.h"
#include "particles/ObjectParticles.h"
#include "resources/AsciiCase.h"
#include "resources/XmlValue.h"
#include "scene/Array.h"
#include "scene/Camera.h"
#include "scene/Object.h"
#include "scene/ParameterTable.h"
#include "scene/Property.h"
#include "scene/Scene.h"

namespace caldera {

// Scene files and the material library, and the rules all XML content files
// share (the running order's own checks are in RunningOrderLint.cpp). The
// parameter elements come from the loaders' own tables (scene/ParameterTable.h);
// the other element and attribute names below are those the loaders read
// (scene/Object.cpp, scene/Camera.cpp, scene/Scene.cpp, resources/Material.cpp).
// A name the player does not read is a typo as far as the author is concerned.

XmlText::XmlText(const FileBuffer& file) : text(file.data.data()), size(file.size) {
    result = document.load_buffer(file.data.data(), file.size);
    lineStarts.push_back(0);
    for (size_t i = 0; i < size; ++i)
        if (text[i] == '\n') lineStarts.push_back(i + 1);
}

int XmlText::LineOfOffset(ptrdiff_t offset) const {
    if (offset < 0) return 1;
    auto it = std::upper_bound(lineStarts.begin(), lineStarts.end(), static_cast<size_t>(offset));
    return static_cast<int>(it - lineStarts.begin());
}

int XmlText::LineOf(const pugi::xml_node& node) const { return LineOfOffset(node.offset_debug()); }

int XmlText::LineOf(const pugi::xml_node& node, const char* name) const {
    ptrdiff_t start = node.offset_debug();
    if (start < 0 || static_cast<size_t>(start) >= size) return LineOf(node);
    const size_t length = std::strlen(name);
    // The attribute sits inside the element's start tag, before its '>'.
    for (size_t i = static_cast<size_t>(start); i + length < size && text[i] != '>'; ++i) {
        if (text[i] == '"' || text[i] == '\'') {  // skip attribute values
            const char quote = text[i];
            for (++i; i < size && text[i] != quote; ++i) {}
            continue;
        }
        if ((i == 0 || std::strchr(" \t\r\n", text[i - 1])) && std::strncmp(text + i, name, length) == 0) {
            size_t j = i + length;
            while (j < size && std::strchr(" \t\r\n", text[j])) ++j;
            if (j < size && text[j] == '=') return LineOfOffset(static_cast<ptrdiff_t>(i));
        }
    }
    return LineOf(node);
}

namespace {

using Names = std::vector<std::string>;

bool HasUpper(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool Contains(const Names& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A number as strtod reads it, with nothing but white space after it.
bool IsNumber(const char* text) {
    char* end = nullptr;
    std::strtod(text, &end);
    if (end == text) return false;
    while (*end == ' ' || (*end >= '\t' && *end <= '\r')) ++end;
    return *end == '\0';
}

// A whole number as pugixml's as_int reads it (decimal, or hex after 0x).
bool IsWholeNumber(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '-' || *p == '+') ++p;
    bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (hex) p += 2;
    const char* digits = p;
    while (hex ? std::isxdigit(static_cast<unsigned char>(*p)) != 0 : (*p >= '0' && *p <= '9')) ++p;
    if (p == digits) return false;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    return *p == '\0';
}

// Words that read as the switch they look like (the first character decides: 1, t, T, y, Y are true).
bool IsSwitchWord(std::string_view text) {
    static const char* const kWords[] = {"0", "1", "true", "false", "yes", "no", "y", "n", "t", "f"};
    std::string lower = LowerCaseAscii(text);
    for (const char* word : kWords)
        if (lower == word) return true;
    return false;
}

}  // namespace

std::string FormatNumber(float v) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", static_cast<double>(v));
    return text;
}

void XmlRules::Attributes(const pugi::xml_node& node, const Names& allowed, const char* where,
                          const std::string& note) {
    for (pugi::xml_attribute attribute : node.attributes()) {
        if (Contains(allowed, attribute.name())) continue;
        report.Warning(xml.LineOf(node, attribute.name()),
                       std::string("unknown attribute '") + attribute.name() + "' of " + where +
                           " is ignored" + DidYouMean(attribute.name(), allowed) + note);
    }
}

void XmlRules::UnknownElement(const pugi::xml_node& node, const Names& allowed, const char* where) {
    report.Warning(xml.LineOf(node), std::string("unknown element '") + node.name() + "' in " + where +
                                         " is ignored" + DidYouMean(node.name(), allowed));
}

void XmlRules::Repeated(const pugi::xml_node& node, std::set<std::string>& seen, const char* where) {
    if (!seen.insert(node.name()).second)
        report.Warning(xml.LineOf(node), std::string("second '") + node.name() + "' in " + where +
                                             " is ignored: only the first counts");
}

void XmlRules::Number(const pugi::xml_node& node, const char* attribute, const char* what) {
    pugi::xml_attribute a = node.attribute(attribute);
    if (!a || IsNumber(a.value())) return;
    report.Error(xml.LineOf(node, attribute), std::string(what) + " " + attribute + "=\"" + a.value() +
                                                  "\" is not a number (the player reads " +
                                                  FormatNumber(ParseFloat(a.value())) + ")");
}

void XmlRules::Frame(const pugi::xml_node& key) {
    pugi::xml_attribute a = key.attribute("frame");
    if (!a) {
        report.Warning(xml.LineOf(key), "Key without 'frame' is a key at frame 0");
        return;
    }
    if (!IsWholeNumber(a.value()))
        report.Error(xml.LineOf(key, "frame"), std::string("Key frame=\"") + a.value() +
                                                   "\" is not a whole number (the player reads " +
                                                   std::to_string(a.as_int(0)) + ")");
}

void XmlRules::Switch(const pugi::xml_node& node, const char* attribute, const char* what) {
    pugi::xml_attribute a = node.attribute(attribute);
    if (!a || IsSwitchWord(a.value())) return;
    report.Warning(xml.LineOf(node, attribute), std::string(what) + " " + attribute + "=\"" + a.value() +
                                                    "\" reads as " + (ParseBool(a.value()) ? "true" : "false") +
                                                    "; write 1 or 0");
}

namespace {

enum class Prop { Float, Bool, Vec3, Color, Model, RenderObj, MaterialRef, EmitterType, DrawMode, Line, ColorFilter };

struct PropertyRule {
    const char* element;
    Prop kind;
    float defaultValue;  // the table's, for a number or a switch
};
using Rules = std::vector<PropertyRule>;

Prop RuleKind(PropertyType type, bool isColor) {
    switch (type) {
    case TypeVec3: return isColor ? Prop::Color : Prop::Vec3;
    case TypeBool: return Prop::Bool;
    case TypeFloat: return Prop::Float;
    case TypeMaterial: return Prop::MaterialRef;
    case TypeModel: return Prop::Model;
    case TypeLine: return Prop::Line;
    case TypeEmitterType: return Prop::EmitterType;
    case TypeDrawMode: return Prop::DrawMode;
    }
    return Prop::Float;
}

// The elements a loader's table reads, in its order, one rule each.
template <class Owner>
Rules RulesOf(std::span<const Parameter<Owner>> table) {
    Rules rules;
    for (const Parameter<Owner>& parameter : table) {
        const Prop kind = RuleKind(KindOf(parameter), parameter.isColor);
        auto same = std::find_if(rules.begin(), rules.end(), [&](const PropertyRule& rule) {
            return std::string_view(rule.element) == parameter.element;
        });
        if (same == rules.end()) {
            rules.push_back({parameter.element, kind, parameter.defaultValue});
            continue;
        }
        // A number and a vector from one element: the camera's colour
        // filter, its strength in "value" and its colour in x, y, z.
        if ((same->kind == Prop::Float && kind == Prop::Vec3) || (same->kind == Prop::Vec3 && kind == Prop::Float))
            same->kind = Prop::ColorFilter;
    }
    return rules;
}

// Elements of an "Object", besides the nested "Object", "Particles", "Array"
// and "CopyTransform".
const Rules& ObjectRules() {
    static const Rules rules = [] {
        Rules r = RulesOf(Object::Parameters());
        // The model element also names the material in older files.
        for (PropertyRule& rule : r)
            if (std::string_view(rule.element) == "RenderObj") rule.kind = Prop::RenderObj;
        return r;
    }();
    return rules;
}
const Rules& CameraRules() {
    static const Rules rules = RulesOf(Camera::Parameters());
    return rules;
}
const Rules& ShadowMapRules() {
    static const Rules rules = RulesOf(Scene::ShadowMapParameters());
    return rules;
}
const Rules& PostEffectsRules() {
    static const Rules rules = RulesOf(Scene::PostEffectsParameters());
    return rules;
}
const Rules& ArrayRules() {
    static const Rules rules = RulesOf(Array::Parameters());
    return rules;
}
const Rules& ParticleRules() {
    static const Rules rules = RulesOf(ObjectParticles::Parameters());
    return rules;
}

const PropertyRule* FindRule(const Rules& rules, std::string_view name) {
    for (const PropertyRule& rule : rules)
        if (name == rule.element) return &rule;
    return nullptr;
}

Names RuleNames(const Rules& rules, std::initializer_list<const char*> more = {}) {
    Names names;
    for (const PropertyRule& rule : rules) names.push_back(rule.element);
    for (const char* name : more) names.push_back(name);
    return names;
}

// What an element's value stays at when it names none of the attributes its
// class reads; empty where that says nothing useful.
std::string StaysAt(const PropertyRule& rule) {
    switch (rule.kind) {
    case Prop::Float: return FormatNumber(rule.defaultValue);
    case Prop::Bool: return rule.defaultValue != 0.0f ? "1" : "0";
    case Prop::Vec3: return "0 0 0";
    case Prop::Color: return "1 1 1";
    default: return {};
    }
}

Names EnumNames(Prop kind) {
    Names names;
    if (kind == Prop::EmitterType)
        for (const char* name : EmitterTypeNames) names.push_back(name);
    else
        for (const char* name : DrawModeNames) names.push_back(name);
    return names;
}

// The checks of scene and material files.
class XmlChecker : public XmlRules {
public:
    XmlChecker(const XmlText& xml, const Inventory& inventory, Reporter& report)
        : XmlRules(xml, report), inventory(inventory) {}

    void ModelName(const pugi::xml_node& node, const char* attribute) {
        pugi::xml_attribute a = node.attribute(attribute);
        if (!a || !*a.value()) return;
        CheckFileReference(report, xml.LineOf(node, attribute), a.value(), inventory.models, "model");
    }

    void TextureName(const pugi::xml_node& node, const char* attribute) {
        pugi::xml_attribute a = node.attribute(attribute);
        if (!a || !*a.value()) return;
        CheckFileReference(report, xml.LineOf(node, attribute), a.value(), inventory.textures, "texture");
    }

    void MaterialName(const pugi::xml_node& node, const char* attribute) {
        pugi::xml_attribute a = node.attribute(attribute);
        if (!a || !*a.value() || !inventory.materialsKnown) return;
        if (Contains(inventory.materials, a.value())) return;
        report.Error(xml.LineOf(node, attribute), std::string("material '") + a.value() +
                                                      "' is not in data/materials.xml" +
                                                      DidYouMean(a.value(), inventory.materials));
    }

    void EnumName(const pugi::xml_node& node, const char* attribute, Prop kind) {
        pugi::xml_attribute a = node.attribute(attribute);
        if (!a) return;
        Names names = EnumNames(kind);
        if (Contains(names, a.value())) return;
        report.Error(xml.LineOf(node, attribute), std::string("'") + a.value() + "' is not a " +
                                                      (kind == Prop::EmitterType ? "emitter type" : "draw mode") +
                                                      " (the player uses '" + names[0] + "')" +
                                                      DidYouMean(a.value(), names));
    }

    // One property element: base value in its attributes, "Key" children (or
    // "Point" children for a curve).
    void Property(const pugi::xml_node& node, const PropertyRule& rule) {
        const Prop kind = rule.kind;
        const std::string name = node.name();
        Names attributes;
        Names keyAttributes{"frame"};
        switch (kind) {
        case Prop::Float:
        case Prop::Bool:
        case Prop::MaterialRef:
            attributes = {"value"};
            keyAttributes.push_back("value");
            break;
        case Prop::Vec3:
            attributes = {"x", "y", "z"};
            keyAttributes.insert(keyAttributes.end(), {"x", "y", "z"});
            break;
        case Prop::Color:
            attributes = {"r", "g", "b"};
            keyAttributes.insert(keyAttributes.end(), {"r", "g", "b"});
            break;
        case Prop::Model:
            attributes = {"model"};
            keyAttributes.push_back("value");
            break;
        case Prop::RenderObj:
            attributes = {"model", "material"};
            keyAttributes.push_back("value");
            break;
        case Prop::EmitterType:
        case Prop::DrawMode:
            attributes = {"type"};
            keyAttributes.push_back("value");
            break;
        case Prop::Line:
            break;
        case Prop::ColorFilter:
            attributes = {"value", "x", "y", "z"};
            keyAttributes.insert(keyAttributes.end(), {"value", "x", "y", "z"});
            break;
        }
        // An element that names none of what its class reads keeps the default.
        std::string note;
        const bool readsNothing = std::none_of(attributes.begin(), attributes.end(), [&](const std::string& a) {
            return static_cast<bool>(node.attribute(a.c_str()));
        });
        if (readsNothing && !node.child("Key") && !StaysAt(rule).empty())
            note = " (" + name + " stays " + StaysAt(rule) + ")";
        Attributes(node, attributes, ("'" + name + "'").c_str(), note);

        // The base value.
        const char* what = name.c_str();
        switch (kind) {
        case Prop::Float: Number(node, "value", what); break;
        case Prop::Bool: Switch(node, "value", what); break;
        case Prop::Vec3:
        case Prop::Color:
        case Prop::ColorFilter:
            for (const std::string& a : attributes) Number(node, a.c_str(), what);
            break;
        case Prop::MaterialRef: MaterialName(node, "value"); break;
        case Prop::Model: ModelName(node, "model"); break;
        case Prop::RenderObj:
            ModelName(node, "model");
            MaterialName(node, "material");
            break;
        case Prop::EmitterType:
        case Prop::DrawMode: EnumName(node, "type", kind); break;
        case Prop::Line: break;
        }

        // Keys (points for a curve).
        const char* childName = kind == Prop::Line ? "Point" : "Key";
        int keys = 0;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            if (std::string_view(child.name()) != childName) {
                UnknownElement(child, {childName}, ("'" + name + "'").c_str());
                continue;
            }
            if (kind == Prop::Line) {
                Attributes(child, {"time", "value"}, "Point");
                Number(child, "time", "Point");
                Number(child, "value", "Point");
                continue;
            }
            ++keys;
            Attributes(child, keyAttributes, "Key");
            Frame(child);
            switch (kind) {
            case Prop::Float: Number(child, "value", "Key"); break;
            case Prop::Bool: Switch(child, "value", "Key"); break;
            case Prop::Vec3:
            case Prop::Color:
            case Prop::ColorFilter:
                for (size_t i = 1; i < keyAttributes.size(); ++i) Number(child, keyAttributes[i].c_str(), "Key");
                break;
            case Prop::MaterialRef: MaterialName(child, "value"); break;
            case Prop::Model:
            case Prop::RenderObj: ModelName(child, "value"); break;
            case Prop::EmitterType:
            case Prop::DrawMode: EnumName(child, "value", kind); break;
            case Prop::Line: break;
            }
        }

        // A 3-vector adds its base to the spline between two keys, and only there.
        if ((kind == Prop::Vec3 || kind == Prop::Color) && keys >= 2) {
            const bool color = kind == Prop::Color;
            std::string base;
            bool nonZero = false;
            for (const std::string& a : attributes) {
                pugi::xml_attribute value = node.attribute(a.c_str());
                // A colour's missing component counts 1.0, a vector's 0.
                float v = value ? ParseFloat(value.value()) : (color ? 1.0f : 0.0f);
                if (v != 0.0f) nonZero = true;
                base += (base.empty() ? "" : " ") + a + "=" + FormatNumber(v);
            }
            if (nonZero)
                report.Warning(xml.LineOf(node),
                               "'" + name + "' has key frames and a base value (" + base +
                                   "): the base is added to the value between keys" +
                                   (color ? " (a missing r, g or b counts 1)" : "") + "; set it to 0 or drop the keys");
        }
    }


    // Children of an element that holds properties only.
    void Properties(const pugi::xml_node& node, const Rules& rules, const char* where) {
        std::set<std::string> seen;
        Names allowed = RuleNames(rules);
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            const PropertyRule* rule = FindRule(rules, child.name());
            if (!rule) {
                UnknownElement(child, allowed, where);
                continue;
            }
            Repeated(child, seen, where);
            Property(child, *rule);
        }
    }

    // `parentMoves`: an object above this one has a keyed position or copies
    // another's transform.
    void Object(const pugi::xml_node& node, const std::string& sceneName, bool topLevel, bool parentMoves = false) {
        const bool moves = parentMoves || node.child("Position").child("Key") || node.child("CopyTransform");
        Attributes(node, {"name", "isCubeMap"}, "Object");
        Switch(node, "isCubeMap", "Object");
        const Names allowed = RuleNames(ObjectRules(), {"Object", "Particles", "Array", "CopyTransform"});
        std::set<std::string> seen;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            std::string_view name = child.name();
            if (name == "Object") {
                Object(child, sceneName, false, moves);
            } else if (name == "Array") {
                Attributes(child, {}, "Array");
                Properties(child, ArrayRules(), "Array");
                if (!child.child("ScaleMultiplier"))
                    report.Warning(xml.LineOf(child), "Array without 'ScaleMultiplier': its copies have scale 0 0 0 "
                                                      "and are invisible");
            } else if (name == "Particles") {
                Repeated(child, seen, "Object");
                Attributes(child, {}, "Particles");
                Properties(child, ParticleRules(), "Particles");
            } else if (name == "CopyTransform") {
                Repeated(child, seen, "Object");
                Attributes(child, {"from"}, "CopyTransform");
                CopySource(child, sceneName);
            } else if (const PropertyRule* rule = FindRule(ObjectRules(), name)) {
                Repeated(child, seen, "Object");
                Property(child, *rule);
            } else {
                UnknownElement(child, allowed, "Object");
            }
        }
        // What the defaults make of a missing element.
        const std::string label = ObjectLabel(node);
        if (!topLevel || node.child("CopyTransform")) Detached(node, topLevel, parentMoves);
        pugi::xml_node renderObj = node.child("RenderObj");
        const bool hasModel = renderObj && (*renderObj.attribute("model").value() || renderObj.child("Key"));
        const bool hasArrays = static_cast<bool>(node.child("Array"));
        pugi::xml_node light = node.child("LightSource");
        const bool isLight = light && (ParseBool(light.attribute("value").value()) || light.child("Key"));
        if ((hasModel || hasArrays) && !node.child("Scale"))
            report.Warning(xml.LineOf(node), label + " has a model but no 'Scale': its scale is 0 0 0 and it is "
                                                     "invisible (write <Scale x=\"1\" y=\"1\" z=\"1\"/>)");
        if ((hasModel || isLight) && !node.child("Color"))
            report.Warning(xml.LineOf(node), label + " has no 'Color': it is black" +
                                                 (isLight ? " and lights nothing" : "") +
                                                 " (write <Color r=\"1\" g=\"1\" b=\"1\"/>)");
        if (hasModel && !node.child("Material") && !*renderObj.attribute("material").value())
            report.Warning(xml.LineOf(node), label + " has a model but no material: it draws with whatever "
                                                     "material the object before it left");
    }

    // What an object's own transform places, not its parent's nor its copy
    // source's: sprite particles (model copies go with the parent), and
    // lights, which only top-level objects are at all.
    void Detached(const pugi::xml_node& node, bool topLevel, bool parentMoves) {
        const char* name = node.attribute("name").value();
        std::string owner = topLevel ? "object" : "child object";
        if (*name) owner += std::string(" '") + name + "'";
        const int line = xml.LineOf(node);
        pugi::xml_node particles = node.child("Particles");
        if (topLevel) {
            const std::string source = node.child("CopyTransform").attribute("from").value();
            if (particles)
                report.Warning(line, "particles of " + owner + " stay at the object's own position: they do not "
                                     "follow its CopyTransform source '" + source + "'");
            if (pugi::xml_node light = node.child("LightSource"); light && On(light))
                report.Warning(line, "the light of " + owner + " stays at the object's own position: it does not "
                                     "follow its CopyTransform source '" + source + "'");
            return;
        }
        if (particles && parentMoves && Sprites(particles))
            report.Warning(line, "particles of " + owner + " stay at the child's own position: they do not follow "
                                 "the parent (drawn as draw.model they would)");
        if (pugi::xml_node light = node.child("LightSource"); light && On(light))
            report.Warning(line, "the light of " + owner + " lights nothing: it does not follow the parent, and "
                                 "only top-level objects are lights");
    }

    // Particles drawn as quads at some frame.
    static bool Sprites(const pugi::xml_node& particles) {
        pugi::xml_node mode = particles.child("DrawMode");
        const std::string quads = DrawModeNames[1];
        if (mode.attribute("type").value() == quads) return true;
        for (pugi::xml_node key : mode.children("Key"))
            if (key.attribute("value").value() == quads) return true;
        return false;
    }

    // A switch that is on in its base value or in any key.
    static bool On(const pugi::xml_node& node) {
        if (ParseBool(node.attribute("value").value())) return true;
        for (pugi::xml_node key : node.children("Key"))
            if (ParseBool(key.attribute("value").value())) return true;
        return false;
    }

    static std::string ObjectLabel(const pugi::xml_node& node) {
        const char* name = node.attribute("name").value();
        return *name ? std::string("object '") + name + "'" : std::string("an unnamed object");
    }

    void CopySource(const pugi::xml_node& node, const std::string& sceneName) {
        pugi::xml_attribute from = node.attribute("from");
        if (!from || !*from.value()) {
            report.Warning(xml.LineOf(node), "CopyTransform without 'from' copies nothing");
            return;
        }
        auto it = inventory.topObjects.find(sceneName);
        const Names none;
        const Names& objects = it == inventory.topObjects.end() ? none : it->second;
        if (Contains(objects, from.value())) return;
        report.Error(xml.LineOf(node, "from"), std::string("CopyTransform from '") + from.value() +
                                                   "': no top-level object of this scene has that name" +
                                                   DidYouMean(from.value(), objects));
    }

    void Camera(const pugi::xml_node& node) {
        Attributes(node, {"name", "lensDirt"}, "Camera");
        TextureName(node, "lensDirt");
        Properties(node, CameraRules(), "Camera");
        const char* name = node.attribute("name").value();
        const std::string label = *name ? std::string("camera '") + name + "'" : std::string("an unnamed camera");
        if (!*name) report.Warning(xml.LineOf(node), "a camera without 'name' cannot be chosen by the running order");
        if (!node.child("FOV"))
            report.Warning(xml.LineOf(node), label + " has no 'FOV': the field of view is 0.5 degrees "
                                                     "(write <FOV value=\"60\"/>)");
        CameraRotation(node.child("Rotation"), label);
    }

    // A value past `limit` that reads well as degrees: the first of
    // `attributes` of `node` that is, reported; false when none.
    bool Degrees(const pugi::xml_node& node, std::initializer_list<const char*> attributes, double limit,
                 const std::string& what, const char* unit) {
        for (const char* attribute : attributes) {
            pugi::xml_attribute a = node.attribute(attribute);
            if (!a) continue;
            const float value = ParseFloat(a.value());
            if (!(std::fabs(value) > limit)) continue;
            report.Warning(xml.LineOf(node, attribute),
                           what + " " + attribute + "=\"" + a.value() + "\" looks like degrees: " + unit +
                               " (" + a.value() + " degrees is " +
                               FormatNumber(static_cast<float>(value * std::numbers::pi / 180.0)) + ")");
            return true;
        }
        return false;
    }

    // Camera angles are radians: more than a whole turn is degrees written
    // by habit, and successive keys more than half a turn apart make the
    // camera spin the long way round between them.
    void CameraRotation(const pugi::xml_node& rotation, const std::string& label) {
        if (!rotation) return;
        const std::string what = label + " 'Rotation'";
        const char* unit = "camera rotations are in radians";
        Degrees(rotation, {"x", "y", "z"}, 2 * std::numbers::pi, what, unit);
        struct Turn {
            int frame;
            float pitch, yaw;
            bool degrees;
            pugi::xml_node key;
        };
        std::vector<Turn> turns;
        for (pugi::xml_node key : rotation.children("Key")) {
            const bool degrees = Degrees(key, {"x", "y", "z"}, 2 * std::numbers::pi, what + " key", unit);
            turns.push_back({key.attribute("frame").as_int(0), ParseFloat(key.attribute("x").value()),
                             ParseFloat(key.attribute("y").value()), degrees, key});
        }
        std::stable_sort(turns.begin(), turns.end(), [](const Turn& a, const Turn& b) { return a.frame < b.frame; });
        for (size_t i = 1; i < turns.size(); ++i) {
            const Turn& a = turns[i - 1];
            const Turn& b = turns[i];
            if (a.degrees || b.degrees) continue;  // already named
            for (auto [axis, from, to] : {std::tuple{"pitch (x)", a.pitch, b.pitch}, std::tuple{"yaw (y)", a.yaw, b.yaw}})
                if (std::fabs(to - from) > std::numbers::pi)
                    report.Warning(xml.LineOf(b.key), what + ": the " + axis + " goes from " + FormatNumber(from) +
                                                          " to " + FormatNumber(to) + " between frames " +
                                                          std::to_string(a.frame) + " and " + std::to_string(b.frame) +
                                                          ", more than half a turn: the camera turns the long way "
                                                          "round (keep successive keys within pi of each other)");
        }
    }

    // The shadow spot's angle is radians, and its default is no angle at all.
    void SpotSize(const pugi::xml_node& shadowMap) {
        pugi::xml_node spot = shadowMap.child("SpotSize");
        if (!spot) {
            // An element that only switches the cube map sets no spot.
            const bool setsSpot = shadowMap.child("Position") || shadowMap.child("LookAt") ||
                                  ParseBool(shadowMap.attribute("enabled").value()) ||
                                  *shadowMap.attribute("texture").value();
            const PropertyRule* rule = FindRule(ShadowMapRules(), "SpotSize");
            if (setsSpot && rule)
                report.Warning(xml.LineOf(shadowMap), "ShadowMap: 'SpotSize' missing: the spot is " +
                                                          FormatNumber(rule->defaultValue) +
                                                          " radians wide (write <SpotSize value=\"0.9\"/>)");
            return;
        }
        const char* unit = "the spot's angle is in radians";
        Degrees(spot, {"value"}, std::numbers::pi, "SpotSize", unit);
        for (pugi::xml_node key : spot.children("Key")) Degrees(key, {"value"}, std::numbers::pi, "SpotSize key", unit);
    }

    const Inventory& inventory;
};

}  // namespace

int RootLine(const XmlText& xml) {
    pugi::xml_node root = xml.document.first_child();
    while (root && root.type() != pugi::node_element) root = root.next_sibling();
    return root ? xml.LineOf(root) : 1;
}

std::string RootDidYouMean(const XmlText& xml, const char* expected) {
    for (pugi::xml_node node : xml.document.children())
        if (node.type() == pugi::node_element) {
            std::string nearest = NearestName(node.name(), {expected});
            return nearest.empty() ? " (the file's root is '" + std::string(node.name()) + "')"
                                   : std::string(" (did you mean '") + expected + "' for '" + node.name() + "'?)";
        }
    return {};
}

bool Parsed(const XmlText& xml, Reporter& report, const char* keeps) {
    if (xml.result) return true;
    report.Error(xml.LineOfOffset(xml.result.offset),
                 std::string("not well-formed XML (") + xml.result.description() + "): " + keeps);
    return false;
}


void CheckFileReference(Reporter& report, int line, const std::string& name, const Names& known, const char* what) {
    if (Contains(known, name)) return;
    const std::string lower = LowerCaseAscii(name);
    if (HasUpper(name) && Contains(known, lower)) {
        report.Error(line, std::string(what) + " '" + name + "' has capital letters: names are registered in lower "
                                                             "case, so it finds nothing (did you mean '" +
                               lower + "'?)");
        return;
    }
    const std::string nearest = NearestName(lower, known);
    std::string message = std::string(what) + " '" + name + "' does not exist" +
                          (nearest.empty() ? "" : " (did you mean '" + nearest + "'?)") +
                          (HasUpper(name) ? " (names are registered in lower case)" : "");
    // A texture not made yet costs a material its texture, nothing more; a
    // near miss is a typo all the same.
    if (std::string_view(what) == "texture" && nearest.empty())
        report.Warning(line, message + ": the material draws without it");
    else
        report.Error(line, message);
}

void CollectMaterialNames(const FileBuffer& file, Inventory& inventory) {
    XmlText xml(file);
    pugi::xml_node root = xml.document.child("Materials");
    if (!xml.result || !root) return;
    inventory.materialsKnown = true;
    for (pugi::xml_node material : root.children("Material"))
        inventory.materials.push_back(material.attribute("name").value());
}

void CheckMaterialsXml(const FileBuffer& file, const Inventory& inventory, Reporter& report) {
    XmlText xml(file);
    if (!Parsed(xml, report, "the player keeps the materials it had, or has none")) return;
    pugi::xml_node root = xml.document.child("Materials");
    if (!root) {
        report.Error(RootLine(xml), "no 'Materials' element: the player reads no material from this file" +
                                        RootDidYouMean(xml, "Materials"));
        return;
    }
    XmlChecker check(xml, inventory, report);
    check.Attributes(root, {}, "Materials");
    static const char* const kTextures[] = {"ColorMap", "NormalMap", "ReflectionMap", "BlurrinessMap"};
    static const char* const kValues[] = {"Shadeless", "ReflectionAmount", "NormalStrength", "BlurrinessMultiplier"};
    const Names allowed{"ColorMap", "NormalMap", "ReflectionMap", "BlurrinessMap", "UseSkyShader", "Shadeless",
                        "ReflectionAmount", "NormalStrength", "Color", "BlurrinessMultiplier", "Glass"};
    std::set<std::string> names;
    for (pugi::xml_node material : root.children()) {
        if (material.type() != pugi::node_element) continue;
        if (std::string_view(material.name()) != "Material") {
            check.UnknownElement(material, {"Material"}, "Materials");
            continue;
        }
        check.Attributes(material, {"name"}, "Material");
        const std::string name = material.attribute("name").value();
        const int line = xml.LineOf(material);
        if (name.empty()) report.Warning(line, "a material without 'name' cannot be used by any object");
        else if (!names.insert(name).second)
            report.Warning(line, "a second material '" + name + "': it replaces the first one");
        if (!material.child("Color"))
            report.Warning(line, "material '" + name + "' has no 'Color': it is black (write <Color r=\"1\" g=\"1\" b=\"1\"/>)");
        std::set<std::string> seen;
        for (pugi::xml_node child : material.children()) {
            if (child.type() != pugi::node_element) continue;
            std::string_view element = child.name();
            if (!Contains(allowed, element)) {
                check.UnknownElement(child, allowed, "Material");
                continue;
            }
            check.Repeated(child, seen, "Material");
            if (std::find(std::begin(kTextures), std::end(kTextures), element) != std::end(kTextures)) {
                check.Attributes(child, {"texture"}, child.name());
                check.TextureName(child, "texture");
            } else if (std::find(std::begin(kValues), std::end(kValues), element) != std::end(kValues)) {
                check.Attributes(child, {"value"}, child.name());
                check.Number(child, "value", child.name());
            } else if (element == "UseSkyShader") {
                check.Attributes(child, {"value"}, child.name());
                check.Switch(child, "value", child.name());
            } else if (element == "Color") {
                check.Attributes(child, {"r", "g", "b"}, "Color");
                for (const char* c : {"r", "g", "b"}) check.Number(child, c, "Color");
            } else if (element == "Glass") {
                check.Attributes(child, {"value", "refraction"}, "Glass",
                                 child.attribute("refraction") ? "" : " (refraction stays 0)");
                check.Switch(child, "value", "Glass");
                check.Number(child, "refraction", "Glass");
            }
        }
    }
}

void CollectSceneNames(const FileBuffer& file, const std::string& sceneName, Inventory& inventory) {
    XmlText xml(file);
    pugi::xml_node root = xml.document.child("Scene");
    Names& cameras = inventory.cameras[sceneName];
    Names& objects = inventory.topObjects[sceneName];
    if (!xml.result || !root) return;
    std::vector<Inventory::CameraMix>& mix = inventory.cameraMix[sceneName];
    for (pugi::xml_node camera : root.children("Camera")) {
        cameras.push_back(camera.attribute("name").value());
        Inventory::CameraMix levels{camera.attribute("name").value(), xml.LineOf(camera), "lensdirt.jpg", {}};
        if (pugi::xml_attribute dirt = camera.attribute("lensDirt")) levels.lensDirt = dirt.value();
        // Values read as the camera reads them: without 'value' the default.
        for (const char* element : {"FadeToBlack", "FadeToWhite", "Anamorphic", "LensFlare", "LensReflect",
                                    "ColorFilterIntensity"}) {
            pugi::xml_node node = camera.child(element);
            if (!node) continue;
            float fallback = 0;
            for (const Parameter<Camera>& p : Camera::Parameters())
                if (std::string_view(p.element) == element) {
                    fallback = p.defaultValue;
                    break;
                }
            auto nonZero = [&](const pugi::xml_node& n) {
                pugi::xml_attribute value = n.attribute("value");
                return (value ? ParseFloat(value.value()) : fallback) != 0.0f;
            };
            // With keys the base value is not used.
            bool keyed = !node.child("Key") && nonZero(node);
            for (pugi::xml_node key : node.children("Key")) keyed = keyed || nonZero(key);
            if (keyed) levels.keyed.push_back(element);
        }
        mix.push_back(std::move(levels));
    }
    for (pugi::xml_node object : root.children("Object")) objects.push_back(object.attribute("name").value());
}

void CheckSceneXml(const FileBuffer& file, const std::string& sceneName, const Inventory& inventory, Reporter& report) {
    XmlText xml(file);
    if (!Parsed(xml, report, "the scene shows nothing until the file is mended")) return;
    pugi::xml_node root = xml.document.child("Scene");
    if (!root) {
        report.Error(RootLine(xml), "no 'Scene' element: the scene is empty" + RootDidYouMean(xml, "Scene"));
        return;
    }
    XmlChecker check(xml, inventory, report);
    check.Attributes(root, {}, "Scene");
    const Names allowed{"Object", "Camera", "ShadowMap", "PostEffects"};
    std::set<std::string> seen, cameras;
    for (pugi::xml_node child : root.children()) {
        if (child.type() != pugi::node_element) continue;
        std::string_view name = child.name();
        if (name == "Object") {
            check.Object(child, sceneName, true);
        } else if (name == "Camera") {
            check.Camera(child);
            std::string cameraName = child.attribute("name").value();
            if (!cameraName.empty() && !cameras.insert(cameraName).second)
                report.Warning(xml.LineOf(child), "a second camera '" + cameraName + "': the running order gets this one");
        } else if (name == "ShadowMap") {
            check.Repeated(child, seen, "Scene");
            check.Attributes(child, {"enabled", "texture"}, "ShadowMap");
            check.Switch(child, "enabled", "ShadowMap");
            // The scene lower-cases this one name itself.
            pugi::xml_attribute texture = child.attribute("texture");
            if (texture && *texture.value())
                CheckFileReference(report, xml.LineOf(child, "texture"), LowerCaseAscii(texture.value()),
                                   inventory.textures, "texture");
            check.Properties(child, ShadowMapRules(), "ShadowMap");
            check.SpotSize(child);
        } else if (name == "PostEffects") {
            check.Repeated(child, seen, "Scene");
            check.Attributes(child, {}, "PostEffects");
            check.Properties(child, PostEffectsRules(), "PostEffects");
        } else {
            check.UnknownElement(child, allowed, "Scene");
        }
    }
    if (!root.child("Camera"))
        report.Warning(xml.LineOf(root), "scene '" + sceneName + "' has no camera: the running order cannot show it");
}

}  // namespace caldera
