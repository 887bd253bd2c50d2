#include "playback/Timeline.h"

#include <pugixml.hpp>

#include <cstdlib>

#include "platform/Log.h"
#include "resources/FileBuffer.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/XmlValue.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

// A child's "value" as the C library reads numbers (text after the number is
// ignored, no number gives 0); a missing child or attribute keeps `fallback`.
float ValueOf(const pugi::xml_node& parent, const char* name, float fallback) {
    pugi::xml_node child = parent.child(name);
    if (!child) return fallback;
    pugi::xml_attribute value = child.attribute("value");
    if (!value) return fallback;
    return ParseFloat(value.value());
}

}  // namespace

Timeline& Timeline::Instance() {
    static Timeline instance;
    return instance;
}

bool Timeline::Parse(const char* text, size_t size, EntryList& entries) {
    pugi::xml_document document;
    if (!document.load_buffer(text, size)) return false;
    pugi::xml_node root = document.child("TimeLine");
    if (!root) return false;

    EntryList parsed;
    for (pugi::xml_node node : root.children()) {
        if (std::string_view(node.name()) != "TimeLineObject") continue;
        const char* sceneName = node.attribute("scene").value();
        if (!*sceneName) continue;
        TimelineEntry entry;
        entry.frameStart = ValueOf(node, "FrameStart", entry.frameStart);
        entry.frameEnd = ValueOf(node, "FrameEnd", entry.frameEnd);
        entry.loopTimes = ValueOf(node, "LoopTimes", entry.loopTimes);
        entry.duration = ValueOf(node, "Duration", entry.duration);
        entry.timeStart = ValueOf(node, "TimeStart", entry.timeStart);
        entry.sceneName = sceneName;
        entry.cameraName = node.attribute("camera").value();
        parsed.push_back(std::move(entry));
    }
    entries = std::move(parsed);
    return true;
}

void Timeline::Load(const std::string& path) {
    std::unique_ptr<FileBuffer> file = LoadFile(path);
    if (!file || file->size == 0) return;
    auto entries = std::make_shared<EntryList>();
    if (!Parse(file->data.data(), file->size, *entries)) return;

    Log(3, "Reloading %s", path.c_str());
    // The new list is complete before anyone can see it; the old one lives on
    // while the render thread still holds it.
    std::lock_guard<std::mutex> lock(publishMutex);
    published = std::move(entries);
}

std::shared_ptr<Timeline::EntryList> Timeline::Current() const {
    std::lock_guard<std::mutex> lock(publishMutex);
    return published;
}

TimelineEntry* Timeline::FindEntry(double t, Scene** scheduled) {
    if (scheduled) *scheduled = nullptr;
    inUse = Current();
    for (TimelineEntry& entry : *inUse) {
        if (!entry.scene && !entry.sceneName.empty())
            entry.scene = ResourceManager::Instance().FindScene(NameHash(entry.sceneName));
        if (!entry.scene) continue;
        // Cameras come and go with scene reloads: look again every time.
        entry.camera = entry.scene->FindCamera(NameHash(entry.cameraName));
        float end = entry.timeStart + entry.duration;
        const bool holdsT = static_cast<double>(entry.timeStart) <= t && t < static_cast<double>(end);
        if (holdsT && scheduled && !*scheduled) *scheduled = entry.scene;
        if (entry.camera && holdsT) return &entry;
    }
    return nullptr;
}

}  // namespace caldera
