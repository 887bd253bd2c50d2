#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace caldera {

// Sequential, bounded reading of a pack: the reader never trusts a size it
// has not checked against Remaining(), so a hostile file cannot make it read
// out of bounds or allocate more than the file could hold.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Copies up to `count` bytes to `out`; fewer only at the end of the source.
    virtual size_t Read(void* out, size_t count) = 0;
    // Moves `count` bytes forward; false, moving nothing, when fewer remain.
    virtual bool Skip(uint64_t count) = 0;
    virtual uint64_t Remaining() const = 0;
};

// Bytes already in memory (the fuzzer, tests). Does not own them.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const uint8_t> bytes) : bytes(bytes) {}
    size_t Read(void* out, size_t count) override;
    bool Skip(uint64_t count) override;
    uint64_t Remaining() const override { return bytes.size() - position; }

private:
    std::span<const uint8_t> bytes;
    size_t position = 0;
};

// A file opened for reading; closed when the source is destroyed, so every
// path out of a reader closes it.
class FileByteSource final : public ByteSource {
public:
    // Null when `path` cannot be opened or is not a regular file.
    static std::unique_ptr<FileByteSource> Open(const std::string& path);
    // The same, with why not in `error` ("Permission denied", "a folder, not a file").
    static std::unique_ptr<FileByteSource> Open(const std::string& path, std::string& error);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    size_t Read(void* out, size_t count) override;
    bool Skip(uint64_t count) override;
    uint64_t Remaining() const override { return size - position; }

private:
    FileByteSource(std::FILE* file, uint64_t size) : file(file), size(size) {}
    std::FILE* file;
    uint64_t size;  // taken at open; lowered if the file turns out shorter
    uint64_t position = 0;
};

}  // namespace caldera
