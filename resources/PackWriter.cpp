#include "resources/PackWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <unistd.h>  // ftruncate, on MinGW as well

#include "platform/File.h"
#include "platform/QuitSignal.h"
#include "resources/PackFormat.h"

namespace caldera {

namespace {

void PutU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string SystemError() { return std::strerror(errno); }

}  // namespace

PackWriter::~PackWriter() = default;  // the output abandons its partial file

bool PackWriter::Fail(std::string& error, const std::string& message) {
    error = message;
    output.Abandon();
    file = nullptr;
    return false;
}

bool PackWriter::Open(const std::string& path, std::string& error) {
    if (file) return Fail(error, "pack already open");
    if (!output.Open(path, error)) return false;
    file = output.Stream();
    uint8_t header[kPackHeaderSize] = {};
    std::memcpy(header, kPackMagic, sizeof(kPackMagic));
    if (std::fwrite(header, 1, sizeof(header), file) != sizeof(header))
        return Fail(error, "cannot write " + output.Partial() + ": " + SystemError());
    return true;
}

template <class Read>
bool PackWriter::WriteStream(const std::string& storedName, int level, Read& read, uint64_t& uncompressed,
                             uint64_t& compressed, std::string& error) {
    z_stream stream{};
    if (deflateInit(&stream, level) != Z_OK) return Fail(error, "zlib could not start");
    uint8_t in[65536];
    uint8_t out[65536];
    uncompressed = 0;
    compressed = 0;
    int flush = Z_NO_FLUSH;
    int status = Z_OK;
    // Even an empty file gets a whole stream (header, empty block, checksum),
    // so no entry is stored with compressed size 0.
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0 && flush == Z_NO_FLUSH) {
            if (QuitSignalled()) {
                deflateEnd(&stream);
                return Fail(error, "interrupted");
            }
            long got = read(in, sizeof(in));
            if (got < 0) {
                deflateEnd(&stream);
                return Fail(error, "cannot read the data of " + storedName + ": " + SystemError());
            }
            uncompressed += static_cast<uint64_t>(got);
            if (uncompressed > kMaxPackEntrySize) {
                deflateEnd(&stream);
                return Fail(error, storedName + " is larger than a pack entry may be (1 GiB)");
            }
            if (got == 0) flush = Z_FINISH;
            stream.next_in = in;
            stream.avail_in = static_cast<uInt>(got);
        }
        stream.next_out = out;
        stream.avail_out = sizeof(out);
        status = deflate(&stream, flush);
        if (status == Z_STREAM_ERROR) {
            deflateEnd(&stream);
            return Fail(error, "zlib failed on " + storedName);
        }
        size_t produced = sizeof(out) - stream.avail_out;
        compressed += produced;
        if (std::fwrite(out, 1, produced, file) != produced) {
            deflateEnd(&stream);
            return Fail(error, "cannot write " + output.Partial() + ": " + SystemError());
        }
    }
    deflateEnd(&stream);
    return true;
}

template <class Read, class Rewind>
bool PackWriter::AddEntry(const std::string& storedName, Read&& read, Rewind&& rewind, std::string& error) {
    if (!file) return Fail(error, "pack not open");
    if (storedName.empty()) return Fail(error, "empty entry name");
    if (storedName.find('\0') != std::string::npos) return Fail(error, "entry name holds a zero byte");
    if (storedName.size() > std::numeric_limits<uint32_t>::max()) return Fail(error, "entry name too long");

    // Name, then room for the two sizes, patched once the stream is written.
    std::string name = storedName;
    ScramblePackName(name);
    uint8_t field[4];
    PutU32(field, static_cast<uint32_t>(name.size()));
    off_t sizesAt = 0;
    if (std::fwrite(field, 1, 4, file) != 4 || std::fwrite(name.data(), 1, name.size(), file) != name.size() ||
        (sizesAt = ftello(file)) < 0)
        return Fail(error, "cannot write " + output.Partial() + ": " + SystemError());
    uint8_t sizes[8] = {};
    if (std::fwrite(sizes, 1, sizeof(sizes), file) != sizeof(sizes))
        return Fail(error, "cannot write " + output.Partial() + ": " + SystemError());
    const off_t dataAt = sizesAt + static_cast<off_t>(sizeof(sizes));

    // Images that carry their own compression are stored without trying.
    uint8_t magic[8] = {};
    long got = read(magic, sizeof(magic));
    if (got < 0) return Fail(error, "cannot read the data of " + storedName + ": " + SystemError());
    if (!rewind()) return Fail(error, "cannot read the data of " + storedName + ": " + SystemError());
    static constexpr uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static constexpr uint8_t kJpeg[3] = {0xFF, 0xD8, 0xFF};
    bool image = (got >= 8 && std::memcmp(magic, kPng, 8) == 0) || (got >= 3 && std::memcmp(magic, kJpeg, 3) == 0);

    uint64_t uncompressed = 0;
    uint64_t compressed = 0;
    bool stored = image;
    if (!WriteStream(storedName, image ? 0 : Z_BEST_COMPRESSION, read, uncompressed, compressed, error)) return false;
    // A gain under 5% is not worth an inflate on every load: store it instead.
    if (!image && compressed * 100 > uncompressed * 95 && uncompressed > 0) {
        if (!rewind()) return Fail(error, "cannot read the data of " + storedName + ": " + SystemError());
        if (fseeko(file, dataAt, SEEK_SET) != 0 ||
            !WriteStream(storedName, 0, read, uncompressed, compressed, error) || std::fflush(file) != 0 ||
            ftruncate(fileno(file), dataAt + static_cast<off_t>(compressed)) != 0)
            return file ? Fail(error, "cannot write " + output.Partial() + ": " + SystemError()) : false;
        stored = true;
    }
    if (compressed == 0 || compressed > std::numeric_limits<uint32_t>::max())
        return Fail(error, "compressed data of " + storedName + " does not fit an entry");

    PutU32(sizes, static_cast<uint32_t>(compressed));
    PutU32(sizes + 4, static_cast<uint32_t>(uncompressed));
    if (fseeko(file, sizesAt, SEEK_SET) != 0 || std::fwrite(sizes, 1, sizeof(sizes), file) != sizeof(sizes) ||
        fseeko(file, 0, SEEK_END) != 0)
        return Fail(error, "cannot write " + output.Partial() + ": " + SystemError());
    ++entries;
    storedEntries += stored ? 1 : 0;
    compressedTotal += compressed;
    return true;
}

bool PackWriter::AddFile(const std::string& storedName, const std::string& sourcePath, std::string& error) {
    uint64_t size = 0;
    std::string why;
    std::FILE* source = OpenRegularFile(sourcePath, size, why);  // a FIFO would never end
    if (!source) return Fail(error, "cannot open " + sourcePath + ": " + why);
    bool ok = AddEntry(
        storedName,
        [&](uint8_t* buffer, size_t capacity) -> long {
            size_t got = std::fread(buffer, 1, capacity, source);
            return std::ferror(source) ? -1 : static_cast<long>(got);
        },
        [&] {
            std::rewind(source);
            return std::ferror(source) == 0;
        },
        error);
    std::fclose(source);
    return ok;
}

bool PackWriter::AddBytes(const std::string& storedName, std::string_view bytes, std::string& error) {
    size_t offset = 0;
    return AddEntry(
        storedName,
        [&](uint8_t* buffer, size_t capacity) -> long {
            size_t n = std::min(capacity, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, n);
            offset += n;
            return static_cast<long>(n);
        },
        [&] {
            offset = 0;
            return true;
        },
        error);
}

bool PackWriter::Finish(std::string& error) {
    if (!file) return Fail(error, "pack not open");
    file = nullptr;
    return output.Commit(error);
}

}  // namespace caldera
