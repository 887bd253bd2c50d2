#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <vector>

#include "scene/Scene.h"

// The scenes in the order they were added. The watcher thread appends while
// the render thread (timeline, frame driver) searches; scenes never move or
// die once appended.
class SceneList {
public:
    Scene* Append(std::unique_ptr<Scene> scene);

    // The first scene whose name hashes to `hash`, or null. Caches each
    // scene's hash on first use.
    Scene* Find(uint32_t hash) const;

    // The scenes as they are now, in order; later appends do not show.
    std::vector<Scene*> Snapshot() const;

    size_t Size() const;

private:
    mutable std::shared_mutex mutex;  // guards scenes
    std::vector<std::unique_ptr<Scene>> scenes;
};
