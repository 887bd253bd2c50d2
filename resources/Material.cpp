#include "resources/Material.h"

#include <pugixml.hpp>

#include "platform/Log.h"
#include "resources/NameHash.h"
#include "resources/XmlValue.h"

namespace caldera {

namespace {

uint32_t TextureHash(const pugi::xml_node& element, const char* name) {
    return NameHash(element.child(name).attribute("texture").value());
}

bool Flag(const pugi::xml_attribute& attribute) { return ParseBool(attribute.value()); }

float Number(const pugi::xml_attribute& attribute, float missing) {
    return attribute ? ParseFloat(attribute.value()) : missing;
}

float Value(const pugi::xml_node& element, const char* name, float missing) {
    return Number(element.child(name).attribute("value"), missing);
}

}  // namespace

void Material::Load(const pugi::xml_node& element) {
    *this = Material{};
    name = element.attribute("name").value();
    nameHash = NameHash(name);
    Log(3, "Loading material : %s", name.c_str());

    colorMap = TextureHash(element, "ColorMap");
    normalMap = TextureHash(element, "NormalMap");
    reflectionMap = TextureHash(element, "ReflectionMap");
    blurrinessMap = TextureHash(element, "BlurrinessMap");
    useSkyShader = Flag(element.child("UseSkyShader").attribute("value"));
    shadeless = Value(element, "Shadeless", 0.0f);
    reflectionAmount = Value(element, "ReflectionAmount", 1.0f);
    normalStrength = Value(element, "NormalStrength", 0.5f);
    if (pugi::xml_node c = element.child("Color"))
        color = {Number(c.attribute("r"), 1.0f), Number(c.attribute("g"), 1.0f), Number(c.attribute("b"), 1.0f)};
    blurrinessMultiplier = Value(element, "BlurrinessMultiplier", 1.0f);
    pugi::xml_node glassElement = element.child("Glass");
    glass = Flag(glassElement.attribute("value"));
    refraction = Number(glassElement.attribute("refraction"), 0.0f);
}

}  // namespace caldera
