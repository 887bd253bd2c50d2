#include "resources/FileBuffer.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/File.h"
#include "platform/FileCase.h"
#include "resources/ByteSource.h"
#include "resources/PackReader.h"
#include "resources/ResourceManager.h"

namespace caldera {

namespace {

std::unique_ptr<FileBuffer> ReadWhole(ByteSource& file) {
    // The size field is 32 bits; a larger file cannot be handed out whole.
    if (file.Remaining() >= std::numeric_limits<uint32_t>::max()) return nullptr;
    auto buffer = std::make_unique<FileBuffer>();
    buffer->size = static_cast<uint32_t>(file.Remaining());
    buffer->data.assign(size_t(buffer->size) + 1, 0);
    // Cut short while being rewritten: half a file would load as damaged
    // content; the next change of its time reloads it whole.
    if (file.Read(buffer->data.data(), buffer->size) != buffer->size) return nullptr;
    return buffer;
}

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB"; }

// A loose file that can be opened always wins, whatever the times; only one
// that cannot be opened is looked for in the pack.
std::unique_ptr<FileBuffer> Load(const std::string& loosePath, const std::string& packPath, const std::string& path,
                                 LoadCheck& check) {
    check.problem.clear();
    std::string error;
    const std::string matched = MatchFileCase(loosePath);
    if (auto loose = FileByteSource::Open(matched, error)) {
        // The size is the open file's, so a file swapped in afterwards
        // cannot slip past it.
        if (loose->Remaining() > check.maxSize) {
            check.problem = "it is " + MiB(loose->Remaining()) + ", larger than the " + MiB(check.maxSize) +
                            " the player reads";
            return nullptr;
        }
        return ReadWhole(*loose);
    }
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(matched), ec))) check.problem = error;
    return LoadPackEntry(packPath, path, check.maxSize);
}

}  // namespace

std::unique_ptr<FileBuffer> LoadFile(const std::string& path) {
    LoadCheck check;
    return LoadFile(path, check);
}

std::unique_ptr<FileBuffer> LoadFile(const std::string& path, const std::string& packPath) {
    LoadCheck check;
    return Load(path, packPath, path, check);
}

std::unique_ptr<FileBuffer> LoadFileIn(const std::string& folder, const std::string& path) {
    LoadCheck check;
    return LoadFileIn(folder, path, check);
}

std::unique_ptr<FileBuffer> LoadFile(const std::string& path, LoadCheck& check) {
    return Load(path, ResourceManager::Instance().PackPath(), path, check);
}

std::unique_ptr<FileBuffer> LoadFileIn(const std::string& folder, const std::string& path, LoadCheck& check) {
    return Load(folder + "/" + path, folder + "/" + ResourceManager::packName, path, check);
}

}  // namespace caldera
