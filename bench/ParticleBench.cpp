// Cost of one particle frame: the update with every curve and the noise
// set, and the sorted quad arrays, for pools of 1,000 to 100,000.
#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <memory>
#include <string>

#include "particles/ObjectParticles.h"
#include "platform/Rand.h"
#include "playback/Production.h"
#include "resources/ResourceManager.h"
#include "scene/Object.h"

using namespace caldera;

namespace {

constexpr float kFrame = 1.0f / 60.0f;

// A curve of four points, so that every evaluation walks a real segment list.
std::string Curve(const char* name, float a, float b) {
    std::string s = std::string("<") + name + ">";
    for (int i = 0; i < 4; ++i)
        s += "<Point time=\"" + std::to_string(i / 3.0f) + "\" value=\"" + std::to_string(a + (b - a) * i / 3.0f) +
             "\"/>";
    return s + "</" + name + ">";
}

// A pool of `count` particles, all alive and spread over a sphere, with
// every curve, both velocity terms, spin and the noise in use.
std::unique_ptr<Object> FullSystem(int count) {
    std::string xml = "<Object><Particles><PCount value=\"" + std::to_string(count) +
                      "\"/><EmitRate value=\"1e7\"/><LifeMin value=\"1000\"/><LifeMax value=\"2000\"/>"
                      "<EmitterType type=\"sphere.volume\"/><EmitterSize x=\"10\" y=\"10\" z=\"10\"/>"
                      "<DrawMode type=\"draw.quads\"/><Wind x=\"0.1\" y=\"0.2\" z=\"0.3\"/>"
                      "<NoiseIntensity value=\"20\"/><NoiseFrequency value=\"0.5\"/><NoiseOffset x=\"1\"/>"
                      "<VelocityOverTime value=\"0.1\"/><RandomVelocityOverTime value=\"0.1\"/>"
                      "<Rotation x=\"1\" y=\"2\" z=\"3\"/><RandomRot value=\"90\"/>";
    for (const char* name : {"NoiseIntensityXOveLife", "NoiseIntensityYOveLife", "NoiseIntensityZOveLife",
                             "GravityXOverLife", "GravityYOverLife", "GravityZOverLife", "VelocityOverLife",
                             "RandomVelocityOverLife"})
        xml += Curve(name, 0, 5);
    for (const char* name : {"SizeOverLife", "RotationOveLife", "ColorAOverLife", "ColorROverLife",
                             "ColorGOverLife", "ColorBOverLife"})
        xml += Curve(name, 1, 0.2f);
    xml += "</Particles></Object>";
    pugi::xml_document doc;
    doc.load_string(xml.c_str());
    ConnectProduction(ResourceManager::Instance());
    auto object = std::make_unique<Object>();
    object->LoadXml(doc.child("Object"));
    SeedRand(1);
    object->particles->Update(kFrame);  // allocates and emits the whole pool
    return object;
}

void BM_ParticleUpdate(benchmark::State& state) {
    auto object = FullSystem(static_cast<int>(state.range(0)));
    for (auto _ : state) object->particles->Update(kFrame);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ParticleQuads(benchmark::State& state) {
    auto object = FullSystem(static_cast<int>(state.range(0)));
    ObjectParticles& p = *object->particles;
    const glm::vec3 camera(0.3f, 0.8f, 0.1f);
    for (auto _ : state) {
        // Particles move between frames: sort from the same unsorted state each time.
        benchmark::DoNotOptimize(p.BuildQuads(camera, glm::vec3(1, 2, 3)));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ParticleFrame(benchmark::State& state) {
    auto object = FullSystem(static_cast<int>(state.range(0)));
    ObjectParticles& p = *object->particles;
    const glm::vec3 camera(0.3f, 0.8f, 0.1f);
    for (auto _ : state) {
        p.Update(kFrame);
        benchmark::DoNotOptimize(p.BuildQuads(camera, glm::vec3(1, 2, 3)));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_ParticleUpdate)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParticleQuads)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParticleFrame)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
