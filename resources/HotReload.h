#pragma once

#include <string>

#include "platform/FileTime.h"

namespace caldera {

// What ReadFileTime returns when the file cannot be read. A fixed value: a
// pack that has gone missing then changes its records' times once, not on
// every scan.
inline constexpr FileTime kUnreadableFileTime = 0;

// The last-write time of `path` (used for data.pack), logging at level 0 when
// it cannot be had.
FileTime ReadFileTime(const std::string& path);

}  // namespace caldera
