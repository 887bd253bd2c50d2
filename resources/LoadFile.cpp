#include "resources/FileBuffer.h"

#include <limits>

#include "platform/FileCase.h"
#include "resources/ByteSource.h"
#include "resources/PackReader.h"
#include "resources/ResourceManager.h"

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

}  // namespace

std::unique_ptr<FileBuffer> LoadFile(const std::string& path) {
    return LoadFile(path, ResourceManager::Instance().PackPath());
}

std::unique_ptr<FileBuffer> LoadFile(const std::string& path, const std::string& packPath) {
    // A loose file that can be opened always wins, whatever the times; only
    // one that cannot be opened is looked for in the pack.
    if (auto loose = FileByteSource::Open(MatchFileCase(path))) return ReadWhole(*loose);
    return LoadPackEntry(packPath, path);
}

std::unique_ptr<FileBuffer> LoadFileIn(const std::string& folder, const std::string& path) {
    if (auto loose = FileByteSource::Open(MatchFileCase(folder + "/" + path))) return ReadWhole(*loose);
    return LoadPackEntry(folder + "/" + ResourceManager::packName, path);
}
