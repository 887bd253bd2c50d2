// libFuzzer target for the pack reader: the bytes are a data.pack, read in
// memory by the same code that reads the file (list, walk, look-ups).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "resources/ByteSource.h"
#include "resources/PackFormat.h"
#include "resources/PackReader.h"

using namespace caldera;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckBuffer(const FileBuffer& buffer) {
    Check(buffer.fromPack);
    Check(buffer.size <= kMaxPackEntrySize);
    Check(buffer.data.size() == size_t(buffer.size) + 1);
    Check(buffer.data[buffer.size] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers log every entry; libFuzzer reports on stderr.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);

    // The start-up list of the manager.
    MemoryByteSource listSource(bytes);
    std::vector<std::string> files;
    ReadPackFileList(listSource, "fuzz.pack", files);
    for (const std::string& name : files) Check(NormalizePackName(name) == name);

    // The walk of demopack extract: every entry inflated in turn.
    MemoryByteSource walkSource(bytes);
    PackReader reader(walkSource);
    if (reader.ReadHeader()) {
        PackEntry entry;
        while (reader.Next(entry) == PackStep::entry) {
            Check(entry.compressedSize > 0);
            if (auto buffer = reader.ReadData(entry)) {
                CheckBuffer(*buffer);
                Check(buffer->size == entry.uncompressedSize);
            }
        }
    }

    // LoadFile's look-up for a few listed names and one that is missing.
    for (size_t i = 0; i < files.size() && i < 4; ++i) {
        MemoryByteSource source(bytes);
        if (auto buffer = LoadPackEntry(source, "fuzz.pack", files[i])) {
            CheckBuffer(*buffer);
            Check(NormalizePackName(buffer->name) == files[i]);
        }
    }
    MemoryByteSource source(bytes);
    LoadPackEntry(source, "fuzz.pack", "data/missing.xml");
    return 0;
}
