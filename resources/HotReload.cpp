// Folder scans, change detection and file stamps: content is polled by
// last-write time, there are no file-system notifications.
#include "resources/HotReload.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/File.h"
#include "platform/Log.h"
#include "resources/AsciiCase.h"
#include "resources/NameHash.h"
#include "platform/FileCase.h"
#include "resources/ResourceManager.h"

namespace caldera {

namespace fs = std::filesystem;

namespace {

bool IsTextureName(std::string_view name) {
    return name.ends_with(".png") || name.ends_with(".bmp") || name.ends_with(".jpg");
}

}  // namespace

FileTime ReadFileTime(const std::string& path) {
    int error = 0;
    if (auto time = LastWriteTime(path, &error)) return *time;
    Log(0, "Could not open file, error %ul", static_cast<unsigned>(error));
    Log(0, "Could not get time for file %s", path.c_str());
    return kUnreadableFileTime;
}

std::vector<FileRecord> ResourceManager::ScanFolder(const std::string& folderPath) const {
    std::vector<FileRecord> records;
    std::unordered_set<std::string> names;

    // A missing or unreadable folder lists nothing, silently.
    std::error_code error;
    for (fs::directory_iterator it(PathFromUtf8(folderPath), error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        // Sub-folders are never content.
        if (!it->is_regular_file(entryError)) continue;
        fs::file_time_type time = it->last_write_time(entryError);
        if (entryError) continue;  // gone between the listing and now
        std::string name = LowerCaseAscii(PathToUtf8(it->path().filename()));
        // WOOD.PNG beside wood.png: one record, or the two times would read
        // as a change on every scan.
        if (!names.insert(name).second) continue;
        records.push_back({NameHash(name), std::move(name), ToFileTime(time)});
    }

    // Pack entries of the same folder, relative to the working folder.
    const std::string root = workingFolder + "/";
    if (!folderPath.starts_with(root) || folderPath.size() == root.size()) return records;
    const std::string relative = folderPath.substr(root.size());

    std::optional<FileTime> packTime;  // read once per scan, and only if needed
    for (const std::string& packed : packFiles) {
        if (!packed.starts_with(relative)) continue;
        std::string name = packed.substr(packed.find_last_of("/\\") + 1);
        // A loose file hides its pack twin; the pack's first twin hides later ones.
        if (name.empty() || !names.insert(name).second) continue;
        if (!packTime) packTime = ReadFileTime(PackPath());
        records.push_back({NameHash(name), std::move(name), *packTime});
    }
    return records;
}

bool ResourceManager::DetectChanges(const std::string& folderPath, std::vector<FileRecord>& knownRecords,
                                    const std::atomic<bool>& stop) {
    // The first known record of each hash, by hash: a search of the list for
    // every scanned file would make a folder (or pack) of n files cost n * n
    // on every poll.
    std::unordered_map<uint32_t, size_t> firstKnown;
    firstKnown.reserve(knownRecords.size());
    for (size_t i = 0; i < knownRecords.size(); ++i) firstKnown.try_emplace(knownRecords[i].hash, i);

    for (const FileRecord& fresh : ScanFolder(folderPath)) {
        if (stop.load(std::memory_order_relaxed)) return false;
        auto known = firstKnown.find(fresh.hash);
        if (known != firstKnown.end()) {
            FileRecord& record = knownRecords[known->second];
            if (record.writeTime == fresh.writeTime) continue;
            Log(3, "Detected a change in recource %s", fresh.name.c_str());
            record.writeTime = fresh.writeTime;
            ReloadResource(fresh);
        } else {
            Log(3, "New recource detected : %s", fresh.name.c_str());
            FileRecord record{NameHash(fresh.name), fresh.name, fresh.writeTime};
            knownRecords.push_back(record);
            firstKnown.try_emplace(record.hash, knownRecords.size() - 1);
            AddResource(record);
        }
    }
    return true;
}

void ResourceManager::AddResource(const FileRecord& record) {
    // The ending alone decides: a ".png" in the models folder is still a
    // texture, read from the textures folder.
    FileRecord lower = record;
    lower.name = LowerCaseAscii(record.name);
    if (IsTextureName(lower.name)) AddTexture(lower);
    else if (lower.name.ends_with(".obj")) AddModel(lower);
    else if (lower.name.ends_with(".xml")) AddScene(lower);
}

void ResourceManager::ReloadResource(const FileRecord& record) {
    const std::string name = LowerCaseAscii(record.name);
    // Nothing may be registered under the hash when two names collide and
    // the first was of another kind: then there is nothing to reload.
    if (IsTextureName(name)) {
        Log(3, "Reloading texture : %s", name.c_str());
        if (Texture* texture = textures.Find(record.hash)) texture->Reload();
    } else if (name.ends_with(".obj")) {
        Log(3, "Reloading model : %s", name.c_str());
        if (Mesh* mesh = models.Find(record.hash)) mesh->reloadRequested.store(true, std::memory_order_release);
    }
}

void ResourceManager::ForgetFileTimes() {
    // No file has this time: every comparison reads as a change.
    constexpr FileTime kForgotten = ~FileTime{0};
    materialsStamp = kForgotten;
    timelineStamp = kForgotten;
    for (std::vector<FileRecord>* records : {&textureRecords, &modelRecords, &sceneRecords})
        for (FileRecord& record : *records) record.writeTime = kForgotten;
    fullReloads.fetch_add(1, std::memory_order_release);
}

std::optional<FileTime> ResourceManager::GetFileStamp(const std::string& path) const {
    // The same order as a load: a loose file, whatever the case of its
    // name, wins over the pack, or an edit to "Timeline.xml" beside a pack
    // holding "timeline.xml" would be read but never noticed. Where the
    // folder is gone (a packed release) the case match fails at once.
    if (auto time = LastWriteTime(path)) return time;
    if (std::string matched = MatchFileCase(path); matched != path)
        if (auto time = LastWriteTime(matched)) return time;
    if (IsInPack(path)) return ReadFileTime(PackPath());
    return std::nullopt;
}

}  // namespace caldera
