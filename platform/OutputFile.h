#pragma once

// One way to write an output: whole or not at all. The bytes go to a hidden
// sibling of the target (".NAME.part.EXT", the extension kept so that
// programs that pick a format by it still can) and replace the target only
// when every write, the close and the flush to disk succeeded. A failed or
// abandoned output removes its partial file and leaves the target as it was.
//
// A partial file left behind by a run that was killed is taken over and
// replaced; one that another live writer holds is refused (an advisory lock
// on POSIX, a share mode on Windows).

#include <cstddef>
#include <cstdio>
#include <string>

namespace caldera {

// Where `path` is written until it is complete.
std::string PartialPath(const std::string& path);

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // abandons an output that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Claims the partial file, empty. Refuses a target that is a folder.
    // `sharedWithChild`: another program (an encoder) will write the partial
    // file by its name while this one holds it.
    bool Open(const std::string& path, std::string& error, bool sharedWithChild = false);
    // False once any write has failed; Commit then fails too.
    bool Write(const void* data, size_t size);
    // For writers that take a stream; their failures are caught by Commit.
    std::FILE* Stream() const { return file; }
    // Flushes to disk and renames over the target; false with `error` (and
    // the partial file removed) when anything failed.
    bool Commit(std::string& error);
    void Abandon();

    bool IsOpen() const { return file != nullptr; }
    const std::string& Target() const { return target; }
    const std::string& Partial() const { return partial; }

private:
    std::FILE* file = nullptr;
    std::string target;
    std::string partial;
    bool failed = false;
    int failedErrno = 0;  // errno of the first failed Write
};

// The whole of `size` bytes as the file `path`, through an OutputFile.
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& error);

}  // namespace caldera
