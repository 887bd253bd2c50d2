#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileTime.h"
#include "resources/Mesh.h"
#include "resources/FileRecord.h"
#include "resources/MaterialLibrary.h"
#include "resources/Registry.h"
#include "resources/SceneList.h"
#include "resources/Texture.h"

namespace caldera {

class Scene;

// What a content poll sets off in the layers above the store: those layers
// hand these in before the watcher starts (the player, the capture tool,
// tests). One left empty does nothing. Called on the watcher thread.
struct ContentHooks {
    // Builds and loads the scene of one file of the scenes folder
    // (`fileName` lower case, with ".xml").
    std::function<std::shared_ptr<Scene>(const std::string& fileName)> loadScene;
    // Rereads the running order from `path`.
    std::function<void(const std::string& path)> loadTimeline;
    // Starts the music; every poll calls it, and only the first call plays.
    std::function<void()> startMusic;
};

// Owner of all loaded content and of the knowledge of where it lives: the
// data/ folders under the working folder, and the pack data.pack beside them.
// The watcher thread drives it through Update; the render thread only looks
// resources up. Nothing is ever unloaded.
class ResourceManager {
public:
    // The process-wide manager, on the current folder at its first use.
    static ResourceManager& Instance();

    // A manager on the current folder, reading the pack's file list once.
    // Content is read with paths relative to the current folder, so that
    // folder must not change while the manager is in use.
    ResourceManager();
    ResourceManager(const ResourceManager&) = delete;
    ResourceManager& operator=(const ResourceManager&) = delete;

    // Render thread -> watcher: set once the first frame has been presented.
    std::atomic<bool> ready{false};

    // Set before the watcher starts; constant while it runs.
    ContentHooks hooks;

    static constexpr const char* modelsFolder = "data/models/";
    static constexpr const char* texturesFolder = "data/textures/";
    static constexpr const char* scenesFolder = "data/scenes/";
    static constexpr const char* materialsFile = "data/materials.xml";
    static constexpr const char* timelineFile = "data/timeline.xml";
    static constexpr const char* packName = "data.pack";

    // Set at construction, constant afterwards: any thread may read them.
    const std::string workingFolder;
    const std::string modelsPath;    // workingFolder + "/" + modelsFolder
    const std::string texturesPath;  // workingFolder + "/" + texturesFolder
    const std::string scenesPath;    // workingFolder + "/" + scenesFolder

    // Watcher writes, render thread reads; see Registry and SceneList.
    std::vector<FileRecord> textureRecords;  // watcher thread only
    Registry<Texture> textures;
    std::vector<FileRecord> modelRecords;  // watcher thread only
    Registry<Mesh> models;
    // Replaced whole on each reload of the library; see MaterialLibrary.
    MaterialLibrary materials;
    std::vector<FileRecord> sceneRecords;  // watcher thread only
    SceneList scenes;

    // The pack's normalised entry names, read once at construction; constant
    // afterwards, so any thread may read them.
    std::vector<std::string> packFiles;

    // Last seen times of the material library and the timeline; watcher only.
    FileTime materialsStamp = 0;
    FileTime timelineStamp = 0;

    // A full reload: every known file's time is forgotten, so the next
    // Update reads each again as if it had been saved, and the reload count
    // goes up, which every scene (polling its own file on the render thread)
    // takes as a save of its file. Watcher thread.
    void ForgetFileTimes();
    // How many full reloads were asked for; any thread.
    std::atomic<uint32_t> fullReloads{0};

    // One poll: the material library, the timeline, then the texture, model
    // and scene folders, then the music is started (through `hooks`). Does nothing while `ready`
    // is false. Watcher thread.
    //
    // `stop` is the watcher's stop request (set by the render thread at quit):
    // the poll looks at it between any two items it loads and returns at
    // once when it is set, leaving the rest (and the music) for a poll that
    // never comes. So a quit waits for one item, never for a whole pack.
    void Update(const std::atomic<bool>& stop);
    void Update() { Update(kNeverStop); }
    static const std::atomic<bool> kNeverStop;

    // Create, load and register one resource for a new record; watcher thread.
    void AddTexture(const FileRecord& record);
    void AddModel(const FileRecord& record);
    void AddScene(const FileRecord& record);

    // Look-ups for any thread: null when nothing is registered under `hash`.
    Texture* FindTexture(uint32_t hash) const { return textures.Find(hash); }
    Mesh* FindModel(uint32_t hash) const { return models.Find(hash); }
    // The material stays valid while the returned pointer is held, even across
    // a reload of the library; hold it for a draw, not longer.
    std::shared_ptr<const Material> FindMaterial(uint32_t hash) const { return materials.Find(hash); }
    // The first scene, in the order they were added, named `hash`.
    Scene* FindScene(uint32_t hash) const { return scenes.Find(hash); }

    // Whether `path`, ASCII lower-cased, is one of the pack's entries.
    // Backslashes are not turned into '/' here.
    bool IsInPack(const std::string& path) const;

    // workingFolder + "/" + packName.
    std::string PackPath() const;

    // Rereads data/materials.xml and replaces all materials; keeps the
    // previous ones when the file is empty, not XML or has no "Materials".
    // Watcher thread.
    void ReloadMaterials();
    // Rereads data/timeline.xml through `hooks`; watcher thread.
    void ReloadTimeline();

    // Hot reload (HotReload.cpp); watcher thread unless noted.

    // The loose files of one folder (sub-folders are skipped), then the pack
    // entries under the same relative folder that no loose file hides, found
    // by their bare file names at any depth.
    std::vector<FileRecord> ScanFolder(const std::string& folderPath) const;
    // Scans `folderPath`; adds what is new to `knownRecords` and to the
    // registries, reloads what changed. Records are never removed. Returns
    // false, part-way, as soon as `stop` is set.
    bool DetectChanges(const std::string& folderPath, std::vector<FileRecord>& knownRecords,
                       const std::atomic<bool>& stop = kNeverStop);
    // Dispatch by the name's ending: ".png", ".bmp", ".jpg" textures, ".obj"
    // models, ".xml" scenes (added only: a scene polls its own file).
    void AddResource(const FileRecord& record);
    void ReloadResource(const FileRecord& record);

    // The last-write time of a content file, or of the pack for a file that
    // exists only there; none when it is in neither. Any thread.
    std::optional<FileTime> GetFileStamp(const std::string& path) const;
};

}  // namespace caldera
