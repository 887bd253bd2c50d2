#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/FileTime.h"
#include "scene/Camera.h"
#include "scene/Object.h"
#include "scene/ParameterTable.h"
#include "scene/Property.h"

namespace caldera {

// The content of one XML file of data/scenes/: its objects, its cameras with
// an index by name, the spot light of the shadow map and the scene's own
// post-effect levels.
//
// Constructed and first loaded on the watcher thread before it is
// registered; from then on everything (reloads, updates, reads, and the
// frame's preparation, playback/FrameDriver.h) happens on the render thread.
class Scene {
public:
    // `fileName` is the lower-case name inside the scenes folder, with ".xml".
    explicit Scene(const std::string& fileName);
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    std::vector<Property*> properties;  // editing order
    // What the loader reads from "ShadowMap" and "PostEffects"
    // (scene/ParameterTable.h).
    static std::span<const Parameter<Scene>> ShadowMapParameters();
    static std::span<const Parameter<Scene>> PostEffectsParameters();
    PropertyVec3 shadowSourcePos;
    PropertyVec3 shadowLookAt;
    PropertyFloat shadowSpotSize;  // radians, for the shadow pass
    PropertyFloat anamorphicGlow;
    PropertyFloat lensFlare;
    PropertyFloat lensReflect;
    PropertyBool renderCubemap;
    std::string path;  // "data/scenes/" + file name
    std::vector<std::unique_ptr<Object>> objects;  // top level, document order
    FileTime fileStamp = 0;  // time of `path` at the last successful load
    bool shadowMaskEnabled = false;
    uint32_t shadowMaskHash = 0;
    std::string shadowMaskName;  // lower case
    std::string name;  // the file name without its extension: how the timeline names it
    std::vector<std::unique_ptr<Camera>> cameras;  // document order
    std::map<uint32_t, Camera*> camerasByName;     // a later camera of one name wins

    // Reads `path` and adds its content; does not empty the scene first.
    void LoadXml();
    // The same from a document in memory; false when it is not a scene (not
    // well-formed, or no "Scene" element), which adds nothing.
    bool LoadDocument(const char* text, size_t size);
    // Reloads the scene when its file's time changed; true when it did.
    // Render thread, inside the frame: what the frame still refers to stays
    // valid until ReleaseRetired.
    bool CheckReload();
    // CheckReload at most once every kPollInterval, counted from the scene's
    // construction and then from its previous poll, or a reload at once after
    // a full reload was asked for; true when it reloaded.
    // Render thread: the frame driver, for the scene it draws and for the
    // scene the running order asks for when it cannot be drawn.
    bool PollFile();
    static constexpr std::chrono::milliseconds kPollInterval{500};
    // Takes all objects and cameras out of the scene. They are freed by the
    // next ReleaseRetired, so a frame that still points at them can finish.
    void Clear();
    // Frees what Clear took out. The frame driver calls it once a frame has
    // ended, for the scene that frame showed. Render thread.
    void ReleaseRetired();

    // Adds a camera and makes it the one found under its name.
    Camera* AddCamera(std::unique_ptr<Camera> camera);
    // Null when the scene has no camera of that name.
    Camera* FindCamera(uint32_t hash) const;

    // Objects and cameras taken out by Clear and not yet freed.
    size_t RetiredCount() const { return retiredObjects.size() + retiredCameras.size(); }

private:
    // Set at construction (watcher thread, before the scene is registered),
    // then render thread only.
    std::chrono::steady_clock::time_point lastPoll = std::chrono::steady_clock::now();
    // ResourceManager::fullReloads as of the last load: a newer count reloads
    // the scene at its next poll, whatever its file's time.
    uint32_t seenFullReloads = 0;
    std::vector<std::unique_ptr<Object>> retiredObjects;
    std::vector<std::unique_ptr<Camera>> retiredCameras;
};

}  // namespace caldera
