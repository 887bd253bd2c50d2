// Parses one large generated OBJ text with SModelLoader and with tinyobjloader.
// The model is a height-field grid of v/vt/vn quads (over a million triangles)
// written with six decimals, the way exporters write them.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <istream>
#include <streambuf>
#include <string>

#include "resources/SModelLoader.h"

namespace {

constexpr int kGrid = 710;  // vertices per side: 709 x 709 quads, 1,005,362 triangles

const std::string& ModelText() {
    static const std::string text = [] {
        std::string out;
        out.reserve(size_t{80} << 20);
        char line[160];
        out += "# generated grid\no grid\n";
        for (int j = 0; j < kGrid; ++j)
            for (int i = 0; i < kGrid; ++i) {
                float x = i * 0.01f - 3.5f, z = j * 0.01f - 3.5f;
                float y = 0.25f * std::sin(x * 3.0f) * std::cos(z * 2.0f);
                out.append(line, std::snprintf(line, sizeof(line), "v %.6f %.6f %.6f\n", x, y, z));
            }
        for (int j = 0; j < kGrid; ++j)
            for (int i = 0; i < kGrid; ++i)
                out.append(line, std::snprintf(line, sizeof(line), "vt %.6f %.6f\n", i / (kGrid - 1.0), j / (kGrid - 1.0)));
        for (int j = 0; j < kGrid; ++j)
            for (int i = 0; i < kGrid; ++i) {
                float nx = std::sin(i * 0.05f) * 0.3f, nz = std::cos(j * 0.07f) * 0.3f;
                float ny = std::sqrt(1.0f - nx * nx - nz * nz);
                out.append(line, std::snprintf(line, sizeof(line), "vn %.6f %.6f %.6f\n", nx, ny, nz));
            }
        out += "s 1\n";
        for (int j = 0; j + 1 < kGrid; ++j)
            for (int i = 0; i + 1 < kGrid; ++i) {
                int a = j * kGrid + i + 1, b = a + 1, c = a + kGrid + 1, d = a + kGrid;
                out.append(line, std::snprintf(line, sizeof(line), "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b,
                                               b, b, c, c, c, d, d, d));
            }
        return out;
    }();
    return text;
}

// The loader logs five progress lines per load; they go to /dev/null while
// timing so that they neither cost terminal time nor break the report.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }

private:
    int saved;
};

// An istream over the text without copying it.
struct MemoryBuffer : std::streambuf {
    MemoryBuffer(const std::string& s) {
        char* p = const_cast<char*>(s.data());
        setg(p, p, p + s.size());
    }
};

void BM_SModelLoader(benchmark::State& state) {
    const std::string& text = ModelText();
    QuietStdout quiet;
    for (auto _ : state) {
        SModelLoader loader;
        loader.LoadObjText("grid.obj", text.data(), text.size());
        benchmark::DoNotOptimize(loader.triangleCount);
        if (loader.triangleCount != 2 * (kGrid - 1) * (kGrid - 1)) state.SkipWithError("wrong triangle count");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// Parse plus the de-indexed arrays a Mesh uploads: the whole CPU side of a load.
void BM_SModelLoaderWithVertexArrays(benchmark::State& state) {
    const std::string& text = ModelText();
    QuietStdout quiet;
    for (auto _ : state) {
        SModelLoader loader;
        loader.LoadObjText("grid.obj", text.data(), text.size());
        ModelVertexArrays arrays = VertexArrays(loader);
        benchmark::DoNotOptimize(arrays.tangents.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_TinyObjLoader(benchmark::State& state) {
    const std::string& text = ModelText();
    for (auto _ : state) {
        MemoryBuffer buffer(text);
        std::istream stream(&buffer);
        tinyobj::attrib_t attrib;
        std::vector<tinyobj::shape_t> shapes;
        std::vector<tinyobj::material_t> materials;
        std::string warn, err;
        bool ok = tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &stream, nullptr, true);
        benchmark::DoNotOptimize(attrib.vertices.data());
        if (!ok || shapes.empty() || shapes[0].mesh.indices.size() != size_t{6} * (kGrid - 1) * (kGrid - 1))
            state.SkipWithError("tinyobjloader failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(BM_SModelLoader)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_TinyObjLoader)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_SModelLoaderWithVertexArrays)->Unit(benchmark::kMillisecond)->MinTime(3.0);

BENCHMARK_MAIN();
