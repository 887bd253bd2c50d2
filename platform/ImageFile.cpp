#include "platform/ImageFile.h"

#include <stb/stb_image_write.h>

#include "platform/OutputFile.h"

namespace caldera {

namespace {

// A failed write is kept by the file itself, and Commit reports it with its
// reason.
extern "C" void WriteToFile(void* context, void* data, int size) {
    static_cast<OutputFile*>(context)->Write(data, static_cast<size_t>(size));
}

template <class Encode>
bool WriteImage(const std::string& path, Encode encode, std::string& error) {
    OutputFile file;
    if (!file.Open(path, error)) return false;
    if (!encode(&file)) {
        error = "cannot encode " + path;
        return false;
    }
    return file.Commit(error);
}

}  // namespace

bool WritePngFile(const std::string& path, int width, int height, int channels, const void* pixels, int stride,
                  std::string& error) {
    return WriteImage(
        path,
        [&](OutputFile* file) {
            return stbi_write_png_to_func(WriteToFile, file, width, height, channels, pixels, stride) != 0;
        },
        error);
}

bool WriteJpegFile(const std::string& path, int width, int height, int channels, const void* pixels, int quality,
                   std::string& error) {
    return WriteImage(
        path,
        [&](OutputFile* file) {
            return stbi_write_jpg_to_func(WriteToFile, file, width, height, channels, pixels, quality) != 0;
        },
        error);
}

}  // namespace caldera
