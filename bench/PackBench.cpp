// Pack reading: the player's reader (libdeflate, poorly compressing entries
// stored at level 0 by demopack) against zlib's uncompress, on a generated
// pack of about 200 MB held in memory, made like a production's data:
// textures as PNG files (gradients and noise, already deflated) and as raw
// TGA-like pixels, models as OBJ text, scenes as XML. "before" is every entry
// at the best level read with uncompress, as packs were made and read until
// now. Prints MB/s of content with the ratio to "before".

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/ThroughputTable.h"
#include "resources/ByteSource.h"
#include "resources/PackReader.h"
#include "resources/PackWriter.h"

using namespace caldera;

namespace {

struct Content {
    std::string name;
    std::string bytes;
};

// RGB pixels as textures hold them: a gradient across the image, a coarser
// pattern of tiles over it and per-pixel noise of the given amplitude (0 to
// 255). Rows start with a zero byte when `filterBytes`, as PNG rows do.
std::string Pixels(std::mt19937& random, int width, int height, int noise, bool filterBytes) {
    std::string out;
    out.reserve(size_t(height) * (width * 3 + 1));
    const int tint[3] = {int(random() % 256), int(random() % 256), int(random() % 256)};
    const int tile = 8 << (random() % 4);
    for (int y = 0; y < height; ++y) {
        if (filterBytes) out += '\0';
        for (int x = 0; x < width; ++x) {
            uint32_t r = random();
            int base = (x * 255 / width + y * 128 / height) + (((x / tile) ^ (y / tile)) & 1) * 24;
            for (int c = 0; c < 3; ++c) {
                int jitter = noise ? int((r >> (c * 8)) & 0xFF) * noise / 256 - noise / 2 : 0;
                out += static_cast<char>((base + tint[c] + jitter) & 0xFF);
            }
        }
    }
    return out;
}

void AppendBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void AppendPngChunk(std::string& out, const char* type, const std::string& data) {
    AppendBigEndian(out, uint32_t(data.size()));
    std::string body = type + data;
    out += body;
    AppendBigEndian(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// A PNG file: its pixels deflated once already, so deflate gains little on it.
std::string Png(std::mt19937& random, int width, int height) {
    std::string pixels = Pixels(random, width, height, 40 + int(random() % 80), true);
    std::string deflated(compressBound(pixels.size()), '\0');
    uLongf size = deflated.size();
    compress2(reinterpret_cast<Bytef*>(deflated.data()), &size, reinterpret_cast<const Bytef*>(pixels.data()),
              pixels.size(), 6);
    deflated.resize(size);
    std::string header;
    AppendBigEndian(header, uint32_t(width));
    AppendBigEndian(header, uint32_t(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    std::string out("\x89PNG\r\n\x1a\n", 8);
    AppendPngChunk(out, "IHDR", header);
    AppendPngChunk(out, "IDAT", deflated);
    AppendPngChunk(out, "IEND", "");
    return out;
}

// Raw pixels behind an 18-byte TGA-like header: deflate shrinks these by half or more.
std::string RawImage(std::mt19937& random, int width, int height) {
    std::string out(18, '\0');
    out[2] = 2;  // uncompressed true colour
    out[12] = static_cast<char>(width & 0xFF);
    out[13] = static_cast<char>(width >> 8);
    out[14] = static_cast<char>(height & 0xFF);
    out[15] = static_cast<char>(height >> 8);
    out[16] = 24;
    return out + Pixels(random, width, height, int(random() % 12), false);
}

std::string ObjModel(std::mt19937& random, size_t size) {
    std::string out = "o part\n";
    char line[128];
    std::uniform_real_distribution<double> d(-10.0, 10.0);
    for (int i = 1; out.size() < size; ++i) {
        out.append(line, std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\nvt %.6f %.6f\nvn %.4f %.4f %.4f\n", d(random),
                                       d(random), d(random), d(random) / 20 + .5, d(random) / 20 + .5, d(random) / 10,
                                       d(random) / 10, d(random) / 10));
        if (i > 3)
            out.append(line, std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", i, i, i, i - 1, i - 1,
                                           i - 1, i - 3, i - 3, i - 3));
    }
    return out;
}

std::string Xml(std::mt19937& random, size_t size) {
    std::string out = "<scene>\n";
    char line[200];
    while (out.size() < size)
        out.append(line, std::snprintf(line, sizeof line,
                                       "  <object name=\"node%u\" mesh=\"models/part%u.obj\" material=\"m%u\">"
                                       "<position x=\"%.3f\" y=\"%.3f\" z=\"%.3f\"/></object>\n",
                                       unsigned(random() % 5000), unsigned(random() % 40), unsigned(random() % 12),
                                       (random() % 20000) / 1000.0, (random() % 20000) / 1000.0, (random() % 20000) / 1000.0));
    return out + "</scene>\n";
}

const std::vector<Content>& Contents() {
    static std::vector<Content> contents = [] {
        std::mt19937 random(5);
        std::vector<Content> c;
        for (int i = 0; i < 40; ++i) c.push_back({"data/textures/t" + std::to_string(i) + ".png", Png(random, 1024, 768)});
        for (int i = 0; i < 16; ++i) c.push_back({"data/textures/r" + std::to_string(i) + ".tga", RawImage(random, 1024, 768)});
        for (int i = 0; i < 25; ++i) c.push_back({"data/models/m" + std::to_string(i) + ".obj", ObjModel(random, 2 << 20)});
        for (int i = 0; i < 150; ++i) c.push_back({"data/scenes/s" + std::to_string(i) + ".xml", Xml(random, 200 << 10)});
        return c;
    }();
    return contents;
}

uint64_t ContentBytes() {
    uint64_t total = 0;
    for (const Content& c : Contents()) total += c.bytes.size();
    return total;
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
    return bytes;
}

// The pack demopack writes now, and one with every entry at the best level
// (how it wrote them before), both through PackWriter's format.
std::vector<uint8_t> MakePack(bool allBest) {
    std::string path = std::filesystem::temp_directory_path() / (allBest ? "bench-best.pack" : "bench-demopack.pack");
    std::string error;
    if (!allBest) {
        PackWriter writer;
        if (!writer.Open(path, error)) std::abort();
        for (const Content& c : Contents())
            if (!writer.AddBytes(c.name, c.bytes, error)) std::abort();
        if (!writer.Finish(error)) std::abort();
        std::printf("demopack stores %u of %zu entries at level 0\n", writer.StoredEntryCount(), Contents().size());
    } else {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        char header[16] = ".KRR";
        std::fwrite(header, 1, 16, f);
        for (const Content& c : Contents()) {
            std::vector<uint8_t> out(compressBound(c.bytes.size()));
            uLongf size = out.size();
            compress2(out.data(), &size, reinterpret_cast<const Bytef*>(c.bytes.data()), c.bytes.size(), Z_BEST_COMPRESSION);
            std::string name = c.name;
            for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>(name[i] ^ ((i + 32) & 0xFF));
            uint32_t fields[3] = {uint32_t(name.size()), uint32_t(size), uint32_t(c.bytes.size())};
            std::fwrite(&fields[0], 4, 1, f);
            std::fwrite(name.data(), 1, name.size(), f);
            std::fwrite(&fields[1], 4, 2, f);
            std::fwrite(out.data(), 1, size, f);
        }
        std::fclose(f);
    }
    std::vector<uint8_t> bytes = ReadWhole(path);
    std::filesystem::remove(path);
    return bytes;
}

const std::vector<uint8_t>& Pack(bool allBest) {
    static std::vector<uint8_t> best = MakePack(true);
    static std::vector<uint8_t> demopack = MakePack(false);
    return allBest ? best : demopack;
}

// Reads every entry of the pack once per iteration through `read`, which
// returns the bytes it produced (0 for a damaged entry).
template <class Read>
void ReadEveryEntry(benchmark::State& state, bool allBest, Read&& read) {
    const std::vector<uint8_t>& pack = Pack(allBest);
    for (auto _ : state) {
        MemoryByteSource source(pack);
        PackReader reader(source);
        reader.ReadHeader();
        PackEntry entry;
        size_t total = 0;
        while (reader.Next(entry) == PackStep::entry) total += read(source, reader, entry);
        if (total != ContentBytes()) state.SkipWithError("damaged or short read");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * ContentBytes()));
}

// Through PackReader, as the player and demopack extract read.
void Reader(benchmark::State& state, bool allBest) {
    ReadEveryEntry(state, allBest, [](MemoryByteSource&, PackReader& reader, const PackEntry& entry) -> size_t {
        auto buffer = reader.ReadData(entry);
        return buffer ? buffer->size : 0;
    });
}

// With zlib's uncompress into a buffer of the declared size.
void Uncompress(benchmark::State& state, bool allBest) {
    std::vector<uint8_t> in;
    ReadEveryEntry(state, allBest, [&in](MemoryByteSource& source, PackReader&, const PackEntry& entry) -> size_t {
        in.resize(entry.compressedSize);
        source.Read(in.data(), in.size());
        std::vector<char> out(size_t(entry.uncompressedSize) + 1, 0);
        uLongf size = entry.uncompressedSize;
        if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, in.data(), in.size()) != Z_OK) return 0;
        return size;
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("content %.1f MB; pack at the best level %.1f MB, as demopack makes it %.1f MB\n", ContentBytes() / 1e6,
                Pack(true).size() / 1e6, Pack(false).size() / 1e6);
    benchmark::RegisterBenchmark("pack/before", Uncompress, true)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pack/uncompress-demopack", Uncompress, false)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pack/reader-best", Reader, true)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pack/reader-demopack", Reader, false)->MinTime(3.0)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    ThroughputTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    table.Print("before");
    return 0;
}
