#include "resources/PackReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

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

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        SkipData(entry);
        return nullptr;
    }
    stream.next_out = reinterpret_cast<Bytef*>(buffer->data.data());
    stream.avail_out = entry.uncompressedSize;  // the zero byte after it stays out of reach

    // Stream the compressed bytes through a small window rather than
    // allocating C bytes up front.
    uint8_t chunk[16384];
    uint64_t unread = entry.compressedSize;
    int status = Z_OK;
    for (;;) {
        if (stream.avail_in == 0) {
            if (unread == 0) break;  // the stream has not ended within C bytes
            size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof(chunk), unread));
            size_t got = source.Read(chunk, want);
            unread -= want;
            if (got != want) break;  // the file ended inside the entry
            stream.next_in = chunk;
            stream.avail_in = static_cast<uInt>(got);
        }
        status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_STREAM_END) break;
        if (status == Z_OK) continue;
        // Z_BUF_ERROR with all input used: more input may still fit (the
        // checksum after a full buffer). With input left, the stream holds
        // more than the declared size. Anything else is a damaged stream.
        if (status == Z_BUF_ERROR && stream.avail_in == 0) continue;
        break;
    }
    inflateEnd(&stream);
    // Consume what is left of the entry (bytes after the stream's end).
    if (unread > 0 && !source.Skip(unread)) return nullptr;
    if (status != Z_STREAM_END) return nullptr;
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
