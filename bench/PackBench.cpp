// Pack reading: the player's reader (libdeflate, images stored at level 0 by
// demopack) against zlib's uncompress, on a generated pack of about 200 MB of
// images, models and XML held in memory. "before" is every entry at the best
// level read with uncompress, as packs were made and read until now. Prints
// MB/s of content with the ratio to "before".

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

namespace {

struct Content {
    std::string name;
    std::string bytes;
};

// Images as PNG files look to deflate: a header, then data that is already
// compressed, which deflate shrinks by a few percent at most.
std::string Image(std::mt19937& random, size_t size) {
    std::string out("\x89PNG\r\n\x1a\n", 8);
    out.reserve(size);
    while (out.size() < size) {
        uint32_t r = random();
        out += static_cast<char>(r % 251);
        out += static_cast<char>((r >> 8) % 251);
        out += static_cast<char>((r >> 16) & 0xFF);
    }
    return out;
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
        for (int i = 0; i < 50; ++i) c.push_back({"data/textures/t" + std::to_string(i) + ".png", Image(random, 2 << 20)});
        for (int i = 0; i < 30; ++i) c.push_back({"data/models/m" + std::to_string(i) + ".obj", ObjModel(random, 2 << 20)});
        for (int i = 0; i < 200; ++i) c.push_back({"data/scenes/s" + std::to_string(i) + ".xml", Xml(random, 200 << 10)});
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

// Every entry through PackReader, as the player and demopack extract read.
void Reader(benchmark::State& state, bool allBest) {
    const std::vector<uint8_t>& pack = Pack(allBest);
    for (auto _ : state) {
        MemoryByteSource source(pack);
        PackReader reader(source);
        reader.ReadHeader();
        PackEntry entry;
        size_t read = 0;
        while (reader.Next(entry) == PackStep::entry) {
            auto buffer = reader.ReadData(entry);
            if (!buffer) state.SkipWithError("damaged entry");
            read += buffer ? buffer->size : 0;
        }
        if (read != ContentBytes()) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * ContentBytes()));
}

// The same walk with zlib's uncompress into a buffer of the declared size.
void Uncompress(benchmark::State& state, bool allBest) {
    const std::vector<uint8_t>& pack = Pack(allBest);
    for (auto _ : state) {
        MemoryByteSource source(pack);
        PackReader reader(source);
        reader.ReadHeader();
        PackEntry entry;
        size_t read = 0;
        std::vector<uint8_t> in;
        while (reader.Next(entry) == PackStep::entry) {
            in.resize(entry.compressedSize);
            source.Read(in.data(), in.size());
            std::vector<char> out(size_t(entry.uncompressedSize) + 1, 0);
            uLongf size = entry.uncompressedSize;
            if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, in.data(), in.size()) != Z_OK)
                state.SkipWithError("damaged entry");
            read += size;
        }
        if (read != ContentBytes()) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * ContentBytes()));
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
