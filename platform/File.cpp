#include "platform/File.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace caldera {

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    // A char8_t string is UTF-8 by definition on every system; a char one is not.
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string GenericPathToUtf8(const std::filesystem::path& path) {
    std::u8string utf8 = path.generic_u8string();
    return std::string(utf8.begin(), utf8.end());
}

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) { return PathFromUtf8(utf8).native(); }

std::string WindowsError(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = n ? PathToUtf8(std::filesystem::path(std::wstring(text, n))) : "";
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(code) : message;
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), std::wstring(mode, mode + std::strlen(mode)).c_str());
}

bool RemoveFile(const std::string& path) { return _wremove(Wide(path).c_str()) == 0; }

std::FILE* OpenRegularFile(const std::string& path, uint64_t& size, std::string& error) {
    std::FILE* file = _wfopen(Wide(path).c_str(), L"rb");
    if (!file) {
        error = std::strerror(errno);
        return nullptr;
    }
    // Device names (CON, NUL, COM1) open as character devices.
    if (!RegularFileSize(file, size)) {
        std::fclose(file);
        error = "not a regular file";
        return nullptr;
    }
    return file;
}

bool RegularFileSize(std::FILE* file, uint64_t& size) {
    struct _stat64 info {};
    if (_fstat64(_fileno(file), &info) != 0 || !(info.st_mode & _S_IFREG)) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

std::FILE* CreateTemporaryFile(const std::string& base, std::string& createdPath, std::string& error) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = base + ".tmp-";
        for (int i = 0; i < 6; ++i) path += kLetters[pick() % (sizeof(kLetters) - 1)];
        int fd = _wopen(Wide(path).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        std::FILE* file = _fdopen(fd, "wb");
        if (!file) {
            _close(fd);
            _wremove(Wide(path).c_str());
            break;
        }
        createdPath = path;
        return file;
    }
    error = "cannot create " + base + ".tmp-XXXXXX: " + std::strerror(errno);
    return nullptr;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool MoveOver(const std::string& from, const std::string& to, std::string& error) {
    // The C library's rename refuses to replace an existing file here.
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = WindowsError(GetLastError());
    return false;
}

void SetEnvironmentDefault(const char* name, const char* value) {
    if (!std::getenv(name)) _putenv_s(name, value);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(PathToUtf8(std::filesystem::path(wide[i])));
    LocalFree(wide);
    return args;
}

#else

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::FILE* OpenRegularFile(const std::string& path, uint64_t& size, std::string& error) {
    // Non-blocking only for the open itself: a FIFO then opens at once, and
    // is refused by its type.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = S_ISDIR(info.st_mode) ? "a folder, not a file" : "not a regular file";
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "rb");
    if (!file) {
        error = std::strerror(errno);
        close(fd);
        return nullptr;
    }
    size = static_cast<uint64_t>(info.st_size);
    return file;
}

bool RegularFileSize(std::FILE* file, uint64_t& size) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

std::FILE* CreateTemporaryFile(const std::string& base, std::string& createdPath, std::string& error) {
    std::string path = base + ".tmp-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    fchmod(fd, 0644);  // mkstemp makes it private; the file is an ordinary one
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        close(fd);
        std::remove(path.c_str());
        return nullptr;
    }
    createdPath = path;
    return file;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool MoveOver(const std::string& from, const std::string& to, std::string& error) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    error = std::strerror(errno);
    return false;
}

void SetEnvironmentDefault(const char* name, const char* value) { setenv(name, value, 0); }

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

#endif

}  // namespace caldera
