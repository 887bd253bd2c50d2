#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/File.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace caldera {

std::string PartialPath(const std::string& path) {
    const std::filesystem::path p = PathFromUtf8(path);
    return PathToUtf8(p.parent_path() / ("." + PathToUtf8(p.filename()) + ".part" + PathToUtf8(p.extension())));
}

OutputFile::~OutputFile() { Abandon(); }

namespace {

// Opens `partial` for writing, emptied, unless a live writer holds it.
std::FILE* ClaimPartial(const std::string& partial, bool sharedWithChild, std::string& error) {
#ifdef _WIN32
    int fd = -1;
    const errno_t failed =
        _wsopen_s(&fd, PathFromUtf8(partial).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                  sharedWithChild ? _SH_DENYNO : _SH_DENYWR, _S_IREAD | _S_IWRITE);
    if (failed != 0 || fd < 0) {
        error = failed == EACCES ? "another program is writing " + partial
                                 : "cannot write " + partial + ": " + std::strerror(failed);
        return nullptr;
    }
    if (_chsize_s(fd, 0) != 0) {
        error = "cannot write " + partial + ": " + std::strerror(errno);
        _close(fd);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
#else
    (void)sharedWithChild;  // the lock is advisory: a child writes by name all the same
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot write " + partial + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "cannot write " + partial + ": it is not a regular file";
        close(fd);
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "another program is writing " + partial
                                     : "cannot lock " + partial + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (ftruncate(fd, 0) != 0) {
        error = "cannot write " + partial + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
#endif
    if (!file) error = "cannot write " + partial + ": " + std::strerror(errno);
    return file;
}

// Makes a rename in `folder` survive a crash of the machine.
void FlushFolder(const std::string& path) {
#ifndef _WIN32
    std::string folder = PathToUtf8(PathFromUtf8(path).parent_path());
    if (folder.empty()) folder = ".";
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
#else
    (void)path;
#endif
}

}  // namespace

bool OutputFile::Open(const std::string& path, std::string& error, bool sharedWithChild) {
    Abandon();
    std::error_code ec;
    if (std::filesystem::is_directory(PathFromUtf8(path), ec)) {
        error = path + " is a folder";
        return false;
    }
    target = path;
    partial = PartialPath(path);
    failed = false;
    failedErrno = 0;
    file = ClaimPartial(partial, sharedWithChild, error);
    return file != nullptr;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (!file || failed) return false;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        failed = true;
        failedErrno = errno;
    }
    return !failed;
}

bool OutputFile::Commit(std::string& error) {
    if (!file) {
        error = "nothing to write to " + target;
        return false;
    }
    errno = 0;
    bool ok = !failed && !std::ferror(file) && FlushToDisk(file);
    const int writeErrno = failed && failedErrno ? failedErrno : errno;
#ifdef _WIN32
    // Windows renames only a closed file.
    ok = std::fclose(file) == 0 && ok;
    file = nullptr;
#endif
    if (!ok) {
        error = "cannot write " + target +
                (writeErrno ? std::string(": ") + std::strerror(writeErrno) : std::string());
        if (file) Abandon();
        else RemoveFile(partial);
        return false;
    }
    // On POSIX the file stays open, and locked, until it has its final name:
    // no other writer can claim the partial name in between.
    std::string moveError;
    const bool moved = MoveOver(partial, target, moveError);
    if (!moved) {
        error = "cannot replace " + target + ": " + moveError;
        if (file) Abandon();
        else RemoveFile(partial);
        return false;
    }
    if (file) std::fclose(file);
    file = nullptr;
    FlushFolder(target);
    return true;
}

void OutputFile::Abandon() {
    if (!file) return;
#ifdef _WIN32
    std::fclose(file);
    RemoveFile(partial);
#else
    RemoveFile(partial);  // while locked: no other writer has claimed it
    std::fclose(file);
#endif
    file = nullptr;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& error) {
    OutputFile out;
    if (!out.Open(path, error)) return false;
    if (!out.Write(data, size)) {
        out.Abandon();
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return out.Commit(error);
}

}  // namespace caldera
