#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <vector>

namespace caldera {

class Scene;

// The scenes in the order they were added, each under the hash of the name
// the timeline knows it by. The watcher thread appends while the render
// thread (timeline, frame driver) searches; scenes never move or die once
// appended. The list holds scenes it cannot build or look into: the scene
// layer makes them, with their own deleter.
class SceneList {
public:
    Scene* Append(uint32_t nameHash, std::shared_ptr<Scene> scene);

    // The first scene registered under `hash`, or null.
    Scene* Find(uint32_t hash) const;

    // The scenes as they are now, in order; later appends do not show.
    std::vector<Scene*> Snapshot() const;

    size_t Size() const;

private:
    struct Entry {
        uint32_t hash = 0;
        std::shared_ptr<Scene> scene;
    };
    mutable std::shared_mutex mutex;  // guards entries
    std::vector<Entry> entries;
};

}  // namespace caldera
