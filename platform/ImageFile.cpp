#include "platform/ImageFile.h"

#include <stb/stb_image_write.h>

#include <cerrno>
#include <cstring>

#include "platform/OutputFile.h"

namespace {

struct Sink {
    OutputFile file;
    int writeErrno = 0;
};

extern "C" void WriteToSink(void* context, void* data, int size) {
    Sink& sink = *static_cast<Sink*>(context);
    errno = 0;
    if (!sink.file.Write(data, static_cast<size_t>(size)) && sink.writeErrno == 0) sink.writeErrno = errno;
}

template <class Encode>
bool WriteImage(const std::string& path, Encode encode, std::string& error) {
    Sink sink;
    if (!sink.file.Open(path, error)) return false;
    if (!encode(&sink)) {
        error = "cannot encode " + path;
        return false;
    }
    if (sink.writeErrno != 0) {
        error = "cannot write " + path + ": " + std::strerror(sink.writeErrno);
        return false;
    }
    return sink.file.Commit(error);
}

}  // namespace

bool WritePngFile(const std::string& path, int width, int height, int channels, const void* pixels, int stride,
                  std::string& error) {
    return WriteImage(
        path,
        [&](Sink* sink) {
            return stbi_write_png_to_func(WriteToSink, sink, width, height, channels, pixels, stride) != 0;
        },
        error);
}

bool WriteJpegFile(const std::string& path, int width, int height, int channels, const void* pixels, int quality,
                   std::string& error) {
    return WriteImage(
        path,
        [&](Sink* sink) {
            return stbi_write_jpg_to_func(WriteToSink, sink, width, height, channels, pixels, quality) != 0;
        },
        error);
}
