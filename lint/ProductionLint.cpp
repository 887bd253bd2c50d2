#include "lint/ProductionLint.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "lint/LintContext.h"
#include "platform/File.h"
#include "platform/Log.h"
#include "platform/Music.h"
#include "platform/QuitSignal.h"
#include "resources/AsciiCase.h"
#include "resources/ByteSource.h"
#include "resources/PackReader.h"
#include "resources/ResourceManager.h"
#include "resources/SModelLoader.h"
#include "resources/Texture.h"

namespace caldera {

namespace fs = std::filesystem;

int LintReport::Count(Severity severity) const {
    return static_cast<int>(std::count_if(diagnostics.begin(), diagnostics.end(),
                                          [&](const Diagnostic& d) { return d.severity == severity; }));
}

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool StartsWith(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

// One content file the player can load, and where its findings are filed.
struct ContentFile {
    std::string path;     // "data/models/" + lower-case name: what the player asks LoadFile for
    std::string display;  // the path on disk, or "data.pack(entry)" for a pack entry
    std::string name;     // lower-case file name
};

struct Folder {
    const char* relative;  // "data/models/"
    std::vector<ContentFile> files;
};

// The loose files of one folder as the scan sees them (regular files only,
// names lower-cased), reporting two names that differ only in case.
void ScanLoose(const std::string& root, Folder& folder, std::vector<Diagnostic>& out) {
    std::error_code error;
    fs::path path = PathFromUtf8(root + "/" + folder.relative);
    std::vector<std::string> names;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        const fs::file_status status = it->status(typeError);
        // A FIFO, a socket or a device: the player's scan passes it by.
        if (fs::is_other(status))
            Reporter(out, std::string(folder.relative) + PathToUtf8(it->path().filename()))
                .Error(1, "not a regular file (a FIFO, a socket or a device): the player never loads it");
        if (!fs::is_regular_file(status)) continue;
        names.push_back(PathToUtf8(it->path().filename()));
    }
    std::sort(names.begin(), names.end());
    std::map<std::string, std::string> byLower;
    for (const std::string& name : names) {
        const std::string lower = LowerCaseAscii(name);
        auto [it, added] = byLower.emplace(lower, name);
        const std::string display = std::string(folder.relative) + name;
        if (!added) {
            Reporter(out, display)
                .Error(1, "'" + name + "' and '" + it->second + "' differ only in case: the player registers one "
                          "name for both, '" + lower + "', and loads only one of them");
            continue;
        }
        folder.files.push_back({std::string(folder.relative) + lower, display, lower});
    }
}

// Where the player reads pack entries from; empty when nothing reads it.
std::string Reachability(const std::string& name) {
    if (name == ResourceManager::materialsFile || name == ResourceManager::timelineFile) return {};
    for (const char* folder : {ResourceManager::modelsFolder, ResourceManager::texturesFolder,
                               ResourceManager::scenesFolder}) {
        if (!StartsWith(name, folder)) continue;
        const std::string rest = name.substr(std::string(folder).size());
        if (rest.find('/') != std::string::npos)
            return "is in a sub-folder: the folder scan finds it as '" + rest.substr(rest.rfind('/') + 1) +
                   "' but the player then reads '" + std::string(folder) + rest.substr(rest.rfind('/') + 1) +
                   "', which is not there";
        return {};
    }
    if (StartsWith(name, "data/shaders/")) return {};
    std::string message = "the player never reads '" + name + "': entries are named from the production folder";
    size_t data = name.find("/data/");
    if (data != std::string::npos)
        message += " (did you mean '" + name.substr(data + 1) +
                   "'? make the pack from the production folder, or with --root)";
    else if (name == "music.mp3")
        message = "the player reads music.mp3 from the folder only, never from the pack";
    return message;
}

// The pack's entries: the reachable ones join the folders, the others and the
// case twins are reported.
void ScanPack(const std::string& root, std::vector<Folder*>& folders, std::vector<Diagnostic>& out) {
    const std::string packPath = root + "/" + ResourceManager::packName;
    Reporter report(out, ResourceManager::packName);
    std::string openError;
    auto source = FileByteSource::Open(packPath, openError);
    if (!source) {
        std::error_code error;
        if (fs::exists(fs::symlink_status(PathFromUtf8(packPath), error)))
            report.Error(1, "cannot be read (" + openError + "): the player reads nothing from it");
        return;
    }
    PackReader reader(*source);
    if (!reader.ReadHeader()) {
        report.Error(1, "not a pack (no \".KRR\" header): the player reads nothing from it");
        return;
    }
    std::map<std::string, std::pair<int, std::string>> seen;  // normalised name -> entry number, stored name
    int number = 0;
    for (;;) {
        PackEntry entry;
        PackStep step = reader.Next(entry);
        if (step == PackStep::end) break;
        ++number;
        if (step == PackStep::damaged) {
            report.Error(number, "entry " + std::to_string(number) +
                                     " is damaged: the player reads no entry from here on");
            break;
        }
        if (!reader.SkipData(entry)) {
            report.Error(number, "entry " + std::to_string(number) + " is cut short");
            break;
        }
        const std::string& name = entry.normalizedName;
        auto [it, added] = seen.emplace(name, std::make_pair(number, entry.storedName));
        if (!added) {
            report.Error(number, "entry " + std::to_string(number) + " '" + entry.storedName + "' is hidden by entry " +
                                     std::to_string(it->second.first) + " '" + it->second.second +
                                     "' (names compare without case): the player never reads it");
            continue;
        }
        std::string why = Reachability(name);
        if (!why.empty()) {
            report.Error(number, "entry " + std::to_string(number) + " '" + entry.storedName + "' " +
                                     (StartsWith(why, "the player") ? "is unreachable: " + why : why));
            continue;
        }
        for (Folder* folder : folders) {
            if (!StartsWith(name, folder->relative)) continue;
            const std::string fileName = name.substr(std::string(folder->relative).size());
            bool loose = std::any_of(folder->files.begin(), folder->files.end(),
                                     [&](const ContentFile& f) { return f.name == fileName; });
            if (!loose)
                folder->files.push_back({name, std::string(ResourceManager::packName) + "(" + name + ")", fileName});
        }
    }
}

// "cannot be read", with why when a loose file was there.
std::string CannotRead(const LoadCheck& check) {
    return check.problem.empty() ? "cannot be read" : "cannot be read (" + check.problem + ")";
}

// The name findings in a content file are filed under: the loose file's, or
// the pack entry's when the player read that.
std::string Shown(const FileBuffer& file, const char* path) {
    return file.fromPack ? std::string(ResourceManager::packName) + "(" + path + ")" : std::string(path);
}

bool Wanted(const LintOptions& options, const std::string& path) {
    return options.onlyFiles.empty() ||
           std::find(options.onlyFiles.begin(), options.onlyFiles.end(), path) != options.onlyFiles.end();
}

}  // namespace

void CheckTextureImage(const FileBuffer& file, Reporter& report) {
    if (file.size == 0) {
        report.Error(1, "empty texture file: it binds as no texture");
        return;
    }
    if (file.size > uint32_t(INT32_MAX)) {
        report.Error(1, "texture file too large to decode: it binds as no texture");
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data.data());
    const int size = static_cast<int>(file.size);
    int width = 0, height = 0, components = 0;
    if (!stbi_info_from_memory(bytes, size, &width, &height, &components)) {
        report.Error(1, std::string("cannot be decoded (") + stbi_failure_reason() + "): it binds as no texture");
        return;
    }
    // The bounds Texture::Load refuses beyond, before it decodes.
    if (width <= 0 || height <= 0 || width > Texture::kMaxSide || height > Texture::kMaxSide ||
        int64_t(width) * height > Texture::kMaxPixels) {
        report.Error(1, std::to_string(width) + " x " + std::to_string(height) +
                            " is larger than the player accepts (" + std::to_string(Texture::kMaxSide) +
                            " per side, " + std::to_string(Texture::kMaxPixels >> 20) +
                            " Mi pixels): it binds as no texture");
        return;
    }
    unsigned char* pixels = stbi_load_from_memory(bytes, size, &width, &height, &components, 4);
    if (!pixels) {
        report.Error(1, std::string("cannot be decoded (") + stbi_failure_reason() + "): it binds as no texture");
        return;
    }
    stbi_image_free(pixels);
}

LintReport LintProduction(const std::string& folder, const LintOptions& options) {
    LintReport report;
    const std::string root = folder.empty() ? std::string(".") : folder;
    std::error_code error;
    const bool hasData = fs::is_directory(PathFromUtf8(root + "/data"), error);
    // A pack that is there but cannot be read is reported, not taken for none.
    const bool hasPack = fs::exists(fs::symlink_status(PathFromUtf8(root + "/" + ResourceManager::packName), error));
    if (!hasData && !hasPack) return report;
    report.isProduction = true;
    LogSilence quiet;  // the loaders' progress lines are not findings

    std::vector<Diagnostic> all;
    Folder models{ResourceManager::modelsFolder, {}};
    Folder textures{ResourceManager::texturesFolder, {}};
    Folder scenes{ResourceManager::scenesFolder, {}};
    std::vector<Folder*> folders{&models, &textures, &scenes};
    for (Folder* f : folders) ScanLoose(root, *f, all);
    ScanPack(root, folders, all);

    // What the scan would register, and what it records but never loads.
    Inventory inventory;
    auto dispatch = [&](Folder& f, std::initializer_list<const char*> endings, std::vector<std::string>& names,
                        const char* what) {
        std::vector<ContentFile> kept;
        for (const ContentFile& file : f.files) {
            bool known = std::any_of(endings.begin(), endings.end(), [&](const char* e) { return EndsWith(file.name, e); });
            if (!known) {
                std::string list;
                for (const char* e : endings) list += (list.empty() ? "" : ", ") + std::string(e);
                Reporter(all, file.display).Warning(1, std::string("never loaded: ") + what + " files end in " + list);
                continue;
            }
            names.push_back(file.name);
            kept.push_back(file);
        }
        f.files = std::move(kept);
    };
    dispatch(textures, {".png", ".bmp", ".jpg"}, inventory.textures, "texture");
    dispatch(models, {".obj"}, inventory.models, "model");
    std::vector<std::string> sceneFileNames;
    dispatch(scenes, {".xml"}, sceneFileNames, "scene");
    for (const std::string& name : sceneFileNames) inventory.scenes.push_back(name.substr(0, name.size() - 4));

    // Names defined by the library and the scenes, before any reference is checked.
    LoadCheck materialsCheck;
    auto materialsFile = LoadFileIn(root, ResourceManager::materialsFile, materialsCheck);
    if (materialsFile) CollectMaterialNames(*materialsFile, inventory);
    std::vector<std::unique_ptr<FileBuffer>> sceneBuffers;
    std::vector<LoadCheck> sceneChecks(scenes.files.size());
    for (const ContentFile& file : scenes.files) {
        sceneBuffers.push_back(LoadFileIn(root, file.path, sceneChecks[sceneBuffers.size()]));
        inventory.sceneFiles[file.name.substr(0, file.name.size() - 4)] = file.display;
        if (sceneBuffers.back())
            CollectSceneNames(*sceneBuffers.back(), file.name.substr(0, file.name.size() - 4), inventory);
    }
    if (options.measureMusic) {
        const std::string music = root + "/music.mp3";
        uint64_t size = 0;
        std::string why;
        if (!fs::exists(fs::symlink_status(PathFromUtf8(music), error))) {
            Reporter(all, "music.mp3").Warning(1, "no music.mp3: the window opens and nothing plays");
        } else if (std::FILE* file = OpenRegularFile(music, size, why)) {
            std::fclose(file);
            if ((inventory.musicSeconds = MusicLengthSeconds(music)) < 0)
                Reporter(all, "music.mp3").Error(1, "music.mp3 cannot be decoded: nothing plays");
        } else {
            Reporter(all, "music.mp3").Error(1, "music.mp3 cannot be read (" + why + "): nothing plays");
        }
    }

    // The files themselves.
    if (!materialsCheck.problem.empty())
        Reporter(all, ResourceManager::materialsFile)
            .Error(1, CannotRead(materialsCheck) + (materialsFile ? ": the player reads the copy in the pack instead"
                                                                  : ": every object draws without a material"));
    if (materialsFile) {
        Reporter r(all, Shown(*materialsFile, ResourceManager::materialsFile));
        CheckMaterialsXml(*materialsFile, inventory, r);
    } else if (materialsCheck.problem.empty()) {
        Reporter(all, ResourceManager::materialsFile).Warning(1, "no material library: every object draws without a material");
    }
    for (size_t i = 0; i < scenes.files.size(); ++i) {
        const ContentFile& file = scenes.files[i];
        Reporter r(all, file.display);
        if (!sceneBuffers[i]) r.Error(1, CannotRead(sceneChecks[i]));
        else CheckSceneXml(*sceneBuffers[i], file.name.substr(0, file.name.size() - 4), inventory, r);
    }
    LoadCheck timelineCheck;
    auto timeline = LoadFileIn(root, ResourceManager::timelineFile, timelineCheck);
    if (!timelineCheck.problem.empty())
        Reporter(all, ResourceManager::timelineFile)
            .Error(1, CannotRead(timelineCheck) + (timeline ? ": the player reads the copy in the pack instead"
                                                            : ": nothing is shown"));
    if (timeline) {
        Reporter r(all, Shown(*timeline, ResourceManager::timelineFile));
        CheckTimelineXml(*timeline, inventory, r);
        CheckMixPass(*timeline, inventory, all);
    } else if (timelineCheck.problem.empty()) {
        Reporter(all, ResourceManager::timelineFile).Error(1, "no running order: nothing is shown");
    }
    for (const ContentFile& file : models.files) {
        if (QuitSignalled()) break;
        if (!Wanted(options, file.display)) continue;
        Reporter r(all, file.display);
        LoadCheck check;
        check.maxSize = SModelLoader::kMaxFileSize;
        if (auto buffer = LoadFileIn(root, file.path, check)) CheckObjModel(*buffer, r);
        else r.Error(1, CannotRead(check) + ": the object draws nothing");
    }
    for (const ContentFile& file : textures.files) {
        if (QuitSignalled()) break;
        if (!Wanted(options, file.display)) continue;
        Reporter r(all, file.display);
        LoadCheck check;
        if (auto buffer = LoadFileIn(root, file.path, check)) CheckTextureImage(*buffer, r);
        else r.Error(1, CannotRead(check) + ": it binds as no texture");
    }
    if (options.shaderCompiler && !QuitSignalled())
        report.shadersNotCompiled = CheckShaderPrograms(root, *options.shaderCompiler, all);

    for (Diagnostic& d : all)
        if (Wanted(options, d.file)) report.diagnostics.push_back(std::move(d));
    std::stable_sort(report.diagnostics.begin(), report.diagnostics.end(), [](const Diagnostic& a, const Diagnostic& b) {
        return a.file != b.file ? a.file < b.file : a.line < b.line;
    });
    return report;
}

}  // namespace caldera
