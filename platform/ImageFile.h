#pragma once

// Images written whole or not at all: the encoded bytes go through an
// OutputFile, so a full disk or any failed write leaves the previous file as
// it was and is reported, where stb's own file writers would report success
// over a truncated file.

#include <string>

namespace caldera {

// `pixels` rows top-down, `channels` (1 to 4) bytes a pixel, `stride` bytes
// a row. False with `error` when the file could not be written.
bool WritePngFile(const std::string& path, int width, int height, int channels, const void* pixels, int stride,
                  std::string& error);
// `quality` 1 to 100.
bool WriteJpegFile(const std::string& path, int width, int height, int channels, const void* pixels, int quality,
                   std::string& error);

}  // namespace caldera
