#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "resources/ByteSource.h"
#include "resources/FileBuffer.h"

namespace caldera {

// One entry's header; its data follows in the source.
struct PackEntry {
    // Unscrambled, whole as stored: a zero byte inside it is kept, so that a
    // tool can refuse "ok\0/../x" rather than take it for "ok".
    std::string storedName;
    // NormalizePackName of the stored name up to its first zero byte: the
    // name the player looks up.
    std::string normalizedName;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
};

enum class PackStep {
    entry,    // an entry header was read; its data is next
    end,      // the source ended cleanly between entries
    damaged,  // a header or size runs past the end, or C is 0: nothing more can be read
};

// Walks a pack from its header to its end. Reads only what the source holds:
// every size is checked against what remains before anything is read or
// allocated.
class PackReader {
public:
    explicit PackReader(ByteSource& source) : source(source) {}

    // Reads the 16-byte header; true when it starts with ".KRR" and a zero byte.
    bool ReadHeader();

    // Reads the next entry header. After PackStep::entry the caller must call
    // SkipData or ReadData before the next call.
    PackStep Next(PackEntry& entry);

    bool SkipData(const PackEntry& entry);

    // Inflates the entry's data into a buffer of uncompressedSize bytes plus
    // the terminating zero; a stream that ends early leaves zeros in the tail.
    // Null when the stream is damaged, would inflate to more than the declared
    // size, or the declared size is impossible for the compressed size. Always
    // consumes the entry's data, so the walk can go on.
    std::unique_ptr<FileBuffer> ReadData(const PackEntry& entry);

private:
    ByteSource& source;
};

// Where the entries of one pack start, by normalised name: the offset of the
// header of the first entry of each name (later twins are never reached), up
// to the first damaged entry.
using PackOffsets = std::unordered_map<std::string, uint64_t>;

// The pack's file list: the normalised names of its entries, in pack order,
// duplicates kept, up to the first damaged entry. No pack: empty and silent.
// Logs "Loading file list from archive" and one line per entry.
//
// The path form also keeps the offsets that its walk passes for
// LoadPackEntry, so the one walk at start-up is the only one.
void ReadPackFileList(const std::string& packPath, std::vector<std::string>& files);
// `offsets`, when given, receives the offsets of the walk (from the start of
// `pack`).
void ReadPackFileList(ByteSource& pack, const std::string& packPath, std::vector<std::string>& files,
                      PackOffsets* offsets = nullptr);

// The first entry whose normalised name equals the normalised `path`, inflated;
// null when there is no such entry or it is damaged. Logs only a bad header
// ("Error reading archive %s" with `packPath`).
//
// The path form seeks straight to the entry through the offsets of the last
// walk of that pack (by ReadPackFileList, or by a look-up that found the pack
// changed or missed), checking the name found there; so N look-ups cost N
// seeks, not N walks. Any thread.
// An entry that would inflate to more than `maxSize` bytes is not read.
std::unique_ptr<FileBuffer> LoadPackEntry(const std::string& packPath, const std::string& path,
                                          uint64_t maxSize = UINT32_MAX);
// The same by a walk from the first entry.
std::unique_ptr<FileBuffer> LoadPackEntry(ByteSource& pack, const std::string& packPath, const std::string& path);

}  // namespace caldera
