#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
