#include "platform/FileTime.h"

#include <cerrno>

FileTime ToFileTime(std::filesystem::file_time_type time) {
    return static_cast<FileTime>(time.time_since_epoch().count());
}

std::optional<FileTime> LastWriteTime(const std::string& path, int* error) {
    std::error_code status;
    bool regular = std::filesystem::is_regular_file(path, status);
    if (regular) {
        auto time = std::filesystem::last_write_time(path, status);
        if (!status) return ToFileTime(time);
    }
    if (error) *error = status ? status.value() : EISDIR;
    return std::nullopt;
}
