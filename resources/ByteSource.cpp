#include "resources/ByteSource.h"

#include <algorithm>
#include <cstring>

#include "platform/File.h"

namespace caldera {

size_t MemoryByteSource::Read(void* out, size_t count) {
    size_t n = std::min<uint64_t>(count, Remaining());
    if (n > 0) std::memcpy(out, bytes.data() + position, n);
    position += n;
    return n;
}

bool MemoryByteSource::Skip(uint64_t count) {
    if (count > Remaining()) return false;
    position += static_cast<size_t>(count);
    return true;
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path) {
    std::string error;
    return Open(path, error);
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path, std::string& error) {
    // A folder, a FIFO or a device reads as "no file" everywhere.
    uint64_t size = 0;
    std::FILE* file = OpenRegularFile(path, size, error);
    if (!file) return nullptr;
    return std::unique_ptr<FileByteSource>(new FileByteSource(file, size));
}

FileByteSource::~FileByteSource() { std::fclose(file); }

size_t FileByteSource::Read(void* out, size_t count) {
    size_t wanted = std::min<uint64_t>(count, Remaining());
    size_t got = wanted > 0 ? std::fread(out, 1, wanted, file) : 0;
    position += got;
    // The file shrank under us (rewritten while read): its end is here now.
    if (got < wanted) size = position;
    return got;
}

bool FileByteSource::Skip(uint64_t count) {
    if (count > Remaining()) return false;
    if (fseeko(file, static_cast<off_t>(count), SEEK_CUR) != 0) return false;
    position += count;
    return true;
}

}  // namespace caldera
