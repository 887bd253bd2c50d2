#include "resources/ResourceManager.h"

#include <algorithm>
#include <filesystem>

#include "platform/Log.h"
#include "resources/AsciiCase.h"
#include "resources/FileBuffer.h"
#include "resources/NameHash.h"
#include "resources/PackReader.h"

namespace caldera {

namespace {

std::string CurrentFolder() {
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    return error ? std::string(".") : folder;
}

}  // namespace

ResourceManager& ResourceManager::Instance() {
    static ResourceManager instance;
    return instance;
}

ResourceManager::ResourceManager()
    : workingFolder(CurrentFolder()),
      modelsPath(workingFolder + "/" + modelsFolder),
      texturesPath(workingFolder + "/" + texturesFolder),
      scenesPath(workingFolder + "/" + scenesFolder) {
    ReadPackFileList(PackPath(), packFiles);
}

std::string ResourceManager::PackPath() const { return workingFolder + "/" + packName; }

const std::atomic<bool> ResourceManager::kNeverStop{false};

void ResourceManager::Update(const std::atomic<bool>& stop) {
    if (!ready.load(std::memory_order_acquire)) return;
    auto stopped = [&stop] { return stop.load(std::memory_order_relaxed); };

    // The material library comes before the timeline and the folders, so that
    // everything added below can already find its materials.
    if (auto stamp = GetFileStamp(materialsFile); stamp && *stamp != materialsStamp) {
        materialsStamp = *stamp;
        ReloadMaterials();
    }
    if (stopped()) return;
    if (auto stamp = GetFileStamp(timelineFile); stamp && *stamp != timelineStamp) {
        timelineStamp = *stamp;
        ReloadTimeline();
    }
    if (stopped()) return;
    if (!DetectChanges(texturesPath, textureRecords, stop)) return;
    if (!DetectChanges(modelsPath, modelRecords, stop)) return;
    if (!DetectChanges(scenesPath, sceneRecords, stop)) return;

    // Only once all content of the first poll is loaded does the music start.
    if (hooks.startMusic) hooks.startMusic();
}

void ResourceManager::AddTexture(const FileRecord& record) {
    Log(3, "Adding texture : %s", record.name.c_str());
    auto texture = std::make_unique<Texture>();
    texture->Load(texturesFolder + record.name);
    textures.Insert(record.hash, std::move(texture));
}

void ResourceManager::AddModel(const FileRecord& record) {
    Log(3, "Adding model : %s", record.name.c_str());
    auto mesh = std::make_unique<Mesh>();
    mesh->Load(record.hash, modelsFolder + record.name, record.name);
    models.Insert(record.hash, std::move(mesh));
}

void ResourceManager::AddScene(const FileRecord& record) {
    Log(3, "Adding scene : %s", record.name.c_str());
    if (!hooks.loadScene) return;
    // The timeline names a scene by its file name without ".xml".
    const std::string name = record.name.substr(0, record.name.size() >= 4 ? record.name.size() - 4 : 0);
    scenes.Append(NameHash(name), hooks.loadScene(record.name));
}

bool ResourceManager::IsInPack(const std::string& path) const {
    const std::string key = LowerCaseAscii(path);
    return std::find(packFiles.begin(), packFiles.end(), key) != packFiles.end();
}

void ResourceManager::ReloadMaterials() {
    LoadCheck check;
    auto buffer = LoadFile(materialsFile, check);
    // A library that cannot be read (no permission, a folder in its place)
    // says so, rather than leave every object without a word.
    if (!check.problem.empty())
        Log(3, "Cannot read %s: %s; %s", materialsFile, check.problem.c_str(),
            buffer ? "reading the copy in the pack" : "the materials stay as they were");
    if (!buffer || buffer->size == 0) return;
    materials.Publish(MaterialSet::Parse(buffer->data.data(), buffer->size));
}

void ResourceManager::ReloadTimeline() {
    if (hooks.loadTimeline) hooks.loadTimeline(timelineFile);
}

}  // namespace caldera
