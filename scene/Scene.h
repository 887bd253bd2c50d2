#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "scene/Camera.h"

// The content of one XML file of data/scenes/. Constructed on the watcher
// thread; found by the timeline through ResourceManager::FindScene.
//
// Until the scene file reader lands, a scene has its path and name only.
class Scene {
public:
    // `fileName` is the lower-case name inside the scenes folder, with ".xml".
    explicit Scene(const std::string& fileName);

    std::string path;  // "data/scenes/" + file name
    std::string name;  // the file name without its extension: how the timeline names it
    // NameHash(name), cached by the first look-up; 0 means not yet computed.
    // Atomic because look-ups may run on more than one thread.
    std::atomic<uint32_t> nameHash{0};

    // Cameras by NameHash of their names; a later camera of the same name
    // wins. Filled before the scene is registered, then render thread only.
    std::vector<std::unique_ptr<Camera>> cameraList;
    std::unordered_map<uint32_t, Camera*> cameras;

    // Adds a camera and makes it the one found under its name.
    Camera* AddCamera(std::unique_ptr<Camera> camera);
    // Null when the scene has no camera of that name.
    Camera* FindCamera(uint32_t hash) const;

    // Reads `path` and fills the scene.
    void LoadXml();
};
