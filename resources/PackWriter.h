#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/OutputFile.h"

namespace caldera {

// Writes a data.pack that the player reads: entries in the order they are
// added, names scrambled, data as one zlib stream each. Data that deflate
// barely shrinks (PNG and JPEG images, or a gain under 5%) is stored in the
// stream uncompressed (level 0): any zlib reader still takes it, and reading
// it back is a copy instead of an inflate.
//
// The pack is written through an OutputFile (a partial file beside `path`,
// renamed over it by Finish), so `path` never holds a half-written pack; a
// writer destroyed before Finish removes its partial file. A quit signal
// (SIGINT, SIGTERM, SIGHUP, once CatchQuitSignals is in force) stops a write
// within one block of input, with the error "interrupted".
class PackWriter {
public:
    PackWriter() = default;
    ~PackWriter();
    PackWriter(const PackWriter&) = delete;
    PackWriter& operator=(const PackWriter&) = delete;

    // Every operation returns false with a message in `error` on failure; the
    // writer is then unusable and Finish fails.
    bool Open(const std::string& path, std::string& error);
    // Stores the file at `sourcePath` under `storedName` (a relative path
    // with '/' separators), compressed while it is read (a second read
    // stores it at level 0 when compressing did not pay).
    bool AddFile(const std::string& storedName, const std::string& sourcePath, std::string& error);
    bool AddBytes(const std::string& storedName, std::string_view bytes, std::string& error);
    bool Finish(std::string& error);

    uint32_t EntryCount() const { return entries; }
    uint64_t CompressedBytes() const { return compressedTotal; }
    uint32_t StoredEntryCount() const { return storedEntries; }  // entries kept at level 0

private:
    // Writes one entry, pulling its bytes through `read` (returns the count
    // read into the buffer, 0 at the end, -1 on error); `rewind` starts the
    // bytes over (false on error).
    template <class Read, class Rewind>
    bool AddEntry(const std::string& storedName, Read&& read, Rewind&& rewind, std::string& error);
    // Writes the bytes from `read` as one zlib stream at `level`, from the
    // current position of the file.
    template <class Read>
    bool WriteStream(const std::string& storedName, int level, Read& read, uint64_t& uncompressed,
                     uint64_t& compressed, std::string& error);
    bool Fail(std::string& error, const std::string& message);

    OutputFile output;
    std::FILE* file = nullptr;  // output's stream while open
    uint32_t entries = 0;
    uint64_t compressedTotal = 0;
    uint32_t storedEntries = 0;
};

}  // namespace caldera
