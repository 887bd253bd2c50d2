#pragma once

// Whether a stored name (a pack entry's) may be written under a folder. The
// same rules hold on every system, Windows' included, so that a pack that
// extracts on one extracts the same on all: a name that Windows would read as
// a drive, a root, a device or a parent folder is refused on Linux too.

#include <filesystem>
#include <string>
#include <string_view>

namespace caldera {

// Why `name` cannot be written under a folder, or empty when it can. Refused:
// an empty name or component; a zero byte or another control byte; a name
// that starts at a root ("/x", "\x"); any ':' (a drive, "C:x" or "C:\x", or
// an NTFS data stream); the characters Windows refuses in names (<>"|?*); a
// component that is "." or "..", or that ends in a dot or a space (Windows
// drops those, so ".. " is ".." there); and Windows device names (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$) with any extension, in any case.
// '/' and '\' both separate components.
std::string EntryNameProblem(std::string_view name);

// The relative path of a name that EntryNameProblem accepts, split at '/'
// and '\'.
std::filesystem::path EntryRelativePath(std::string_view name);

// The first existing path from `folder / relative`'s first component down to
// the whole of it that is a symbolic link (or, on Windows, any reparse point:
// a junction leads elsewhere as well), or empty when none is. `folder` itself
// is the user's choice and is not looked at.
std::filesystem::path LinkOnTheWay(const std::filesystem::path& folder, const std::filesystem::path& relative);

}  // namespace caldera
