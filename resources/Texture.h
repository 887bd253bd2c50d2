#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// One image from data/textures/. Loaded on the watcher thread; the render
// thread binds it as none while `loading` is set.
//
// Until the image decoder lands, Load only reads the file and keeps its size.
class Texture {
public:
    // Watcher -> render thread: set from creation or the start of a reload
    // until the read has finished; the watcher writes the other fields only
    // while it is set.
    std::atomic<bool> loading{true};
    std::string path;       // "data/textures/" + file name
    uint32_t fileSize = 0;  // bytes read by the last Load; 0 when nothing could be read

    // Reads `path` (loose file or pack entry) on the calling thread.
    void Load(const std::string& path);

    // Loads the stored path again after its file changed; watcher thread.
    void Reload();
};
