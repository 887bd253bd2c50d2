// demogen: makes the bundled production's music, models and textures from
// code, so that every byte of content in demo/ can be made again.
//
//   demogen music OUT.wav      96 s at 120 beats a minute, 44.1 kHz mono
//   demogen models DIR         OBJ files with positions, uvs and normals
//   demogen textures DIR       colour, normal, blurriness, shadow-mask and lens-dirt images
//   demogen sheet OUT.png COLUMNS IN.png...   tiles captures of one size into a contact sheet
//   demogen new DIR            a starter production to play and edit (needs lame)
//
// Everything is deterministic: the same build writes the same files.
// scripts/make-content.sh runs all three and encodes the music.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include <stb/stb_image.h>

#include "platform/File.h"
#include "platform/ImageFile.h"
#include "platform/OutputFile.h"
#include "platform/QuitSignal.h"
#include "tools/ChildProcess.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>
#endif
#include "platform/Version.h"

using namespace caldera;

namespace fs = std::filesystem;

namespace {

constexpr float kPi = 3.14159265358979f;

// ---------------------------------------------------------------- noise

uint32_t Hash(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

float Lattice(int x, int y, int seed) { return float(Hash(x, y, seed) & 0xffff) / 65535.0f; }

// Smooth value noise in [0, 1]; period wraps the lattice so images tile.
float ValueNoise(float x, float y, int seed, int period = 0) {
    int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    float fx = x - float(x0), fy = y - float(y0);
    auto wrap = [period](int v) { return period > 0 ? ((v % period) + period) % period : v; };
    float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    float a = Lattice(wrap(x0), wrap(y0), seed), b = Lattice(wrap(x0 + 1), wrap(y0), seed);
    float c = Lattice(wrap(x0), wrap(y0 + 1), seed), d = Lattice(wrap(x0 + 1), wrap(y0 + 1), seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}

float Fbm(float x, float y, int seed, int octaves, int period = 0) {
    float sum = 0, amp = 0.5f, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += ValueNoise(x, y, seed + i * 17, period) * amp;
        norm += amp;
        x *= 2;
        y *= 2;
        if (period) period *= 2;
        amp *= 0.5f;
    }
    return sum / norm;
}

// ---------------------------------------------------------------- music

struct Track {
    static constexpr int kRate = 44100;
    std::vector<float> mix;
    std::vector<float> duck;  // 1 = full level, dips under every kick

    explicit Track(double seconds) : mix(size_t(seconds * kRate), 0.0f), duck(mix.size(), 1.0f) {}
    size_t At(double t) const { return size_t(std::max(0.0, t) * kRate); }
};

float NoteHz(int midi) { return 440.0f * std::pow(2.0f, float(midi - 69) / 12.0f); }

uint32_t g_noiseState = 22222;
float WhiteNoise() {
    g_noiseState = g_noiseState * 1664525u + 1013904223u;
    return float(g_noiseState >> 8) / float(1 << 24) * 2.0f - 1.0f;
}

void Kick(Track& track, double t, float level) {
    size_t start = track.At(t);
    float phase = 0;
    for (size_t i = 0; i < size_t(0.45 * Track::kRate) && start + i < track.mix.size(); ++i) {
        float s = float(i) / Track::kRate;
        float hz = 45.0f + 110.0f * std::exp(-s * 28.0f);
        phase += 2 * kPi * hz / Track::kRate;
        float v = std::sin(phase) * std::exp(-s * 7.0f) + 0.3f * std::exp(-s * 300.0f) * WhiteNoise();
        track.mix[start + i] += v * level;
        float d = 1.0f - 0.75f * std::exp(-s * 9.0f);
        track.duck[start + i] = std::min(track.duck[start + i], d);
    }
}

void Snare(Track& track, double t, float level) {
    size_t start = track.At(t);
    float low = 0, phase = 0;
    for (size_t i = 0; i < size_t(0.3 * Track::kRate) && start + i < track.mix.size(); ++i) {
        float s = float(i) / Track::kRate;
        float n = WhiteNoise();
        low += (n - low) * 0.35f;
        phase += 2 * kPi * 185.0f / Track::kRate;
        float v = (n - low) * 0.8f * std::exp(-s * 14.0f) + std::sin(phase) * 0.5f * std::exp(-s * 30.0f);
        track.mix[start + i] += v * level;
    }
}

void Hat(Track& track, double t, float level, float decay) {
    size_t start = track.At(t);
    float prev = 0;
    for (size_t i = 0; i < size_t(0.25 * Track::kRate) && start + i < track.mix.size(); ++i) {
        float s = float(i) / Track::kRate;
        float n = WhiteNoise();
        float high = n - prev;  // a first difference keeps only the hiss
        prev = n;
        track.mix[start + i] += high * 0.5f * std::exp(-s * decay) * level;
    }
}

// A subtractive voice: detuned saws through a one-pole low-pass whose cut-off
// follows its own envelope; "ducked" voices sit under the kick.
void Synth(Track& track, double t, double length, int midi, float level, float cutoff, float attack, float release,
           int voices, bool ducked, float vibrato = 0.0f) {
    size_t start = track.At(t);
    size_t total = size_t((length + release) * Track::kRate);
    float hz = NoteHz(midi);
    std::vector<float> phase(size_t(voices), 0.0f);
    float low = 0, low2 = 0;
    for (size_t i = 0; i < total && start + i < track.mix.size(); ++i) {
        float s = float(i) / Track::kRate;
        float env = std::min(1.0f, s / attack);
        if (s > length) env *= std::exp(-(s - float(length)) / (release * 0.3f));
        float v = 0;
        for (int k = 0; k < voices; ++k) {
            float detune = 1.0f + 0.006f * float(k - voices / 2);
            float vib = 1.0f + vibrato * std::sin(2 * kPi * 5.5f * s) * std::min(1.0f, s * 2);
            phase[size_t(k)] += hz * detune * vib / Track::kRate;
            phase[size_t(k)] -= std::floor(phase[size_t(k)]);
            v += phase[size_t(k)] * 2 - 1;
        }
        v /= float(voices);
        float c = std::min(0.99f, cutoff * (0.4f + 0.6f * env) / Track::kRate * 2 * kPi);
        low += (v - low) * c;
        low2 += (low - low2) * c;
        float out = low2 * env * level;
        if (ducked) out *= track.duck[start + i];
        track.mix[start + i] += out;
    }
}

// A plucked tone with an echo three sixteenths later.
void Pluck(Track& track, double t, int midi, float level, double sixteenth) {
    for (int echo = 0; echo < 3; ++echo) {
        size_t start = track.At(t + echo * 3 * sixteenth);
        float gain = level * std::pow(0.45f, float(echo));
        float phase = 0, hz = NoteHz(midi);
        for (size_t i = 0; i < size_t(0.4 * Track::kRate) && start + i < track.mix.size(); ++i) {
            float s = float(i) / Track::kRate;
            phase += hz / Track::kRate;
            phase -= std::floor(phase);
            float tri = 4 * std::fabs(phase - 0.5f) - 1;
            float sq = phase < 0.5f ? 0.6f : -0.6f;
            track.mix[start + i] += (tri * 0.7f + sq * 0.3f * std::exp(-s * 20)) * std::exp(-s * 9.0f) * gain;
        }
    }
}

void Riser(Track& track, double t, double length, float level) {
    size_t start = track.At(t);
    float low = 0;
    for (size_t i = 0; i < size_t(length * Track::kRate) && start + i < track.mix.size(); ++i) {
        float x = float(i) / float(length * Track::kRate);
        float c = 0.02f + 0.5f * x * x;
        low += (WhiteNoise() - low) * c;
        track.mix[start + i] += low * x * x * level;
    }
}

void Crash(Track& track, double t, float level) {
    size_t start = track.At(t);
    float prev = 0;
    for (size_t i = 0; i < size_t(2.5 * Track::kRate) && start + i < track.mix.size(); ++i) {
        float s = float(i) / Track::kRate;
        float n = WhiteNoise();
        track.mix[start + i] += (n - prev * 0.5f) * std::exp(-s * 1.8f) * level;
        prev = n;
    }
}

// Every output is written whole or not at all (platform/OutputFile.h); a
// quit signal abandons the one being written.
bool Report(bool written, const std::string& error) {
    if (!written && !QuitSignalled()) std::fprintf(stderr, "demogen: %s\n", error.c_str());
    return written;
}

bool Commit(OutputFile& out) {
    std::string error;
    if (QuitSignalled()) {
        out.Abandon();
        return false;
    }
    return Report(out.Commit(error), error);
}

// A 16-bit mono WAV file's bytes.
std::string WavBytes(const std::vector<float>& samples) {
    std::string bytes;
    auto put = [&bytes](const void* data, size_t size) { bytes.append(static_cast<const char*>(data), size); };
    auto u32 = [&put](uint32_t v) { put(&v, 4); };
    auto u16 = [&put](uint16_t v) { put(&v, 2); };
    uint32_t dataBytes = uint32_t(samples.size() * 2);
    put("RIFF", 4);
    u32(36 + dataBytes);
    put("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(Track::kRate);
    u32(Track::kRate * 2);
    u16(2);
    u16(16);
    put("data", 4);
    u32(dataBytes);
    for (float s : samples) {
        int16_t v = int16_t(std::lround(std::clamp(s, -1.0f, 1.0f) * 32000.0f));
        put(&v, 2);
    }
    return bytes;
}

bool WriteWav(const std::string& path, const std::vector<float>& samples) {
    OutputFile out;
    std::string error;
    if (!Report(out.Open(path, error), error)) return false;
    const std::string bytes = WavBytes(samples);
    out.Write(bytes.data(), bytes.size());
    return Commit(out);
}

// Where the sections of a piece start, in bars. The bundled production's
// 48 bars are the default; the starter production plays a short one.
struct Arrangement {
    int bars = 48;
    int hatsFrom = 4;
    int buildFrom = 8;   // kick and bass come in
    int clapsFrom = 12;
    int peakFrom = 20;   // the drop: the lead, a crash
    int outroFrom = 40;
    int kickUntil = 44;
    int bassUntil = 46;  // bass and hats
    int riserBars = 4;
    std::vector<int> crashes{20, 30, 40};
};

// At 120 beats a minute, one bar every 2 s, in A minor, chords Am F C G.
// Intro: pad and echoing plucks, hats from hatsFrom. Build: kick, bass, a
// snare roll and a riser into the peak. Peak: the lead, claps and crashes.
// Outro: the kick leaves, the pad fades out.
std::vector<float> Compose(const Arrangement& a) {
    constexpr double kBeat = 0.5, kBar = 4 * kBeat, kSixteenth = kBeat / 4;
    Track track(a.bars * kBar + 2.0);
    const int chordRoots[4] = {57, 53, 48, 55};  // A3 F3 C3 G3
    const int chordThirds[4] = {3, 4, 4, 4};
    // Kick first: the ducking envelope it leaves shapes everything drawn after.
    for (int bar = a.buildFrom; bar < a.kickUntil; ++bar)
        for (int beat = 0; beat < 4; ++beat) {
            if (bar == a.peakFrom - 1 && beat >= 2) continue;  // a breath before the drop
            Kick(track, bar * kBar + beat * kBeat, 0.7f);
        }
    const float introBars = float(a.buildFrom), outroBars = float(a.bars - a.outroFrom);
    for (int bar = 0; bar < a.bars; ++bar) {
        double t0 = bar * kBar;
        int c = bar % 4;
        int root = chordRoots[c], third = root + chordThirds[c], fifth = root + 7;
        bool intro = bar < a.buildFrom, build = bar >= a.buildFrom && bar < a.peakFrom,
             peak = bar >= a.peakFrom && bar < a.outroFrom, outro = bar >= a.outroFrom;
        float fade = outro ? std::max(0.0f, 1.0f - float(bar - a.outroFrom) / outroBars) : 1.0f;
        float introRise = intro ? 0.4f + 0.6f * float(bar) / introBars : 1.0f;
        // Pad: the triad over a low root, opening up as the track builds.
        float padCut = intro ? 500.0f + 960.0f * float(bar) / introBars : build ? 1400.0f : peak ? 2400.0f : 1200.0f;
        for (int note : {root - 12, root, third, fifth})
            Synth(track, t0, kBar, note, 0.14f * introRise * fade, padCut, 0.4f, 0.8f, 3, !intro);
        // Echoing plucks on the chord tones, sixteenths in the peak.
        int pattern[8] = {0, 2, 1, 2, 3, 2, 1, 2};
        int tones[4] = {root + 12, third + 12, fifth + 12, root + 24};
        int step = peak ? 1 : 2;
        for (int s = 0; s < 16; s += step)
            Pluck(track, t0 + s * kSixteenth, tones[pattern[(s / step) % 8]], 0.18f * fade * (intro ? introRise : 1.0f),
                  kSixteenth);
        // Bass: eighths on the root, an octave jump on the last one.
        if (!intro && bar < a.bassUntil)
            for (int e = 0; e < 8; ++e)
                Synth(track, t0 + e * 2 * kSixteenth, 1.6 * kSixteenth, root - 24 + (e == 7 ? 12 : 0),
                      0.32f * fade, peak ? 900.0f : 600.0f, 0.005f, 0.05f, 2, true);
        // Hats on the offbeats, sixteenths in the peak.
        if (bar >= a.hatsFrom && bar < a.bassUntil) {
            for (int beat = 0; beat < 4; ++beat) Hat(track, t0 + beat * kBeat + kBeat / 2, 0.22f * fade, 18.0f);
            if (peak)
                for (int s = 0; s < 16; ++s)
                    if (s % 2 == 1) Hat(track, t0 + s * kSixteenth, 0.1f, 60.0f);
        }
        // Claps on two and four from the build on.
        if ((build && bar >= a.clapsFrom) || peak || (outro && bar < a.kickUntil)) {
            Snare(track, t0 + kBeat, 0.35f * fade);
            Snare(track, t0 + 3 * kBeat, 0.35f * fade);
        }
        // Lead: a falling and rising figure in the peak.
        if (peak) {
            const int melody[4][4] = {{76, 74, 72, 69}, {72, 74, 76, 77}, {79, 76, 74, 72}, {74, 71, 72, 74}};
            const double lengths[4] = {1.5, 0.5, 1.0, 1.0};
            double at = t0;
            for (int n = 0; n < 4; ++n) {
                Synth(track, at, lengths[n] * kBeat * 0.95, melody[c][n], 0.12f, 3200.0f, 0.01f, 0.25f, 2, true, 0.006f);
                at += lengths[n] * kBeat;
            }
        }
    }
    // The snare roll and the riser into the drop.
    for (int s = 0; s < 16; ++s)
        Snare(track, (a.peakFrom - 1) * kBar + 2 * kBeat + s * kSixteenth / 2, 0.1f + 0.02f * float(s));
    Riser(track, (a.peakFrom - a.riserBars) * kBar, a.riserBars * kBar, 0.5f);
    const float crashLevels[3] = {0.35f, 0.3f, 0.25f};
    for (size_t i = 0; i < a.crashes.size(); ++i) Crash(track, a.crashes[i] * kBar, crashLevels[std::min<size_t>(i, 2)]);
    // Master: a gentle saturation, then peak normalisation.
    float peakLevel = 0;
    for (float& s : track.mix) {
        s = std::tanh(s * 1.2f);
        peakLevel = std::max(peakLevel, std::fabs(s));
    }
    for (float& s : track.mix) s *= 0.95f / std::max(peakLevel, 1e-3f);
    // Trim to the bars and a fade of the last half second.
    track.mix.resize(size_t(a.bars * kBar * Track::kRate));
    size_t tail = Track::kRate / 2;
    for (size_t i = 0; i < tail; ++i) track.mix[track.mix.size() - 1 - i] *= float(i) / float(tail);
    return track.mix;
}

int MakeMusic(const std::string& out) { return WriteWav(out, Compose(Arrangement{})) ? 0 : 1; }

// ---------------------------------------------------------------- models

struct Vec3 {
    float x = 0, y = 0, z = 0;
};
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(Vec3 a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
Vec3 Normalise(Vec3 a) {
    float l = Length(a);
    return l > 1e-8f ? a * (1.0f / l) : Vec3{0, 1, 0};
}

struct Model {
    std::vector<Vec3> positions;
    std::vector<std::pair<float, float>> uvs;
    std::vector<Vec3> normals;
    std::vector<std::array<int, 3>> triangles;
    bool flat = false;  // facets: every triangle its own normal

    int Add(Vec3 p, float u, float v) {
        positions.push_back(p);
        uvs.push_back({u, v});
        return int(positions.size()) - 1;
    }
    void Tri(int a, int b, int c) { triangles.push_back({a, b, c}); }
    void Quad(int a, int b, int c, int d) {
        Tri(a, b, c);
        Tri(a, c, d);
    }
    void Append(const Model& other) {
        int base = int(positions.size());
        positions.insert(positions.end(), other.positions.begin(), other.positions.end());
        uvs.insert(uvs.end(), other.uvs.begin(), other.uvs.end());
        for (auto t : other.triangles) Tri(t[0] + base, t[1] + base, t[2] + base);
    }
};

// A surface over a (u, v) grid; points share positions along wrapped seams,
// and the smooth normals below weld them, so seams do not show.
Model Grid(int nu, int nv, const std::function<Vec3(float, float)>& at, float uScale = 1, float vScale = 1) {
    Model m;
    for (int j = 0; j <= nv; ++j)
        for (int i = 0; i <= nu; ++i) {
            float u = float(i) / float(nu), v = float(j) / float(nv);
            m.Add(at(u, v), u * uScale, v * vScale);
        }
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; ++i) {
            int a = j * (nu + 1) + i;
            m.Quad(a, a + 1, a + nu + 2, a + nu + 1);
        }
    return m;
}

// Smooth normals, welded by position so that seams of wrapped grids match.
void SmoothNormals(Model& m) {
    std::map<std::tuple<long, long, long>, Vec3> sum;
    auto key = [](Vec3 p) { return std::make_tuple(std::lround(p.x * 1e4f), std::lround(p.y * 1e4f), std::lround(p.z * 1e4f)); };
    for (auto t : m.triangles) {
        Vec3 n = Cross(m.positions[size_t(t[1])] - m.positions[size_t(t[0])], m.positions[size_t(t[2])] - m.positions[size_t(t[0])]);
        for (int k : t) {
            Vec3& s = sum[key(m.positions[size_t(k)])];
            s = s + n;
        }
    }
    m.normals.clear();
    for (Vec3 p : m.positions) m.normals.push_back(Normalise(sum[key(p)]));
}

bool WriteObj(const fs::path& path, Model m, const char* comment) {
    OutputFile out;
    std::string error;
    if (!Report(out.Open(path.string(), error), error)) return false;
    FILE* f = out.Stream();
    std::fprintf(f, "# %s\n# made by demogen models\no %s\n", comment, path.stem().string().c_str());
    if (m.flat) {
        // One vertex, uv and normal per corner.
        for (auto t : m.triangles) {
            Vec3 n = Normalise(Cross(m.positions[size_t(t[1])] - m.positions[size_t(t[0])], m.positions[size_t(t[2])] - m.positions[size_t(t[0])]));
            for (int k : t) {
                Vec3 p = m.positions[size_t(k)];
                std::fprintf(f, "v %.4f %.4f %.4f\nvt %.4f %.4f\nvn %.4f %.4f %.4f\n", p.x, p.y, p.z, m.uvs[size_t(k)].first,
                             m.uvs[size_t(k)].second, n.x, n.y, n.z);
            }
        }
        for (size_t i = 0; i < m.triangles.size(); ++i)
            std::fprintf(f, "f %zu/%zu/%zu %zu/%zu/%zu %zu/%zu/%zu\n", 3 * i + 1, 3 * i + 1, 3 * i + 1, 3 * i + 2, 3 * i + 2,
                         3 * i + 2, 3 * i + 3, 3 * i + 3, 3 * i + 3);
    } else {
        if (m.normals.size() != m.positions.size()) SmoothNormals(m);
        for (size_t i = 0; i < m.positions.size(); ++i) {
            Vec3 p = m.positions[i], n = m.normals[i];
            std::fprintf(f, "v %.4f %.4f %.4f\nvt %.4f %.4f\nvn %.4f %.4f %.4f\n", p.x, p.y, p.z, m.uvs[i].first, m.uvs[i].second,
                         n.x, n.y, n.z);
        }
        for (auto t : m.triangles)
            std::fprintf(f, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", t[0] + 1, t[0] + 1, t[0] + 1, t[1] + 1, t[1] + 1, t[1] + 1, t[2] + 1,
                         t[2] + 1, t[2] + 1);
    }
    return Commit(out);
}

// A surface of revolution about Y through (radius, height) points, with an
// optional ripple around it (the flutes of a column).
Model Lathe(const std::vector<std::pair<float, float>>& profile, int around, const std::function<float(float, float)>& ripple) {
    int nv = int(profile.size()) - 1;
    return Grid(
        around, nv,
        [&](float u, float v) {
            float exact = v * float(nv);
            int j = std::min(nv, int(std::lround(exact)));
            auto [r, y] = profile[size_t(j)];
            float a = u * 2 * kPi;
            r *= ripple(a, y);
            return Vec3{r * std::cos(a), y, r * std::sin(a)};
        },
        2, 2);
}

Model Terrain() {
    // A valley running along Z between ridges, with rocky detail.
    Model m = Grid(48, 48, [](float u, float v) {
        float x = u * 2 - 1, z = v * 2 - 1;
        float valley = std::pow(std::fabs(x + 0.05f * std::sin(z * 3.0f)), 1.4f);
        float h = valley * 0.55f + (Fbm(u * 6, v * 6, 3, 5) - 0.5f) * 0.18f * (0.3f + valley);
        return Vec3{x, h, z};
    }, 6, 6);
    return m;
}

Model Column() {
    std::vector<std::pair<float, float>> profile = {
        {0.0f, 0.0f},   {0.34f, 0.0f},  {0.34f, 0.08f}, {0.28f, 0.12f}, {0.22f, 0.16f}, {0.2f, 0.3f},   {0.2f, 0.6f},
        {0.195f, 0.9f}, {0.19f, 1.2f},  {0.185f, 1.5f}, {0.18f, 1.75f}, {0.2f, 1.8f},   {0.27f, 1.86f}, {0.33f, 1.9f},
        {0.33f, 2.0f},  {0.0f, 2.0f}};
    return Lathe(profile, 40, [](float a, float y) {
        bool shaft = y > 0.25f && y < 1.76f;
        return shaft ? 1.0f + 0.06f * std::cos(a * 16) : 1.0f;
    });
}

Model TorusKnot(int p, int q, float tube, int segments, int sides) {
    auto curve = [p, q](float t) {
        float r = 0.7f + 0.3f * std::cos(float(q) * t);
        return Vec3{r * std::cos(float(p) * t), 0.3f * std::sin(float(q) * t), r * std::sin(float(p) * t)};
    };
    return Grid(segments, sides, [&](float u, float v) {
        float t = u * 2 * kPi;
        Vec3 c = curve(t), next = curve(t + 0.001f);
        Vec3 tangent = Normalise(next - c);
        Vec3 side = Normalise(Cross(tangent, Vec3{0, 1, 0}));
        Vec3 up = Cross(side, tangent);
        float a = v * 2 * kPi;
        return c + side * (tube * std::cos(a)) + up * (tube * std::sin(a));
    }, 16, 2);
}

Model Torus(float major, float minor, int segments, int sides) {
    return Grid(segments, sides, [&](float u, float v) {
        float a = u * 2 * kPi, b = v * 2 * kPi;
        float r = major + minor * std::cos(b);
        return Vec3{r * std::cos(a), minor * std::sin(b), r * std::sin(a)};
    }, 8, 2);
}

Model Sphere(int segments, int rings) {
    return Grid(segments, rings, [](float u, float v) {
        float a = u * 2 * kPi, b = v * kPi;
        return Vec3{std::sin(b) * std::cos(a), std::cos(b), std::sin(b) * std::sin(a)};
    }, 2, 1);
}

Model Asteroid() {
    Model m = Grid(24, 14, [](float u, float v) {
        float a = u * 2 * kPi, b = v * kPi;
        Vec3 d{std::sin(b) * std::cos(a), std::cos(b), std::sin(b) * std::sin(a)};
        float r = 0.75f + 0.4f * Fbm(d.x * 1.7f + 5, d.y * 1.7f + d.z * 1.3f + 5, 11, 4);
        return d * r;
    }, 2, 1);
    return m;
}

// A crystal: a seven-sided prism, leaning and uneven, with a long point on
// top and a short one below; facets keep their own normals.
Model Crystal() {
    Model m;
    m.flat = true;
    constexpr int kSides = 7;
    std::vector<int> low, high;
    for (int i = 0; i < kSides; ++i) {
        float a = float(i) / kSides * 2 * kPi;
        float r = 0.25f + 0.08f * Lattice(i, 1, 5);
        float lean = 0.05f * Lattice(i, 2, 5);
        low.push_back(m.Add({r * std::cos(a), 0.2f, r * std::sin(a)}, float(i) / kSides, 0.8f));
        high.push_back(m.Add({r * 0.9f * std::cos(a) + lean, 1.2f + 0.15f * Lattice(i, 3, 5), r * 0.9f * std::sin(a)},
                             float(i) / kSides, 0.25f));
    }
    int top = m.Add({0.06f, 1.75f, 0.02f}, 0.5f, 0.0f), bottom = m.Add({0, -0.1f, 0}, 0.5f, 1.0f);
    for (int i = 0; i < kSides; ++i) {
        int j = (i + 1) % kSides;
        m.Quad(low[size_t(i)], high[size_t(i)], high[size_t(j)], low[size_t(j)]);
        m.Tri(high[size_t(i)], top, high[size_t(j)]);
        m.Tri(low[size_t(j)], bottom, low[size_t(i)]);
    }
    return m;
}

// A shard for particles: a flattened, uneven tetrahedron pair.
Model Shard() {
    Model m;
    m.flat = true;
    int a = m.Add({0, 0.5f, 0}, 0.5f, 0), b = m.Add({0.2f, 0, 0.1f}, 1, 1), c = m.Add({-0.18f, 0, 0.12f}, 0, 1),
        d = m.Add({0.02f, 0, -0.15f}, 0.5f, 1), e = m.Add({0, -0.3f, 0}, 0.5f, 0);
    m.Tri(a, b, c);
    m.Tri(a, c, d);
    m.Tri(a, d, b);
    m.Tri(e, c, b);
    m.Tri(e, d, c);
    m.Tri(e, b, d);
    return m;
}

// A tunnel along -Z, 40 units long, radius 2, ribbed every 2 units; seen from inside.
Model Tunnel() {
    Model m = Grid(32, 80, [](float u, float v) {
        float a = u * 2 * kPi, z = -v * 40.0f;
        float rib = std::pow(std::max(0.0f, std::cos(z * kPi)), 16.0f);
        float r = 2.0f - 0.18f * rib + 0.05f * std::cos(a * 8);
        return Vec3{r * std::cos(a), r * std::sin(a), z};
    }, 4, 20);
    return m;
}

// A box from one corner to the other, each face with its own normal.
// A floor: one quad in the XZ plane, 2 units wide, facing up.
Model Plane() { return Grid(1, 1, [](float u, float v) { return Vec3{2 * u - 1, 0, 1 - 2 * v}; }); }

Model Box(Vec3 lo, Vec3 hi) {
    Model m;
    m.flat = true;
    Vec3 c[8];
    for (int i = 0; i < 8; ++i) c[i] = {i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z};
    int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (auto& f : faces) {
        int v[4];
        for (int k = 0; k < 4; ++k) v[k] = m.Add(c[f[k]], k == 1 || k == 2 ? 1.0f : 0.0f, k >= 2 ? 1.0f : 0.0f);
        m.Quad(v[0], v[1], v[2], v[3]);
    }
    return m;
}

// A ship pointing down -Z: a lofted hull whose section narrows to the nose,
// swept wings, a tail fin and two engine pods.
Model Ship() {
    auto section = [](float v) {
        // v 0 at the tail, 1 at the nose
        float width = v < 0.7f ? 0.45f - 0.1f * v : 0.38f * std::sqrt(std::max(0.0f, (1 - v) / 0.3f));
        float height = width * 0.55f;
        return std::make_pair(width, height);
    };
    Model hull = Grid(20, 24, [&](float u, float v) {
        auto [w, h] = section(v);
        float a = u * 2 * kPi;
        float c = std::cos(a), s = std::sin(a);
        // A rounded diamond: flat belly, raised spine.
        float y = s > 0 ? h * std::pow(s, 0.8f) : 0.5f * h * s;
        return Vec3{w * c, y, 1.2f - v * 3.0f};
    }, 2, 3);
    Model parts;
    parts.flat = true;
    auto wing = [&](float side) {
        int a = parts.Add({0.3f * side, 0.0f, 0.9f}, 0, 0), b = parts.Add({1.6f * side, -0.05f, 1.1f}, 1, 0),
            c = parts.Add({1.5f * side, -0.05f, 0.7f}, 1, 1), d = parts.Add({0.3f * side, 0.0f, -0.6f}, 0, 1);
        int a2 = parts.Add({0.3f * side, 0.06f, 0.9f}, 0, 0), b2 = parts.Add({1.6f * side, 0.0f, 1.1f}, 1, 0),
            c2 = parts.Add({1.5f * side, 0.0f, 0.7f}, 1, 1), d2 = parts.Add({0.3f * side, 0.06f, -0.6f}, 0, 1);
        parts.Quad(a, b, c, d);
        parts.Quad(a2, d2, c2, b2);
        parts.Quad(a, a2, b2, b);
        parts.Quad(b, b2, c2, c);
        parts.Quad(c, c2, d2, d);
    };
    wing(1);
    wing(-1);
    int f0 = parts.Add({0, 0.2f, 1.1f}, 0, 1), f1 = parts.Add({0, 0.75f, 1.25f}, 0, 0), f2 = parts.Add({0, 0.2f, 0.4f}, 1, 1);
    parts.Tri(f0, f1, f2);
    parts.Tri(f0, f2, f1);
    for (float side : {-1.0f, 1.0f}) parts.Append(Box({0.45f * side - 0.12f, -0.15f, 0.6f}, {0.45f * side + 0.12f, 0.08f, 1.45f}));
    Model out;
    out.flat = true;  // faceted all over: the hull reads as plates
    out.Append(hull);
    out.Append(parts);
    return out;
}

int MakeModels(const fs::path& dir) {
    fs::create_directories(dir);
    struct Item {
        const char* file;
        Model model;
        const char* comment;
    };
    std::vector<Item> items;
    items.push_back({"terrain.obj", Terrain(), "a valley between ridges, 2 x 2 units, heights 0 to about 0.7"});
    items.push_back({"column.obj", Column(), "a fluted column with base and capital, 2 units tall"});
    items.push_back({"knot.obj", TorusKnot(2, 3, 0.12f, 180, 12), "a (2,3) torus knot, about 2 units across"});
    items.push_back({"torus.obj", Torus(1.0f, 0.08f, 64, 12), "a thin ring of radius 1 in the XZ plane"});
    items.push_back({"sphere.obj", Sphere(40, 20), "a unit sphere"});
    items.push_back({"asteroid.obj", Asteroid(), "a lumpy rock about 1 unit in radius"});
    items.push_back({"crystal.obj", Crystal(), "a seven-sided crystal, about 1.8 units tall, faceted"});
    items.push_back({"shard.obj", Shard(), "a small faceted shard for particles"});
    items.push_back({"tunnel.obj", Tunnel(), "a ribbed tunnel of radius 2 running 40 units down -Z"});
    items.push_back({"ship.obj", Ship(), "a small ship pointing down -Z, about 3 units long"});
    for (auto& item : items) {
        if (!WriteObj(dir / item.file, item.model, item.comment)) return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- textures

struct Image {
    int w, h, channels;
    std::vector<uint8_t> px;
    Image(int width, int height, int c) : w(width), h(height), channels(c), px(size_t(width * height * c), 0) {}
    void Set(int x, int y, float r, float g, float b, float a = 1) {
        uint8_t* p = &px[size_t((y * w + x) * channels)];
        float v[4] = {r, g, b, a};
        for (int k = 0; k < channels; ++k) p[k] = uint8_t(std::lround(std::clamp(v[k], 0.0f, 1.0f) * 255.0f));
    }
};

using HeightFn = std::function<float(float, float)>;

// The colour of a height field is painted by the caller; its normal map is
// derived here from the same heights, so bumps and colour line up.
Image NormalMap(int size, const HeightFn& height, float strength) {
    Image img(size, size, 3);
    float d = 1.0f / float(size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float u = (float(x) + 0.5f) * d, v = (float(y) + 0.5f) * d;
            float dx = (height(u + d, v) - height(u - d, v)) * strength;
            float dy = (height(u, v + d) - height(u, v - d)) * strength;
            Vec3 n = Normalise({-dx, -dy, 1});
            img.Set(x, y, n.x * 0.5f + 0.5f, n.y * 0.5f + 0.5f, n.z * 0.5f + 0.5f);
        }
    return img;
}

Image Paint(int size, int channels, const std::function<void(float, float, float*)>& colour) {
    Image img(size, size, channels);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float c[4] = {0, 0, 0, 1};
            colour((float(x) + 0.5f) / float(size), (float(y) + 0.5f) / float(size), c);
            img.Set(x, y, c[0], c[1], c[2], c[3]);
        }
    return img;
}

float Fract(float v) { return v - std::floor(v); }

// Floor tiles: 4 x 4 per image, grout lines, a faint marble vein.
float TileHeight(float u, float v) {
    float fu = Fract(u * 4), fv = Fract(v * 4);
    float edge = std::min(std::min(fu, 1 - fu), std::min(fv, 1 - fv));
    return std::clamp(edge * 20.0f, 0.0f, 1.0f) * 0.8f + 0.2f * Fbm(u * 16, v * 16, 7, 3, 16);
}

// Metal panels: staggered plates with rivets along their edges.
float PanelHeight(float u, float v) {
    float rows = v * 4, fv = Fract(rows);
    float fu = Fract(u * 2 + (int(std::floor(rows)) % 2) * 0.5f);
    float edge = std::min(std::min(fu, 1 - fu) * 2, std::min(fv, 1 - fv));
    float plate = std::clamp(edge * 40.0f, 0.0f, 1.0f);
    float rivet = 0;
    for (float ry : {0.08f, 0.92f})
        for (int k = 0; k < 8; ++k) {
            float rx = (float(k) + 0.5f) / 8.0f;
            float d = std::hypot((fu - rx) * 2, fv - ry);
            rivet = std::max(rivet, 1.0f - std::clamp(d / 0.04f, 0.0f, 1.0f));
        }
    return plate * 0.7f + rivet * 0.5f + 0.05f * Fbm(u * 32, v * 32, 9, 2, 32);
}

float RockHeight(float u, float v) { return Fbm(u * 8, v * 8, 21, 6, 8); }

bool WritePng(const fs::path& path, const Image& img) {
    std::string error;
    if (QuitSignalled()) return false;
    return Report(WritePngFile(path.string(), img.w, img.h, img.channels, img.px.data(), img.w * img.channels, error),
                  error);
}

// `want` picks the images to write (the starter production takes a few);
// each is still painted, which costs well under a second for all of them.
int MakeTextures(const fs::path& dir, const std::function<bool(const std::string&)>& want = {}) {
    fs::create_directories(dir);
    constexpr int kSize = 256;
    bool ok = true;
    auto write = [&](const std::string& name, const Image& img) { return (want && !want(name)) || WritePng(dir / name, img); };
    ok &= write("tiles.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float h = TileHeight(u, v);
                       float vein = std::pow(std::fabs(std::sin((u + v) * 9 + Fbm(u * 8, v * 8, 3, 4, 8) * 8)), 8.0f);
                       float tile = h > 0.75f ? 1.0f : 0.35f;
                       float cell = Lattice(int(u * 4), int(v * 4), 4) * 0.12f;
                       c[0] = tile * (0.86f - cell - 0.25f * vein);
                       c[1] = tile * (0.84f - cell - 0.25f * vein);
                       c[2] = tile * (0.8f - cell - 0.2f * vein);
                   }));
    ok &= write("tiles_n.png", NormalMap(kSize, TileHeight, 6.0f));
    // Blurriness: polished tiles (dark) with smudged, dull patches and grout (light).
    ok &= write("blur_tiles.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float smudge = std::clamp((Fbm(u * 5, v * 5, 8, 4, 5) - 0.45f) * 3.0f, 0.0f, 1.0f);
                       float grout = TileHeight(u, v) < 0.75f ? 1.0f : 0.0f;
                       float b = std::max(grout, 0.15f + 0.7f * smudge);
                       c[0] = c[1] = c[2] = b;
                   }));
    ok &= write("metal.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float h = PanelHeight(u, v);
                       float grime = Fbm(u * 6, v * 6, 12, 4, 6);
                       float plate = Lattice(int(u * 2 + (int(v * 4) % 2) * 0.5f), int(v * 4), 13) * 0.15f;
                       float base = 0.45f + plate + 0.25f * h - 0.25f * grime;
                       c[0] = base * 0.92f;
                       c[1] = base * 0.95f;
                       c[2] = base;
                   }));
    ok &= write("metal_n.png", NormalMap(kSize, PanelHeight, 5.0f));
    ok &= write("metal_blur.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float streak = Fbm(u * 40, v * 2, 14, 3);
                       c[0] = c[1] = c[2] = 0.2f + 0.6f * streak;
                   }));
    ok &= write("rock.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float h = RockHeight(u, v);
                       float moss = std::clamp((Fbm(u * 4, v * 4, 30, 4, 4) - 0.5f) * 4.0f, 0.0f, 1.0f);
                       float strata = 0.5f + 0.5f * std::sin(v * 60 + h * 10);
                       float r = 0.42f + 0.3f * h + 0.06f * strata, g = 0.36f + 0.25f * h + 0.04f * strata, b = 0.3f + 0.2f * h;
                       c[0] = r * (1 - moss) + 0.25f * moss;
                       c[1] = g * (1 - moss) + 0.38f * moss;
                       c[2] = b * (1 - moss) + 0.16f * moss;
                   }));
    ok &= write("rock_n.png", NormalMap(kSize, RockHeight, 8.0f));
    // Stone for the columns: warm sandstone with horizontal bands.
    ok &= write("stone.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float n = Fbm(u * 10, v * 10, 40, 5, 10);
                       float band = 0.5f + 0.5f * std::sin(v * 40 + n * 6);
                       c[0] = 0.78f + 0.12f * n - 0.05f * band;
                       c[1] = 0.68f + 0.1f * n - 0.06f * band;
                       c[2] = 0.52f + 0.08f * n - 0.06f * band;
                   }));
    ok &= write("stone_n.png", NormalMap(kSize, [](float u, float v) { return Fbm(u * 10, v * 10, 40, 5, 10); }, 4.0f));
    // Energy bands for the tunnel's glowing rings and the ship's engines.
    ok &= write("bands.png", Paint(kSize, 3, [](float u, float v, float* c) {
                       float line = std::pow(0.5f + 0.5f * std::cos(v * 2 * kPi * 8), 12.0f);
                       float pulse = 0.6f + 0.4f * ValueNoise(u * 16, v * 4, 50, 16);
                       c[0] = 0.2f + 0.8f * line * pulse;
                       c[1] = 0.6f + 0.4f * line;
                       c[2] = 1.0f;
                   }));
    // Shadow mask: a round spot with the shadow of a window's cross bars and
    // a soft falloff, so the light reads as coming through a window.
    ok &= write("shadowmask.png", Paint(512, 3, [](float u, float v, float* c) {
                       float x = u * 2 - 1, y = v * 2 - 1;
                       float r = std::sqrt(x * x + y * y);
                       float spot = 1.0f - std::clamp((r - 0.6f) / 0.35f, 0.0f, 1.0f);
                       float bars = 1.0f;
                       for (float b : {-0.33f, 0.33f}) {
                           bars = std::min(bars, std::clamp((std::fabs(x - b) - 0.025f) * 40.0f, 0.0f, 1.0f));
                           bars = std::min(bars, std::clamp((std::fabs(y - b) - 0.025f) * 40.0f, 0.0f, 1.0f));
                       }
                       float leaves = 0.75f + 0.25f * Fbm(u * 6, v * 6, 60, 3);
                       c[0] = c[1] = c[2] = spot * (0.25f + 0.75f * bars) * leaves;
                   }));
    // Lens dirt, the default one: dust specks and soft smudges, mostly dark.
    {
        Image dirt = Paint(512, 3, [](float u, float v, float* c) {
            float smudge = std::clamp((Fbm(u * 3, v * 3, 70, 5) - 0.5f) * 2.5f, 0.0f, 1.0f) * 0.5f;
            float bokeh = 0;
            for (int i = 0; i < 60; ++i) {
                float cx = Lattice(i, 0, 71), cy = Lattice(i, 1, 71), rad = 0.01f + 0.05f * Lattice(i, 2, 71);
                float d = std::hypot(u - cx, v - cy);
                float ring = 1.0f - std::clamp((d - rad) / 0.006f, 0.0f, 1.0f);
                bokeh = std::max(bokeh, ring * (0.35f + 0.5f * Lattice(i, 3, 71)) * (0.7f + 0.3f * d / rad));
            }
            float edge = std::clamp(std::hypot(u - 0.5f, v - 0.5f) * 1.4f, 0.0f, 1.0f);
            float l = 0.08f + std::max(smudge, bokeh) * (0.4f + 0.6f * edge);
            c[0] = l;
            c[1] = l * 0.96f;
            c[2] = l * 0.9f;
        });
        std::string error;
        if (!want || want("lensdirt.jpg"))
            ok &= !QuitSignalled() &&
                  Report(WriteJpegFile((dir / "lensdirt.jpg").string(), dirt.w, dirt.h, 3, dirt.px.data(), 90, error), error);
    }
    // A second lens, scratched: diagonal streaks, for the ship's camera.
    ok &= write("lensdirt_streaks.png", Paint(512, 3, [](float u, float v, float* c) {
                       float streak = 0;
                       for (int i = 0; i < 24; ++i) {
                           float offset = Lattice(i, 0, 80) * 2 - 0.5f, angle = 0.6f + 0.3f * Lattice(i, 1, 80);
                           float d = std::fabs(v - (u * angle + offset - 0.4f));
                           streak = std::max(streak, (1.0f - std::clamp(d / 0.004f, 0.0f, 1.0f)) * (0.3f + 0.6f * Lattice(i, 2, 80)));
                       }
                       float haze = 0.1f + 0.25f * Fbm(u * 4, v * 4, 81, 4);
                       c[0] = c[1] = c[2] = std::max(haze, streak);
                   }));
    return ok ? 0 : 1;
}

// Tiles images of one size, row by row, into one picture.
int MakeSheet(const std::string& out, int columns, const std::vector<std::string>& inputs) {
    int w = 0, h = 0;
    std::vector<uint8_t> sheet;
    int rows = (int(inputs.size()) + columns - 1) / columns;
    for (size_t i = 0; i < inputs.size(); ++i) {
        int iw = 0, ih = 0, channels = 0;
        uint8_t* px = stbi_load(inputs[i].c_str(), &iw, &ih, &channels, 3);
        if (!px || (i > 0 && (iw != w || ih != h))) {
            std::fprintf(stderr, "demogen: %s cannot be read or differs in size from the first\n", inputs[i].c_str());
            if (px) stbi_image_free(px);
            return 1;
        }
        if (i == 0) {
            w = iw;
            h = ih;
            sheet.assign(size_t(w) * size_t(columns) * size_t(h) * size_t(rows) * 3, 0);
        }
        int cx = int(i) % columns, cy = int(i) / columns;
        for (int y = 0; y < h; ++y)
            std::copy_n(px + size_t(y) * size_t(w) * 3, size_t(w) * 3,
                        sheet.begin() + ptrdiff_t(((size_t(cy) * size_t(h) + size_t(y)) * size_t(w) * size_t(columns) + size_t(cx) * size_t(w)) * 3));
        stbi_image_free(px);
    }
    std::string error;
    if (inputs.empty()) return 1;
    return Report(WritePngFile(out, w * columns, h * rows, 3, sheet.data(), w * columns * 3, error), error) ? 0 : 1;
}

// ---------------------------------------------------------------- new

// The starter production: a short piece of the same music, a floor, a knot
// under a light and the shadow spot, two cameras and a running order of two
// shots, as a folder an author can play and edit at once.

// The encoder for music.mp3: `lame` on the PATH, or the program DEMO_LAME names.
std::string LameProgram() {
    const char* program = std::getenv("DEMO_LAME");
    return program && *program ? program : "lame";
}

// This program's own folder, for an installed copy's data beside it.
fs::path ProgramFolder() {
#ifdef _WIN32
    wchar_t buffer[32768];
    DWORD size = GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
    if (size == 0 || size >= std::size(buffer)) return {};
    return fs::path(std::wstring(buffer, size)).parent_path();
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
#endif
}

// Where the renderer's shaders are looked for, in order: the folder
// DEMO_SHADERS names (then that one alone); beside this program as a package
// or the Windows zip installs it; the install data folder it was built for;
// the source tree it was built from (a run from the build folder).
std::vector<fs::path> ShaderFolders() {
    if (const char* named = std::getenv("DEMO_SHADERS"); named && *named) return {fs::path(named)};
    std::vector<fs::path> folders;
    const fs::path self = ProgramFolder();
    if (!self.empty()) {
        folders.push_back(self.parent_path() / "share/demoplayer/demo/data/shaders");
        folders.push_back(self / "demo/data/shaders");
    }
#ifdef DEMO_DATA_DIR
    folders.push_back(fs::path(DEMO_DATA_DIR) / "demo/data/shaders");
#endif
#ifdef DEMO_SOURCE_DIR
    folders.push_back(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders");
#endif
    return folders;
}

// The first of ShaderFolders() that holds the lighting pass, or empty after
// saying where it looked.
fs::path FindShaders() {
    const std::vector<fs::path> folders = ShaderFolders();
    for (const fs::path& folder : folders) {
        std::error_code ec;
        if (fs::is_regular_file(folder / "deferred.fs", ec)) return folder;
    }
    std::string tried;
    for (const fs::path& folder : folders) tried += "\n  " + folder.string();
    std::fprintf(stderr, "demogen: no shaders found (a folder holding deferred.fs); looked in:%s\n"
                 "set DEMO_SHADERS to the bundled production's data/shaders folder\n", tried.c_str());
    return {};
}

const char* kStarterMaterials = R"(<Materials>
  <!-- Polished tiles: sharp reflections on the tiles, dull ones in the grout. -->
  <Material name="tiles">
    <ColorMap texture="tiles.png"/><NormalMap texture="tiles_n.png"/><BlurrinessMap texture="blur_tiles.png"/>
    <Color r="0.9" g="0.9" b="0.95"/><ReflectionAmount value="0.8"/><NormalStrength value="0.3"/>
    <BlurrinessMultiplier value="0.5"/>
  </Material>
  <!-- A mirror finish. -->
  <Material name="chrome">
    <Color r="0.75" g="0.78" b="0.82"/><ReflectionAmount value="3"/><BlurrinessMultiplier value="0"/>
  </Material>
  <!-- The lamp's bulb: lit by nothing, it shows its own colour. -->
  <Material name="bulb"><Color r="1" g="1" b="1"/><Shadeless value="1"/></Material>
</Materials>
)";

// 25 key frames a second of music: the first shot shows frames 0 to 200,
// the second 200 to 600.
const char* kStarterScene = R"(<Scene>
  <!-- A tiled floor, a chrome knot turning above it, a warm lamp beside it
       and a spot from above that casts the knot's shadow through a window. -->
  <Object name="floor">
    <RenderObj model="plane.obj" material="tiles"/>
    <Position x="0" y="0" z="0"/><Scale x="12" y="1" z="12"/><Color r="1" g="1" b="1"/>
    <UVGenEnabled value="1"/><UVGenUseWorldSpace value="1"/><UVGenScale value="0.1"/>
  </Object>
  <Object name="knot">
    <RenderObj model="knot.obj" material="chrome"/>
    <Position><Key frame="0" x="0" y="1.8" z="0"/><Key frame="300" x="0" y="2.2" z="0"/><Key frame="600" x="0" y="1.8" z="0"/></Position>
    <Scale x="0.8" y="0.8" z="0.8"/><Color r="1" g="1" b="1"/>
    <Rotation><Key frame="0" x="20" y="0" z="0"/><Key frame="600" x="20" y="360" z="0"/></Rotation>
  </Object>
  <!-- The lamp: a light, and a glowing bulb to show where it is. -->
  <Object name="lamp">
    <RenderObj model="sphere.obj" material="bulb"/>
    <Position x="2.5" y="2" z="1.5"/><Scale x="0.12" y="0.12" z="0.12"/>
    <Color r="1" g="0.8" b="0.5"/><Glow value="1"/><ShadowCast value="0"/><LightSource value="1"/>
  </Object>
  <!-- Reflections are rendered from here. -->
  <Object name="probe" isCubeMap="1">
    <Position x="0" y="1.5" z="0"/>
  </Object>
  <!-- The first shot: a slow push in from the front. -->
  <Camera name="wide">
    <Position><Key frame="0" x="0" y="3" z="10"/><Key frame="200" x="0" y="2.4" z="6.5"/></Position>
    <Rotation><Key frame="0" x="-0.15" y="0" z="0"/><Key frame="200" x="-0.1" y="0" z="0"/></Rotation>
    <FOV value="50"/>
  </Camera>
  <!-- The second shot: half a turn around the knot. -->
  <Camera name="orbit">
    <Position>
      <Key frame="200" x="-4.5" y="2.5" z="4.5"/>
      <Key frame="400" x="0" y="3" z="6.4"/>
      <Key frame="600" x="4.5" y="2.5" z="4.5"/>
    </Position>
    <Rotation>
      <Key frame="200" x="-0.08" y="-0.785" z="0"/>
      <Key frame="400" x="-0.15" y="0" z="0"/>
      <Key frame="600" x="-0.08" y="0.785" z="0"/>
    </Rotation>
    <FOV value="55"/>
  </Camera>
  <!-- The spot that casts the shadows, shaped by a window mask. -->
  <ShadowMap enabled="1" texture="shadowmask.png">
    <SpotSize value="0.8"/><Position x="1" y="10" z="2"/><LookAt x="0" y="0" z="0"/>
    <RenderCubemap value="0"/>
  </ShadowMap>
</Scene>
)";

const char* kStarterTimeline = R"(<TimeLine>
  <!-- Two shots of the room: the intro, then the drop at 8 s to the end. -->
  <TimeLineObject scene="room" camera="wide">
    <TimeStart value="0"/><Duration value="8"/><FrameStart value="0"/><FrameEnd value="200"/>
  </TimeLineObject>
  <TimeLineObject scene="room" camera="orbit">
    <TimeStart value="8"/><Duration value="16"/><FrameStart value="200"/><FrameEnd value="600"/>
  </TimeLineObject>
</TimeLine>
)";

// 12 bars, 24 s: a bar of pad, the build from bar 2, the drop at 8 s.
Arrangement StarterArrangement() {
    Arrangement a;
    a.bars = 12;
    a.hatsFrom = 1;
    a.buildFrom = 2;
    a.clapsFrom = 3;
    a.peakFrom = 4;
    a.outroFrom = 10;
    a.kickUntil = 11;
    a.bassUntil = 12;
    a.riserBars = 2;
    a.crashes = {4};
    return a;
}

// The music through the encoder, straight into music.mp3's partial file.
bool WriteMp3(const std::string& path, const std::vector<float>& samples) {
    OutputFile out;
    std::string error;
    if (!Report(out.Open(path, error, true), error)) return false;
    ChildProcess lame;
    const std::string program = LameProgram();
    const std::string wav = WavBytes(samples);
#ifndef _WIN32
    // An encoder that dies must read as a failed write, not end this process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (!lame.Start({program, "--quiet", "-b", "96", "-m", "m", "-", out.Partial()}, true, false, false, error)) {
        std::fprintf(stderr, "demogen: cannot start %s to encode music.mp3 (%s); install lame (apt-get install lame) "
                     "or name the encoder in DEMO_LAME\n", program.c_str(), error.c_str());
        return false;
    }
    if (!lame.Write(wav.data(), wav.size(), std::chrono::seconds(60), error) ||
        !lame.Wait(std::chrono::seconds(120), error) || !lame.Succeeded()) {
        if (error.empty()) error = lame.Status();
        lame.Kill();
        return Report(false, "the encoder (" + program + ") failed on music.mp3: " + error);
    }
    return Commit(out);
}

// Every file and folder it made, to take back when a later one fails:
// removed in the reverse order, a folder only when empty, so nothing that
// was there before is touched.
class Made {
public:
    Made() = default;
    Made(const Made&) = delete;
    Made& operator=(const Made&) = delete;
    ~Made() {
        if (kept) return;
        std::error_code ec;
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) fs::remove(*it, ec);
    }
    // Creates `folder` and the folders above it that are missing.
    bool Folder(const fs::path& folder) {
        fs::path at;
        for (const fs::path& part : folder) {
            at /= part;
            std::error_code ec;
            if (fs::is_directory(at, ec)) continue;
            if (!fs::create_directory(at, ec))
                return Report(false, "cannot make the folder " + PathToUtf8(at) + ": " + ec.message());
            paths.push_back(at);
        }
        return true;
    }
    std::string File(const fs::path& path) {
        paths.push_back(path);
        return PathToUtf8(path);
    }
    void Keep() { kept = true; }

private:
    std::vector<fs::path> paths;
    bool kept = false;
};

bool ReadWhole(const fs::path& path, std::string& bytes) {
    uint64_t size = 0;
    std::string error;
    std::FILE* f = OpenRegularFile(PathToUtf8(path), size, error);
    if (!f) return Report(false, "cannot read " + PathToUtf8(path) + ": " + error);
    bytes.resize(size_t(size));
    const bool read = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    return Report(read, "cannot read " + PathToUtf8(path));
}

bool WriteText(const std::string& path, const std::string& text) {
    std::string error;
    return !QuitSignalled() && Report(WriteWholeFile(path, text.data(), text.size(), error), error);
}

// Writes the starter production into `dir`, which must be new or empty; a
// failure or a quit signal takes back everything it wrote.
int MakeStarter(const fs::path& dir) {
    std::error_code ec;
    if (fs::exists(dir, ec) && (!fs::is_directory(dir, ec) || !fs::is_empty(dir, ec))) {
        std::fprintf(stderr, "demogen: %s is not an empty folder; demogen new writes only into a new or empty one\n",
                     PathToUtf8(dir).c_str());
        return 1;
    }
    const fs::path shaders = FindShaders();
    if (shaders.empty()) return 1;
    Made made;
    const fs::path data = dir / "data";
    bool ok = made.Folder(data / "scenes") && made.Folder(data / "models") && made.Folder(data / "textures") &&
              made.Folder(data / "shaders") && WriteMp3(made.File(dir / "music.mp3"), Compose(StarterArrangement())) &&
              WriteText(made.File(data / "materials.xml"), kStarterMaterials) &&
              WriteText(made.File(data / "scenes/room.xml"), kStarterScene) &&
              WriteText(made.File(data / "timeline.xml"), kStarterTimeline) &&
              WriteObj(made.File(data / "models/plane.obj"), Plane(), "a floor quad in the XZ plane, 2 units wide, facing up") &&
              WriteObj(made.File(data / "models/knot.obj"), TorusKnot(2, 3, 0.12f, 180, 12), "a (2,3) torus knot, about 2 units across") &&
              WriteObj(made.File(data / "models/sphere.obj"), Sphere(40, 20), "a unit sphere");
    if (ok) {
        const std::vector<std::string> textures{"tiles.png", "tiles_n.png", "blur_tiles.png", "shadowmask.png", "lensdirt.jpg"};
        for (const std::string& name : textures) made.File(data / "textures" / name);
        ok = MakeTextures(data / "textures", [&](const std::string& name) {
                 return std::find(textures.begin(), textures.end(), name) != textures.end();
             }) == 0;
    }
    for (const auto& entry : fs::directory_iterator(shaders, ec)) {
        std::string bytes;
        if (ok && entry.is_regular_file())
            ok = ReadWhole(entry.path(), bytes) && WriteText(made.File(data / "shaders" / entry.path().filename()), bytes);
    }
    if (ec) ok = Report(false, "cannot list " + PathToUtf8(shaders) + ": " + ec.message());
    if (!ok || QuitSignalled()) return 1;
    made.Keep();
    std::printf("demogen: a starter production in %s, its shaders from %s\n"
                "play it: cd %s && demoplayer --author\n",
                PathToUtf8(dir).c_str(), PathToUtf8(shaders).c_str(), PathToUtf8(dir).c_str());
    return 0;
}

int Usage(FILE* to) {
    std::fprintf(to,
                 "usage: demogen music OUT.wav\n"
                 "       demogen models DIR\n"
                 "       demogen textures DIR\n"
                 "       demogen sheet OUT.png COLUMNS IN.png...\n"
                 "       demogen new DIR\n"
                 "       demogen --help | --version\n"
                 "makes the bundled production's music (96 s, 120 beats a minute, 44.1 kHz mono WAV),\n"
                 "its OBJ models and its textures, the same bytes on every run.\n"
                 "new: writes a starter production (24 s of music, one scene, two shots) into DIR,\n"
                 "which must be new or empty; music.mp3 is encoded by lame (or the program DEMO_LAME\n"
                 "names), and the shaders come from DEMO_SHADERS, else the bundled production's,\n"
                 "looked for beside this program, in the install data folder, then in the source tree.\n");
    return to == stdout ? 0 : 2;
}

}  // namespace

int Run(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--help") return Usage(stdout);
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::printf("demogen %s\n", DEMO_VERSION);
        return 0;
    }
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "sheet" && argc >= 5 && std::atoi(argv[3]) > 0)
        return MakeSheet(argv[2], std::atoi(argv[3]), std::vector<std::string>(argv + 4, argv + argc));
    if (argc != 3) return Usage(stderr);
    if (what == "music") return MakeMusic(argv[2]);
    if (what == "models") return MakeModels(argv[2]);
    if (what == "textures") return MakeTextures(argv[2]);
    if (what == "new") return MakeStarter(PathFromUtf8(argv[2]));
    return Usage(stderr);
}

int main(int argc, char** argv) {
    // A quit signal ends the run after removing the file being written.
    CatchQuitSignals();
    const int status = Run(argc, argv);
    if (QuitSignalled()) {
        std::fprintf(stderr, "demogen: stopped by %s\n", QuitSignalName(QuitSignalNumber()));
        return 128 + QuitSignalNumber();
    }
    return status;
}
