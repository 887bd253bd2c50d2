#pragma once

#include <atomic>
#include <cstdint>
#include <string>

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

    // Reads `path` and fills the scene.
    void LoadXml();
};
