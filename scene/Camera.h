#pragma once

#include <string>

// A named view of a scene. Only its name exists until the scene file reader
// fills in the rest.
class Camera {
public:
    std::string name;
};
