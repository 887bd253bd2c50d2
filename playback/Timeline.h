#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace caldera {

class Scene;
class Camera;

// One shot of the running order: a scene seen through one of its cameras
// over the window [timeStart, timeStart + duration) of music time, playing
// the key frames frameStart to frameEnd across it.
struct TimelineEntry {
    // Resolved by the render thread on look-up; not owned.
    Scene* scene = nullptr;     // found once, then kept
    Camera* camera = nullptr;   // refreshed on every look-up

    float frameStart = -25;
    float frameEnd = 50;
    float loopTimes = 1;  // read and kept; playback ignores it
    float duration = 5;
    float timeStart = 0;
    std::string sceneName;   // hashed as written: must be lower case to match
    std::string cameraName;
};

// The running order, read from data/timeline.xml. The watcher thread
// replaces the whole list; the render thread looks entries up every frame.
class Timeline {
public:
    static Timeline& Instance();

    using EntryList = std::vector<TimelineEntry>;

    // Reads `path` (loose or packed) and replaces the list. An unreadable,
    // empty or malformed file, or one without "TimeLine", keeps the current
    // list. Watcher thread.
    void Load(const std::string& path);

    // Parses one document into `entries`; false (and `entries` untouched)
    // when it is not a usable timeline.
    static bool Parse(const char* text, size_t size, EntryList& entries);

    // The first entry, in file order, whose scene and camera resolve and
    // whose window holds `t`; null when there is none. The entry stays valid
    // until the next FindEntry call, even when the list is replaced meanwhile.
    // `scheduled`, when given, receives the scene of the first entry whose
    // scene resolves and whose window holds `t`, whether its camera resolves
    // or not (null when none): the scene the running order asks for now.
    // Render thread only.
    TimelineEntry* FindEntry(double t, Scene** scheduled = nullptr);

    // The list the render thread sees next; for tests and tools.
    std::shared_ptr<EntryList> Current() const;

private:
    // Guards `published`, swapped whole by the watcher; readers copy the
    // pointer and then walk their copy without the lock.
    mutable std::mutex publishMutex;
    std::shared_ptr<EntryList> published = std::make_shared<EntryList>();

    // The list the last FindEntry walked, kept alive for its returned entry.
    // Render thread only.
    std::shared_ptr<EntryList> inUse;
};

}  // namespace caldera
