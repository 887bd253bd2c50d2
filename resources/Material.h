#pragma once

#include <string>

// A named set of textures and surface values, keyed by NameHash(name) in the
// ResourceManager. Only the name exists until the material library is read.
struct Material {
    std::string name;
};
