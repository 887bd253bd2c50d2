#pragma once

#include <string>

namespace caldera {

// Content names are lower-cased when they are registered (WOOD.PNG is known as
// wood.png), which a case-sensitive file system does not forgive. When `path`
// does not exist, this looks in its folder for a file whose name differs from
// it only in ASCII case and returns that file's path; otherwise returns `path`.
std::string MatchFileCase(const std::string& path);

}  // namespace caldera
