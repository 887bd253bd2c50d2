#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace caldera {

// A file's last-write time as one 64-bit count; only ever compared for
// equality, never turned into a date.
using FileTime = uint64_t;

FileTime ToFileTime(std::filesystem::file_time_type time);

// The last-write time of the regular file at `path`; none when there is no
// regular file there (missing, a folder, no access). `error` then receives the
// system's error code.
std::optional<FileTime> LastWriteTime(const std::string& path, int* error = nullptr);

}  // namespace caldera
