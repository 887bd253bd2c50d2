#pragma once

// File names travel through the program as UTF-8 strings on every system.
// Windows' C library and std::filesystem's char constructors read a char
// string in the local code page instead, so every step from a name to a file
// goes through here.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace caldera {

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);
// With '/' separators on every system, as stored in packs.
std::string GenericPathToUtf8(const std::filesystem::path& path);

std::FILE* OpenFile(const std::string& path, const char* mode);
bool RemoveFile(const std::string& path);

// Opens an existing regular file for reading ("rb"), with its size. A FIFO,
// a device or a folder is refused without waiting on it (opening a FIFO for
// reading would block until some writer came), with `error` saying why.
std::FILE* OpenRegularFile(const std::string& path, uint64_t& size, std::string& error);

// The size of an open regular file; false for a folder or on error.
bool RegularFileSize(std::FILE* file, uint64_t& size);

// Creates a new, empty file with an unused name "<base>.tmp-XXXXXX", readable
// as an ordinary file; `createdPath` receives its name. Null with `error` set
// on failure.
std::FILE* CreateTemporaryFile(const std::string& base, std::string& createdPath, std::string& error);
// Flushes a written file through to the disk before it replaces another.
bool FlushToDisk(std::FILE* file);
// Moves `from` to `to` in one step, replacing an existing `to`.
bool MoveOver(const std::string& from, const std::string& to, std::string& error);

// Sets an environment variable unless it is set already.
void SetEnvironmentDefault(const char* name, const char* value);

// The program's arguments as UTF-8 (Windows hands main() code-page text).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace caldera
