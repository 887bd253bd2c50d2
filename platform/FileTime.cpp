#include "platform/FileTime.h"

#include <cerrno>

#include "platform/File.h"

namespace caldera {

FileTime ToFileTime(std::filesystem::file_time_type time) {
    return static_cast<FileTime>(time.time_since_epoch().count());
}

std::optional<FileTime> LastWriteTime(const std::string& path, int* error) {
    std::error_code status;
    const std::filesystem::path file = PathFromUtf8(path);
    bool regular = std::filesystem::is_regular_file(file, status);
    if (regular) {
        auto time = std::filesystem::last_write_time(file, status);
        if (!status) return ToFileTime(time);
    }
    if (error) *error = status ? status.value() : EISDIR;
    return std::nullopt;
}

}  // namespace caldera
