#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// One model from data/models/. Loaded on the watcher thread when first added;
// a changed file is re-read by the render thread at the mesh's next draw.
//
// Until the OBJ loader lands, Load only records where the model comes from.
class Mesh {
public:
    uint32_t hash = 0;  // NameHash(name), the registry key
    std::string path;   // "data/models/" + file name
    std::string name;   // lower-case file name

    // Watcher -> render thread: the file changed; re-read it before drawing.
    std::atomic<bool> reloadRequested{false};

    void Load(uint32_t hash, const std::string& path, const std::string& name);
};
