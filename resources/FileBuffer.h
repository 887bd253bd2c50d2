#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace caldera {

// The bytes of one content file, loose or from the pack. `data` always holds
// `size` bytes plus one zero byte, so text can be parsed as a C string.
// Releasing the buffer is dropping the unique_ptr.
struct FileBuffer {
    std::string name;        // the entry's stored name for a pack entry; empty for a loose file
    bool fromPack = false;
    std::vector<char> data;  // size + 1 bytes, the last one zero
    uint32_t size = 0;
};

// Reads a content file: the loose file when it can be opened, else the first
// entry of the pack whose normalised name (ASCII lower case, '\' as '/')
// equals the normalised `path`. Returns null when neither exists or the entry
// is damaged. Relative paths are taken from the current folder, which is the
// player's working folder. Safe on any thread: it keeps no state between calls.
//
// The pack is the ResourceManager's (working folder + "/data.pack").
std::unique_ptr<FileBuffer> LoadFile(const std::string& path);
// The same with an explicit pack.
std::unique_ptr<FileBuffer> LoadFile(const std::string& path, const std::string& packPath);
// The same for a production in `folder` rather than the working folder:
// `path` is relative to it ("data/scenes/room.xml"), the pack is
// folder + "/data.pack". For tools that read a production from outside it.
std::unique_ptr<FileBuffer> LoadFileIn(const std::string& folder, const std::string& path);

// A load that bounds the size it reads and says why a loose file gave
// nothing.
struct LoadCheck {
    // A larger loose file or pack entry is refused by its size, before it is
    // read or inflated.
    uint64_t maxSize = std::numeric_limits<uint32_t>::max() - 1;
    // Set when the loose file is there but cannot be read (a folder, a FIFO,
    // no permission: the pack is looked in then, as always) or is larger than
    // maxSize (nothing is read then); empty otherwise.
    std::string problem;
};
std::unique_ptr<FileBuffer> LoadFile(const std::string& path, LoadCheck& check);
std::unique_ptr<FileBuffer> LoadFileIn(const std::string& folder, const std::string& path, LoadCheck& check);

}  // namespace caldera
