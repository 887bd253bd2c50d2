#include "resources/PackReader.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/File.h"
#include "platform/FileTime.h"
#include "platform/Log.h"
#include "resources/PackFormat.h"

namespace caldera {

namespace {

// A field cut off by the end of the source reads as 0, which ends the walk.
uint32_t ReadU32(ByteSource& source) {
    uint8_t bytes[4] = {};
    if (source.Read(bytes, 4) != 4) return 0;
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

bool DeclaredSizeIsPossible(const PackEntry& entry) {
    return entry.uncompressedSize <= kMaxPackEntrySize &&
           entry.uncompressedSize <= uint64_t(entry.compressedSize) * kMaxInflateRatio;
}

// The offsets of the last walk of one pack, with what the pack was then. A
// pack rewritten while the player runs (an author's new pack) differs in
// size or time, or holds another name at a kept offset: it is walked again.
struct PackIndex {
    uint64_t size = 0;
    FileTime time = 0;
    PackOffsets offsets;
};

// The indexes of the packs walked so far, by pack path. Look-ups come from
// the watcher and the render thread; an index is published whole and never
// changed afterwards, so a reader needs the lock only to take its pointer.
class PackIndexes {
public:
    std::shared_ptr<const PackIndex> Find(const std::string& packPath) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = byPath.find(packPath);
        return it == byPath.end() ? nullptr : it->second;
    }
    void Store(const std::string& packPath, std::shared_ptr<const PackIndex> index) {
        std::lock_guard<std::mutex> lock(mutex);
        byPath[packPath] = std::move(index);
    }

private:
    std::mutex mutex;  // guards byPath
    std::unordered_map<std::string, std::shared_ptr<const PackIndex>> byPath;
};

PackIndexes& Indexes() {
    static PackIndexes indexes;
    return indexes;
}

// The walk of ReadPackFileList; `files` and `offsets` may each be null.
// False when the header is wrong.
bool WalkPack(ByteSource& pack, std::vector<std::string>* files, PackOffsets* offsets, bool log) {
    const uint64_t start = pack.Remaining();
    PackReader reader(pack);
    if (!reader.ReadHeader()) return false;
    PackEntry entry;
    for (;;) {
        const uint64_t offset = start - pack.Remaining();
        if (reader.Next(entry) != PackStep::entry || !reader.SkipData(entry)) break;
        if (log) Log(3, "\tfound file: %s", entry.normalizedName.c_str());
        // The first entry of a name is the one a look-up finds.
        if (offsets) offsets->try_emplace(entry.normalizedName, offset);
        if (files) files->push_back(std::move(entry.normalizedName));
    }
    return true;
}

// Walks the pack at `packPath` again for its offsets and keeps them; null
// when it cannot be opened or its header is wrong.
std::shared_ptr<const PackIndex> IndexPack(const std::string& packPath) {
    auto pack = FileByteSource::Open(packPath);
    if (!pack) return nullptr;
    auto index = std::make_shared<PackIndex>();
    index->size = pack->Remaining();
    index->time = LastWriteTime(packPath).value_or(0);
    if (!WalkPack(*pack, nullptr, &index->offsets, false)) return nullptr;
    Indexes().Store(packPath, index);
    return index;
}

// The entry at `offset` of the pack, inflated, when its name is `key`; null
// when another name (or none) is there: the pack changed once more.
std::unique_ptr<FileBuffer> LoadPackEntryAt(const std::string& packPath, uint64_t offset, const std::string& key,
                                            uint64_t maxSize) {
    auto pack = FileByteSource::Open(packPath);
    if (!pack) return nullptr;
    PackReader reader(*pack);
    PackEntry entry;
    if (!reader.ReadHeader()) {
        Log(3, "Error reading archive %s", packPath.c_str());
        return nullptr;
    }
    if (offset < kPackHeaderSize || !pack->Skip(offset - kPackHeaderSize) || reader.Next(entry) != PackStep::entry ||
        entry.normalizedName != key || entry.uncompressedSize > maxSize)
        return nullptr;
    return reader.ReadData(entry);
}

}  // namespace

bool PackReader::ReadHeader() {
    char header[kPackHeaderSize] = {};
    size_t got = source.Read(header, sizeof(header));
    return got >= sizeof(kPackMagic) && std::memcmp(header, kPackMagic, sizeof(kPackMagic)) == 0;
}

PackStep PackReader::Next(PackEntry& entry) {
    entry = PackEntry{};
    if (source.Remaining() == 0) return PackStep::end;

    uint32_t nameLength = ReadU32(source);
    if (nameLength > source.Remaining()) return PackStep::damaged;
    std::string name(nameLength, '\0');
    if (source.Read(name.data(), nameLength) != nameLength) return PackStep::damaged;
    ScramblePackName(name);
    // A zero byte inside the name ends it for the player.
    entry.normalizedName = NormalizePackName(name.c_str());
    entry.storedName = std::move(name);
    entry.compressedSize = ReadU32(source);
    entry.uncompressedSize = ReadU32(source);
    if (entry.compressedSize == 0 || entry.compressedSize > source.Remaining()) return PackStep::damaged;
    return PackStep::entry;
}

bool PackReader::SkipData(const PackEntry& entry) { return source.Skip(entry.compressedSize); }

std::unique_ptr<FileBuffer> PackReader::ReadData(const PackEntry& entry) {
    if (!DeclaredSizeIsPossible(entry)) {
        SkipData(entry);
        return nullptr;
    }

    auto buffer = std::make_unique<FileBuffer>();
    buffer->name = entry.storedName.c_str();
    buffer->fromPack = true;
    buffer->size = entry.uncompressedSize;
    buffer->data.assign(size_t(entry.uncompressedSize) + 1, 0);

    // The inflater wants the whole stream at once; C was checked against the
    // bytes left, so this allocation is bounded by the file.
    std::vector<uint8_t> compressed(entry.compressedSize);
    if (source.Read(compressed.data(), compressed.size()) != compressed.size()) return nullptr;  // the file ended inside the entry

    libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
    if (!inflater) return nullptr;
    // Bytes after the stream's end inside the entry are allowed; a stream
    // that does not end within C bytes, holds more than U bytes, or fails its
    // checksum is damaged. The zero byte after the data stays out of reach.
    size_t consumed = 0;
    size_t produced = 0;
    libdeflate_result result =
        libdeflate_zlib_decompress_ex(inflater, compressed.data(), compressed.size(), buffer->data.data(),
                                      entry.uncompressedSize, &consumed, &produced);
    libdeflate_free_decompressor(inflater);
    if (result != LIBDEFLATE_SUCCESS) return nullptr;
    return buffer;
}

void ReadPackFileList(const std::string& packPath, std::vector<std::string>& files) {
    files.clear();
    std::string error;
    auto pack = FileByteSource::Open(packPath, error);
    if (!pack) {
        // A player without a pack is normal; one whose pack is there but
        // cannot be read is told why it finds nothing in it.
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(packPath), ec)))
            Log(3, "Cannot read %s: %s; nothing is read from it", packPath.c_str(), error.c_str());
        return;
    }
    auto index = std::make_shared<PackIndex>();
    index->size = pack->Remaining();
    index->time = LastWriteTime(packPath).value_or(0);
    ReadPackFileList(*pack, packPath, files, &index->offsets);
    Indexes().Store(packPath, std::move(index));
}

void ReadPackFileList(ByteSource& pack, const std::string& packPath, std::vector<std::string>& files,
                      PackOffsets* offsets) {
    files.clear();
    if (offsets) offsets->clear();
    Log(3, "Loading file list from archive");
    if (!WalkPack(pack, &files, offsets, true)) Log(3, "Error reading archive %s", packPath.c_str());
}

std::unique_ptr<FileBuffer> LoadPackEntry(const std::string& packPath, const std::string& path, uint64_t maxSize) {
    auto pack = FileByteSource::Open(packPath);
    if (!pack) return nullptr;
    // The pack's size and time, taken before its entries are read: a pack
    // that changes afterwards is walked again at the next look-up.
    const uint64_t size = pack->Remaining();
    const FileTime time = LastWriteTime(packPath).value_or(0);
    PackReader reader(*pack);
    if (!reader.ReadHeader()) {
        Log(3, "Error reading archive %s", packPath.c_str());
        return nullptr;
    }

    const std::string key = NormalizePackName(path);
    std::shared_ptr<const PackIndex> index = Indexes().Find(packPath);
    if (index && index->size == size && index->time == time) {
        auto it = index->offsets.find(key);
        PackEntry entry;
        // Another name at the kept offset means the pack changed within the
        // resolution of its time; so may a miss, which therefore walks, as
        // every look-up once did.
        if (it != index->offsets.end() && it->second >= kPackHeaderSize && pack->Skip(it->second - kPackHeaderSize) &&
            reader.Next(entry) == PackStep::entry && entry.normalizedName == key)
            return entry.uncompressedSize > maxSize ? nullptr : reader.ReadData(entry);
    }
    pack.reset();
    index = IndexPack(packPath);
    if (!index) return nullptr;
    auto it = index->offsets.find(key);
    if (it == index->offsets.end()) return nullptr;
    return LoadPackEntryAt(packPath, it->second, key, maxSize);
}

std::unique_ptr<FileBuffer> LoadPackEntry(ByteSource& pack, const std::string& packPath, const std::string& path) {
    const std::string key = NormalizePackName(path);
    PackReader reader(pack);
    if (!reader.ReadHeader()) {
        Log(3, "Error reading archive %s", packPath.c_str());
        return nullptr;
    }
    PackEntry entry;
    while (reader.Next(entry) == PackStep::entry) {
        // The first match wins, damaged or not: later twins are never reached.
        if (entry.normalizedName == key) return reader.ReadData(entry);
        if (!reader.SkipData(entry)) return nullptr;
    }
    return nullptr;
}

}  // namespace caldera
