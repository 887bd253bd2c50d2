// Looking up every entry of a pack of N small entries, once each: walking
// the pack from its first entry for every look-up (how the player once did
// it: N * N / 2 entry headers) against seeking straight to the entry
// through the offsets kept from the one walk at start-up (N seeks).
//
//   build/bench/pack_lookup_bench

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "resources/ByteSource.h"
#include "resources/PackReader.h"
#include "resources/PackWriter.h"

using namespace caldera;

namespace {

std::string EntryName(int i) {
    char name[64];
    std::snprintf(name, sizeof(name), "data/models/m%06d.obj", i);
    return name;
}

// A pack of `count` tiny models in the temporary folder, made once per size.
std::string PackOf(int count) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("demo-lookup-bench-" + std::to_string(count) + ".pack")).string();
    if (std::filesystem::exists(path)) return path;
    PackWriter writer;
    std::string error;
    writer.Open(path, error);
    for (int i = 0; i < count; ++i) writer.AddBytes(EntryName(i), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", error);
    writer.Finish(error);
    return path;
}

void Walk(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string pack = PackOf(count);
    for (auto _ : state) {
        for (int i = 0; i < count; ++i) {
            auto source = FileByteSource::Open(pack);
            benchmark::DoNotOptimize(LoadPackEntry(*source, pack, EntryName(i)));
        }
    }
    state.counters["look-ups/s"] = benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
}

void Seek(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string pack = PackOf(count);
    std::vector<std::string> files;
    // The list reader logs every entry: away from the table.
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    ReadPackFileList(pack, files);
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    for (auto _ : state) {
        for (int i = 0; i < count; ++i) benchmark::DoNotOptimize(LoadPackEntry(pack, EntryName(i)));
    }
    state.counters["look-ups/s"] = benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(Walk)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Seek)->Arg(1000)->Arg(4000)->Arg(16000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
