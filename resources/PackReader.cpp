#include "resources/PackReader.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Log.h"
#include "resources/PackFormat.h"

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
    name.resize(std::strlen(name.c_str()));  // a zero byte inside the name ends it

    entry.storedName = std::move(name);
    entry.normalizedName = NormalizePackName(entry.storedName);
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
    buffer->name = entry.storedName;
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
    auto pack = FileByteSource::Open(packPath);
    if (!pack) return;  // a player without a pack is normal
    ReadPackFileList(*pack, packPath, files);
}

void ReadPackFileList(ByteSource& pack, const std::string& packPath, std::vector<std::string>& files) {
    files.clear();
    Log(3, "Loading file list from archive");
    PackReader reader(pack);
    if (!reader.ReadHeader()) {
        Log(3, "Error reading archive %s", packPath.c_str());
        return;
    }
    PackEntry entry;
    while (reader.Next(entry) == PackStep::entry && reader.SkipData(entry)) {
        Log(3, "\tfound file: %s", entry.normalizedName.c_str());
        files.push_back(std::move(entry.normalizedName));
    }
}

std::unique_ptr<FileBuffer> LoadPackEntry(const std::string& packPath, const std::string& path) {
    auto pack = FileByteSource::Open(packPath);
    if (!pack) return nullptr;
    return LoadPackEntry(*pack, packPath, path);
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
