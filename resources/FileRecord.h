#pragma once

#include <cstdint>
#include <string>

#include "platform/FileTime.h"

namespace caldera {

// One file seen by a folder scan.
struct FileRecord {
    uint32_t hash = 0;       // NameHash(name)
    std::string name;        // lower-case file name without folder, e.g. "wood.png"
    FileTime writeTime = 0;  // of the loose file, or of data.pack for a file only in the pack
};

}  // namespace caldera
