// OBJ parsing: SModelLoader against the previous parser and tinyobjloader on
// the same in-memory text: a large generated sphere (v/vt/vn, 1.5 million
// triangles, about 160 MB) and three small models shaped like exported game
// models. "ours-1thread" pins the loading thread to one core, which keeps the
// loader on that thread alone; "+arrays" adds the de-indexed vertex arrays.
// Prints MB/s with the ratio to tinyobjloader's parse, then the loaders'
// memory beyond their final arrays. Run under `taskset -c 0` for the
// single-core figures.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <tiny_obj_loader.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <new>
#include <optional>
#include <streambuf>
#include <string>

#include "bench/ThroughputTable.h"
#include "resources/SModelLoader.h"
#include "tests/LegacyObjParser.h"

using namespace caldera;

// Live heap bytes and their high-water mark, to measure what a parse holds.
namespace {
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};
}  // namespace

void* operator new(size_t size) {
    void* p = std::malloc(size);
    if (!p) throw std::bad_alloc();
    int64_t live = liveBytes.fetch_add(int64_t(malloc_usable_size(p))) + int64_t(malloc_usable_size(p));
    for (int64_t peak = peakBytes.load(); live > peak && !peakBytes.compare_exchange_weak(peak, live);) {
    }
    return p;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    liveBytes.fetch_sub(int64_t(malloc_usable_size(p)));
    std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

void Append(std::string& out, const char* format, auto... values) {
    char line[192];
    out.append(line, static_cast<size_t>(std::snprintf(line, sizeof(line), format, values...)));
}

// A UV sphere of `rings` x `segments` quads cut into triangles, written the
// way exporters write it: six decimals, v/vt/vn corners.
std::string Sphere(int rings, int segments, bool objectLines) {
    std::string out;
    out.reserve(size_t(rings + 1) * (segments + 1) * 90 + size_t(rings) * segments * 2 * 70);
    out += "# generated sphere\n";
    if (objectLines) out += "mtllib sphere.mtl\no sphere\n";
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s <= segments; ++s) {
            double theta = M_PI * r / rings, phi = 2 * M_PI * s / segments;
            Append(out, "v %.6f %.6f %.6f\n", std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi));
        }
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s <= segments; ++s) Append(out, "vt %.6f %.6f\n", double(s) / segments, 1.0 - double(r) / rings);
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s <= segments; ++s) {
            double theta = M_PI * r / rings, phi = 2 * M_PI * s / segments;
            Append(out, "vn %.4f %.4f %.4f\n", std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi));
        }
    if (objectLines) out += "usemtl skin\ns 1\n";
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            int a = r * (segments + 1) + s + 1, b = a + 1, c = a + segments + 1, d = c + 1;
            Append(out, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, b, b, b);
            Append(out, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", b, b, b, c, c, c, d, d, d);
        }
    return out;
}

// A model of quads with v//vn corners and groups, as some tools write.
std::string QuadGrid(int side) {
    std::string out = "o panel\n";
    for (int j = 0; j <= side; ++j)
        for (int i = 0; i <= side; ++i)
            Append(out, "v %.5f %.5f %.5f\n", i * 0.1 - 5.0, 0.3 * std::sin(i * 0.2) * std::cos(j * 0.3), j * 0.1 - 5.0);
    for (int j = 0; j <= side; ++j)
        for (int i = 0; i <= side; ++i) Append(out, "vn %.4f %.4f %.4f\n", 0.1 * std::sin(i * 0.2), 0.99, 0.1 * std::cos(j * 0.3));
    for (int j = 0; j < side; ++j) {
        if (j % 16 == 0) Append(out, "g strip%d\nusemtl m%d\n", j / 16, j % 3);
        for (int i = 0; i < side; ++i) {
            int a = j * (side + 1) + i + 1, b = a + 1, c = a + side + 2, d = a + side + 1;
            Append(out, "f %d//%d %d//%d %d//%d %d//%d\n", a, a, b, b, c, c, d, d);
        }
    }
    return out;
}

struct Model {
    const char* name;
    std::string text;
    size_t triangles;  // what every loader must find, checked on the way
};

std::vector<Model>& Models() {
    static std::vector<Model> models = [] {
        std::vector<Model> m;
        m.push_back({"sphere-160MB", Sphere(750, 1000, false), 1500000});
        m.push_back({"character-0.3MB", Sphere(36, 48, true), 36 * 48 * 2});
        m.push_back({"prop-0.6MB", Sphere(52, 72, true), 52 * 72 * 2});
        m.push_back({"panel-0.9MB", QuadGrid(96), 96 * 96 * 2});
        return m;
    }();
    return models;
}

// The loaders log five lines per load; /dev/null keeps them out of the report.
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

struct MemoryBuffer : std::streambuf {
    explicit MemoryBuffer(const std::string& s) {
        char* p = const_cast<char*>(s.data());
        setg(p, p, p + s.size());
    }
};

void Loaded(benchmark::State& state, const Model& model, size_t triangles) {
    if (triangles != model.triangles) state.SkipWithError("wrong triangle count");
}

// Restricts the calling thread to one of its cores while in scope.
class OneCore {
public:
    OneCore() {
        sched_getaffinity(0, sizeof saved, &saved);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &saved)) {
                CPU_SET(cpu, &one);
                break;
            }
        sched_setaffinity(0, sizeof one, &one);
    }
    ~OneCore() { sched_setaffinity(0, sizeof saved, &saved); }

private:
    cpu_set_t saved;
};

void Ours(benchmark::State& state, const Model* model, bool arrays, bool oneThread) {
    QuietStdout quiet;
    std::optional<OneCore> pinned;
    if (oneThread) pinned.emplace();
    for (auto _ : state) {
        SModelLoader loader;
        loader.LoadObjText(model->name, model->text.data(), model->text.size());
        if (arrays) benchmark::DoNotOptimize(VertexArrays(loader).tangents.data());
        Loaded(state, *model, loader.positionIndices.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(model->text.size()));
}

void Legacy(benchmark::State& state, const Model* model, bool arrays) {
    for (auto _ : state) {
        SModelLoader loader;
        LegacyLoadObjText(loader, model->text.data(), model->text.size());
        if (arrays) benchmark::DoNotOptimize(VertexArrays(loader).tangents.data());
        Loaded(state, *model, loader.positionIndices.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(model->text.size()));
}

void TinyObj(benchmark::State& state, const Model* model) {
    for (auto _ : state) {
        MemoryBuffer buffer(model->text);
        std::istream stream(&buffer);
        tinyobj::attrib_t attrib;
        std::vector<tinyobj::shape_t> shapes;
        std::vector<tinyobj::material_t> materials;
        std::string warn, err;
        tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &stream, nullptr, true);
        size_t indices = 0;
        for (const auto& shape : shapes) indices += shape.mesh.indices.size();
        Loaded(state, *model, indices / 3);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(model->text.size()));
}

// What a parse holds beyond its input and the final arrays it hands over:
// heap bytes allocated at its peak. (Resident memory says nothing here: a
// long-running benchmark reuses pages freed by the runs before.)
template <class Load>
void MeasureMemory(const char* who, const Model& model, Load&& load) {
    SModelLoader loader;
    int64_t liveBefore = liveBytes.load();
    peakBytes = liveBefore;
    load(loader);
    int64_t heapPeak = peakBytes.load() - liveBefore;
    int64_t final = int64_t(loader.positions.size() * 12 + loader.normals.size() * 12 + loader.uvs.size() * 8 +
                            loader.positionIndices.size() * 36);
    std::printf("%-8s %-16s final arrays %7.1f MB; heap beyond them at the peak %7.1f MB\n", who, model.name,
                final / 1e6, (heapPeak - final) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    for (const Model& model : Models()) {
        std::string base = model.name;
        const Model* m = &model;
        double seconds = model.text.size() > (10u << 20) ? 4.0 : 1.0;
        benchmark::RegisterBenchmark((base + "/tinyobj").c_str(), TinyObj, m)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "/legacy").c_str(), Legacy, m, false)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "/ours").c_str(), Ours, m, false, false)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "/ours-1thread").c_str(), Ours, m, false, true)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "/legacy+arrays").c_str(), Legacy, m, true)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "/ours+arrays").c_str(), Ours, m, true, false)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "/ours-1thread+arrays").c_str(), Ours, m, true, true)->MinTime(seconds)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    ThroughputTable table;
    benchmark::RunSpecifiedBenchmarks(&table);
    table.Print("tinyobj");

    std::printf("\n");
    for (const Model& model : Models()) {
        MeasureMemory("legacy", model, [&](SModelLoader& l) { LegacyLoadObjText(l, model.text.data(), model.text.size()); });
        MeasureMemory("ours", model, [&](SModelLoader& l) {
            QuietStdout quiet;
            l.LoadObjText(model.name, model.text.data(), model.text.size());
        });
    }
    return 0;
}
