#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "scene/Property.h"

namespace caldera {

// A class's scene parameters, each described once: the element its file
// names it by, the label editing tools show, the property member, the
// default, and its place in the editing order. Loading, the labels, the
// editing order and the checker's list of known elements (lint/) all come
// from the one table, so they cannot drift apart. A table lists its
// parameters in the order the loader reads them.

// Not in the owner's editing order: loaded, never shown.
inline constexpr int kNotEdited = -1;

template <class Owner>
struct Parameter {
    using Member = std::variant<PropertyVec3 Owner::*, PropertyFloat Owner::*, PropertyBool Owner::*,
                                PropertyMaterial Owner::*, PropertyModel Owner::*, PropertyLine Owner::*,
                                PropertyEmitterType Owner::*, PropertyDrawMode Owner::*>;

    const char* element;  // the child element the loader reads
    const char* label;    // shown by editing tools only; "" for none
    Member member;
    // What a missing element gives: a number's value, a curve's only point,
    // a switch's 1 or 0. Vectors are 0 0 0, names none and choices their
    // first name, whatever this says.
    float defaultValue = 0.0f;
    int editSlot = kNotEdited;  // index in the owner's `properties`
    bool isColor = false;       // a vector read as "r", "g", "b"
};

template <class Owner>
constexpr PropertyType TypeOf(PropertyVec3 Owner::*) { return TypeVec3; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyFloat Owner::*) { return TypeFloat; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyBool Owner::*) { return TypeBool; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyMaterial Owner::*) { return TypeMaterial; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyModel Owner::*) { return TypeModel; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyLine Owner::*) { return TypeLine; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyEmitterType Owner::*) { return TypeEmitterType; }
template <class Owner>
constexpr PropertyType TypeOf(PropertyDrawMode Owner::*) { return TypeDrawMode; }

// The property class of a parameter.
template <class Owner>
constexpr PropertyType KindOf(const Parameter<Owner>& parameter) {
    return std::visit([](auto member) { return TypeOf(member); }, parameter.member);
}

// The element a property class reads whatever it is told, or null where the
// table's name is passed on.
constexpr const char* FixedElement(PropertyType kind) {
    switch (kind) {
    case TypeMaterial: return "Material";
    case TypeEmitterType: return "EmitterType";
    case TypeDrawMode: return "DrawMode";
    default: return nullptr;
    }
}

// For a static_assert next to each table: the editing slots of all the owner's
// tables number 0 to n-1 once each, a class that reads a fixed element is
// listed under that element, and only vectors are colours.
template <class Owner>
constexpr bool ValidTables(std::initializer_list<std::span<const Parameter<Owner>>> tables) {
    int edited = 0;
    for (auto table : tables)
        for (const Parameter<Owner>& p : table) {
            if (p.editSlot != kNotEdited) ++edited;
            const char* fixed = FixedElement(KindOf(p));
            if (fixed && std::string_view(fixed) != p.element) return false;
            if (p.isColor && KindOf(p) != TypeVec3) return false;
        }
    for (int slot = 0; slot < edited; ++slot) {
        int found = 0;
        for (auto table : tables)
            for (const Parameter<Owner>& p : table) found += p.editSlot == slot;
        if (found != 1) return false;
    }
    return true;
}

template <class Owner>
Property& PropertyIn(Owner& owner, const Parameter<Owner>& parameter) {
    return std::visit([&owner](auto member) -> Property& { return owner.*member; }, parameter.member);
}

// Sets the labels and colour flags of the owner's properties and returns its
// editing order.
template <class Owner>
std::vector<Property*> SetUpParameters(Owner& owner, std::initializer_list<std::span<const Parameter<Owner>>> tables) {
    std::vector<Property*> order;
    for (auto table : tables)
        for (const Parameter<Owner>& p : table) {
            Property& property = PropertyIn(owner, p);
            property.label = p.label;
            if (p.isColor) static_cast<PropertyVec3&>(property).isColor = true;
            if (p.editSlot == kNotEdited) continue;
            if (order.size() <= static_cast<size_t>(p.editSlot)) order.resize(static_cast<size_t>(p.editSlot) + 1);
            order[static_cast<size_t>(p.editSlot)] = &property;
        }
    return order;
}

// Loads every parameter of `table` from the children of `parent`, in table
// order; a null parent gives every parameter its default.
template <class Owner>
void LoadParameters(Owner& owner, std::span<const Parameter<Owner>> table, const pugi::xml_node& parent) {
    for (const Parameter<Owner>& p : table)
        std::visit(
            [&](auto member) {
                auto& property = owner.*member;
                using P = std::remove_reference_t<decltype(property)>;
                if constexpr (std::is_same_v<P, PropertyFloat> || std::is_same_v<P, PropertyLine>)
                    property.LoadXml(p.element, parent, p.defaultValue);
                else if constexpr (std::is_same_v<P, PropertyBool>)
                    property.LoadXml(p.element, parent, p.defaultValue != 0.0f);
                else if constexpr (std::is_same_v<P, PropertyVec3> || std::is_same_v<P, PropertyModel>)
                    property.LoadXml(p.element, parent);
                else  // reads its FixedElement
                    property.LoadXml(parent);
            },
            p.member);
}

}  // namespace caldera
