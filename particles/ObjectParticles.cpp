#include "particles/ObjectParticles.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <tuple>
#include <utility>

#include <glm/gtc/constants.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "platform/Log.h"
#include "particles/NoiseField.h"
#include "platform/Rand.h"
#include "resources/Mesh.h"
#include "scene/Object.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

// One uniform draw in [0, 1] from the 15-bit generator.
inline float Uniform() { return static_cast<float>(Rand()) / static_cast<float>(kRandMax); }

inline float Sign(float v) { return v > 0 ? 1.0f : (v < 0 ? -1.0f : 0.0f); }

inline bool Finite(float v) { return std::isfinite(v); }

// The pool size a "P.Count" value asks for: truncated toward zero, nothing
// for negative or NaN values, at most kMaxParticles.
int PoolSize(float value) {
    if (!(value >= 1.0f)) return 0;
    if (value >= static_cast<float>(ObjectParticles::kMaxParticles)) return ObjectParticles::kMaxParticles;
    return static_cast<int>(value);
}

// A sort entry: the key's order-preserving bits above the slot number, so
// that comparing the upper halves compares the keys and one move carries
// both. Float keys map to unsigned integers of the same order (NaN
// excluded); -0 becomes +0 first so that equal keys have equal bits.
inline uint64_t SortEntry(float key, int index) {
    uint32_t bits;
    key += 0.0f;
    std::memcpy(&bits, &key, sizeof bits);
    bits ^= (bits >> 31) ? 0xFFFFFFFFu : 0x80000000u;
    return (static_cast<uint64_t>(bits) << 32) | static_cast<uint32_t>(index);
}

// Sorts entries[0..n) ascending by key, stably, in three passes of 11, 11
// and 10 bits through scratch[0..n); a pass whose digit is the same in every
// key is skipped. Linear in n, so a pool ten times larger sorts in ten times
// the time.
void RadixSort(uint64_t* entries, uint64_t* scratch, int n) {
    constexpr int kShift[3] = {32, 43, 54};
    constexpr uint32_t kMask[3] = {2047, 2047, 1023};
    static thread_local uint32_t counts[3][2048];
    std::memset(counts, 0, sizeof counts);
    for (int i = 0; i < n; ++i) {
        const uint64_t e = entries[i];
        ++counts[0][(e >> 32) & 2047];
        ++counts[1][(e >> 43) & 2047];
        ++counts[2][e >> 54];
    }
    uint64_t* from = entries;
    uint64_t* to = scratch;
    for (int pass = 0; pass < 3; ++pass) {
        const int shift = kShift[pass];
        uint32_t* offsets = counts[pass];
        if (offsets[(from[0] >> shift) & kMask[pass]] == static_cast<uint32_t>(n)) continue;
        uint32_t sum = 0;
        for (uint32_t d = 0; d <= kMask[pass]; ++d) {
            const uint32_t c = offsets[d];
            offsets[d] = sum;
            sum += c;
        }
        for (int i = 0; i < n; ++i) to[offsets[(from[i] >> shift) & kMask[pass]]++] = from[i];
        std::swap(from, to);
    }
    if (from != entries) std::copy(from, from + n, entries);
}

glm::mat4 RotationXYZ(const glm::vec3& radians) {
    glm::mat4 m = glm::rotate(glm::mat4(1.0f), radians.x, glm::vec3(1, 0, 0));
    m = glm::rotate(m, radians.y, glm::vec3(0, 1, 0));
    return glm::rotate(m, radians.z, glm::vec3(0, 0, 1));
}

template <class T>
void Refill(std::vector<T>& v, size_t n, const T& value) {
    std::vector<T>(n, value).swap(v);
}

}  // namespace

// Element, label, member, default, editing slot.
constexpr Parameter<ObjectParticles> kParticleParameters[] = {
    {"PCount", "P.Count", &ObjectParticles::countProperty, 50, 0},
    {"EmitRate", "P.Emit.Rate", &ObjectParticles::emitRate, 1, 1},
    {"Size", "P.Size.Multiplier", &ObjectParticles::sizeMultiplier, 1, 14},
    {"EmitterPos", "Emitter.Pos", &ObjectParticles::emitterPos, 0, 4},
    {"EmitterSize", "Emitter.Size", &ObjectParticles::emitterSize, 0, 5},
    {"Wind", "P.Wind", &ObjectParticles::wind, 0, 6},
    {"LifeMin", "P.Life.Min", &ObjectParticles::lifeMin, 4, 16},
    {"LifeMax", "P.Life.Max", &ObjectParticles::lifeMax, 8, 15},
    {"RandomRot", "Rnd.Rotation", &ObjectParticles::randomRotation, 0, 17},
    {"SizeOverLife", "P.Size.Life", &ObjectParticles::sizeLife, 1, 20},
    {"GravityXOverLife", "P.GravX.Life", &ObjectParticles::gravityXLife, 0, 21},
    {"GravityYOverLife", "P.GravY.Life", &ObjectParticles::gravityYLife, 0, 22},
    {"GravityZOverLife", "P.GravZ.Life", &ObjectParticles::gravityZLife, 0, 23},
    {"EmitterType", "Emitter.Type", &ObjectParticles::emitterTypeProperty, 0, 2},
    {"EmitterModel", "Emitter.Model", &ObjectParticles::emitterModel, 0, 3},
    {"NoiseIntensity", "Noise.Intensity", &ObjectParticles::noiseIntensity, 0, 7},
    {"NoiseFrequency", "Noise.Frequency", &ObjectParticles::noiseFrequency, 1, 8},
    {"NoiseOffset", "Noise.Offset", &ObjectParticles::noiseOffset, 0, 9},
    {"DrawMode", "P.DrawMode", &ObjectParticles::drawModeProperty, 0, 13},
    {"NoiseIntensityXOveLife", "Noise.Intensity.X.Life", &ObjectParticles::noiseXLife, 0, 10},
    {"NoiseIntensityYOveLife", "Noise.Intensity.Y.Life", &ObjectParticles::noiseYLife, 0, 11},
    {"NoiseIntensityZOveLife", "Noise.Intensity.Z.Life", &ObjectParticles::noiseZLife, 0, 12},
    {"ColorAOverLife", "C.Alpha.Life", &ObjectParticles::alphaLife, 1, 24},
    {"ColorROverLife", "C.Red.Life", &ObjectParticles::redLife, 1, 25},
    {"ColorGOverLife", "C.Green.Life", &ObjectParticles::greenLife, 1, 26},
    {"ColorBOverLife", "C.Blue.Life", &ObjectParticles::blueLife, 1, 27},
    {"VelocityOverTime", "Vel.Nor.Time", &ObjectParticles::normalVelocity, 0, 29},
    {"VelocityOverLife", "Vel.Nor.Life", &ObjectParticles::normalVelocityLife, 0, 28},
    {"RandomVelocityOverTime", "Vel.Rnd.Time", &ObjectParticles::randomVelocity, 0, 31},
    {"RandomVelocityOverLife", "Vel.Rnd.Life", &ObjectParticles::randomVelocityLife, 0, 30},
    {"Rotation", "Rotation", &ObjectParticles::rotation, 0, 18},
    {"RotationOveLife", "Rotation.Life.Intensity", &ObjectParticles::rotationLife, 1, 19},
    {"IsQuadBillboard", "Quad.Billboard", &ObjectParticles::billboard, true, 32},
};
static_assert(ValidTables<ObjectParticles>({kParticleParameters}), "see ValidTables");

std::span<const Parameter<ObjectParticles>> ObjectParticles::Parameters() { return kParticleParameters; }

ObjectParticles::ObjectParticles(Object& owner) : owner(owner) {
    properties = SetUpParameters<ObjectParticles>(*this, {kParticleParameters});
    // The defaults, so that a system that was never loaded behaves like one
    // loaded from an element without children.
    LoadParameters<ObjectParticles>(*this, kParticleParameters, pugi::xml_node());
}

// A scene reload retires its objects on the render thread: their GPU buffers
// go with them (by the renderer's deleter) rather than piling up on the card.
ObjectParticles::~ObjectParticles() = default;

void ObjectParticles::LoadXml(const pugi::xml_node& element) {
    LoadParameters<ObjectParticles>(*this, kParticleParameters, element);
}

void ObjectParticles::ReleasePool() {
    for (auto* v : {&posX, &posY, &posZ, &colR, &colG, &colB, &colA, &age, &lifetime, &rotX, &rotY, &rotZ,
                    &quadPositions, &quadUvs, &quadColors, &sortKeys, &quadSources})
        std::vector<float>().swap(*v);
    std::vector<uint8_t>().swap(alive);
    std::vector<int>().swap(sortIndex);
    std::vector<uint64_t>().swap(sortEntries);
    std::vector<glm::vec3>().swap(emitDir);
    std::vector<glm::vec3>().swap(randomDir);
}

void ObjectParticles::ResizePool(int newCount) {
    ReleasePool();
    const size_t n = static_cast<size_t>(newCount);
    for (auto* v : {&posX, &posY, &posZ, &colR, &colG, &colB, &colA, &age, &rotX, &rotY, &rotZ, &sortKeys})
        Refill(*v, n, 0.0f);
    Refill(quadSources, n * 8, 0.0f);
    Refill(lifetime, n, -1.0f);
    Refill(alive, n, uint8_t{0});
    Refill(emitDir, n, glm::vec3(0.0f));
    Refill(randomDir, n, glm::vec3(0.0f));
    Refill(sortIndex, n, 0);
    Refill(sortEntries, n * 2, uint64_t{0});
    Refill(quadPositions, n * 12, 0.0f);
    Refill(quadColors, n * 16, 0.0f);
    // Every quad has the same texture coordinates: written once here.
    static constexpr float kCornerUvs[8] = {0, 0, 1, 0, 1, 1, 0, 1};
    quadUvs.resize(n * 8);
    for (size_t i = 0; i < n; ++i) std::copy(kCornerUvs, kCornerUvs + 8, quadUvs.begin() + static_cast<long>(i * 8));
    quadCount = 0;
}

bool ObjectParticles::Update(float frameSeconds) {
    drawMode = drawModeProperty.Evaluate();
    updated = true;
    dt = frameSeconds;

    const float requested = countProperty.Evaluate();
    count = PoolSize(requested);
    if (count == 0) return false;
    bool remade = false;
    if (count != previousCount) {
        if (count == kMaxParticles && requested > static_cast<float>(kMaxParticles))
            Log(3, "Particle count %g is more than %d; the pool keeps %d", static_cast<double>(requested),
                kMaxParticles, kMaxParticles);
        previousCount = count;
        // Every slot starts empty; the caller makes the GPU buffers follow.
        ResizePool(count);
        remade = true;
    }

    const glm::vec3 windStep = wind.Evaluate() * dt;

    // A negative or NaN rate emits nothing and runs up no debt.
    float rate = emitRate.Evaluate();
    if (!(rate > 0)) rate = 0;
    emitCarry += rate * dt;
    int budget = 0;
    if (emitCarry >= 1) {
        const float whole = std::floor(emitCarry);
        emitCarry -= whole;
        // No more than the pool can take; what is not spent this frame is lost.
        budget = whole >= static_cast<float>(count) ? count : static_cast<int>(whole);
    }
    if (!Finite(emitCarry)) emitCarry = 0;

    emitterType = emitterTypeProperty.Evaluate();

    NoiseField& noise = NoiseField::Instance();
    noise.type = NoiseField::Type::Perlin;
    // The permutation depends on the seed alone: shuffle only when another seed left it.
    if (noise.seed != 1) noise.Reseed(1);
    noise.frequency = noiseFrequency.Evaluate();
    noise.interpolation = NoiseField::Interpolation::Linear;

    const float baseNoise = noiseIntensity.Evaluate() / 100;
    const glm::vec3 offset = noiseOffset.Evaluate();
    const float normalSpeed = normalVelocity.Evaluate();
    const float randomSpeed = randomVelocity.Evaluate();
    const glm::vec3 spin = rotation.Evaluate();
    const float k = dt * 70;

    int emitted = 0;
    for (int i = 0; i < count; ++i) {
        const size_t s = static_cast<size_t>(i);
        if (!alive[s]) {
            if (emitted < budget) {
                Emit(i);
                ++emitted;
            }
            continue;
        }
        age[s] += dt;
        const float t = LifeFraction(i);
        const float gx = gravityXLife.Evaluate(t) * dt / 100;
        const float gy = gravityYLife.Evaluate(t) * dt / 100;
        const float gz = gravityZLife.Evaluate(t) * dt / 100;
        const float x = posX[s] + offset.x, y = posY[s] + offset.y, z = posZ[s] + offset.z;
        const float wx = noiseXLife.Evaluate(t) / 100 + baseNoise;
        const float wy = noiseYLife.Evaluate(t) / 100 + baseNoise;
        const float wz = noiseZLife.Evaluate(t) / 100 + baseNoise;
        colR[s] = redLife.Evaluate(t);
        colG[s] = greenLife.Evaluate(t);
        colB[s] = blueLife.Evaluate(t);
        colA[s] = alphaLife.Evaluate(t);
        // A zero weight adds nothing: the sample (always finite) is skipped.
        posX[s] += (wx != 0 ? noise.Sample(y, z) * wx * k : 0.0f) + (windStep.x + gx);
        posY[s] += (wy != 0 ? noise.Sample(x, z) * wy * k : 0.0f) + (windStep.y + gy);
        posZ[s] += (wz != 0 ? noise.Sample(x, y) * wz * k : 0.0f) + (windStep.z + gz);

        const float a = (normalVelocityLife.Evaluate(t) + normalSpeed) * k;
        if (a != 0) {
            posX[s] += emitDir[s].x * a / 10;
            posY[s] += emitDir[s].y * a / 10;
            posZ[s] += emitDir[s].z * a / 10;
        }
        const float b = (randomVelocityLife.Evaluate(t) + randomSpeed) * k;
        if (b != 0) {
            posX[s] += randomDir[s].x * b / 10;
            posY[s] += randomDir[s].y * b / 10;
            posZ[s] += randomDir[s].z * b / 10;
        }
        if (age[s] >= lifetime[s]) alive[s] = 0;
        const float r = rotationLife.Evaluate(t) * k;
        if (r > 0) {
            rotX[s] += spin.x * r;
            rotY[s] += spin.y * r;
            rotZ[s] += spin.z * r;
        }
    }
    return remade;
}

void ObjectParticles::Emit(int slot) {
    const size_t s = static_cast<size_t>(slot);
    alive[s] = 1;
    const float lifeMinValue = lifeMin.Evaluate();
    float life = Uniform() * (lifeMax.Evaluate() - lifeMinValue) + lifeMinValue;
    // A NaN or infinite life would never end or never compare: it ends at once.
    if (!Finite(life)) life = 0;
    lifetime[s] = life;
    age[s] = 0;

    const float rr = randomRotation.Evaluate();
    rotX[s] = Uniform() * rr;
    rotY[s] = Uniform() * rr;
    rotZ[s] = Uniform() * rr;

    colR[s] = redLife.Evaluate(0);
    colG[s] = greenLife.Evaluate(0);
    colB[s] = blueLife.Evaluate(0);
    colA[s] = alphaLife.Evaluate(0);

    // Separate statements: the draws must happen in x, y, z order.
    const float rx = Uniform() - 0.5f;
    const float ry = Uniform() - 0.5f;
    const float rz = Uniform() - 0.5f;
    randomDir[s] = glm::vec3(rx, ry, rz);

    const glm::vec3 size = emitterSize.Evaluate();
    glm::vec3 position(posX[s], posY[s], posZ[s]);
    switch (emitterType) {
        default:  // an index beyond the table (set by editing) emits like the first shape
        case EmitterCubeVolume: {
            const float px = Uniform() * size.x - size.x * 0.5f;
            const float py = Uniform() * size.y - size.y * 0.5f;
            const float pz = Uniform() * size.z - size.z * 0.5f;
            position = glm::vec3(px, py, pz);
            emitDir[s] = position;
            break;
        }
        case EmitterCubeSurface: {
            const float e = Uniform() - 0.5f;
            const float g = Uniform() - 0.5f;
            const float h = Uniform() - 0.5f;
            const float ae = std::fabs(e), ag = std::fabs(g), ah = std::fabs(h);
            if (ae > ag && ae > ah)
                position = glm::vec3(size.x * 0.5f * Sign(e), g * size.y, h * size.z);
            else if (ae < ag && ag > ah)
                position = glm::vec3(e * size.x, size.y * 0.5f * Sign(g), h * size.z);
            else if (ae < ah && ag < ah)
                position = glm::vec3(e * size.x, g * size.y, size.z * 0.5f * Sign(h));
            else  // ties between the largest components: unscaled
                position = glm::vec3(e, g, h);
            emitDir[s] = position;
            break;
        }
        case EmitterSphereVolume:
        case EmitterSphereSurface: {  // the surface shape fills the volume too
            const float azimuth = Uniform() * 2 * glm::pi<float>();
            const float elevation = Uniform() * glm::pi<float>() - glm::pi<float>() / 2;
            const float radius = Uniform();
            position = glm::vec3(std::cos(azimuth) * std::cos(elevation) * radius * size.x,
                                 std::sin(elevation) * radius * size.y,
                                 std::sin(azimuth) * std::cos(elevation) * radius * size.z);
            emitDir[s] = position;
            break;
        }
        case EmitterModelVertex: {
            // Without a mesh (or with an empty one) the slot keeps its place.
            const Mesh* mesh = emitterModel.Evaluate();
            const size_t vertices =
                mesh ? std::min(static_cast<size_t>(std::max(mesh->vertexFloatCount, 0) / 3), mesh->positions.size() / 3)
                     : 0;
            if (vertices == 0) break;
            const size_t v = static_cast<size_t>(Rand()) % vertices;
            position = glm::vec3(mesh->positions[v * 3], mesh->positions[v * 3 + 1], mesh->positions[v * 3 + 2]) * size;
            emitDir[s] = v * 3 + 2 < mesh->normals.size()
                             ? glm::vec3(mesh->normals[v * 3], mesh->normals[v * 3 + 1], mesh->normals[v * 3 + 2])
                             : glm::vec3(0.0f);
            break;
        }
        case EmitterModelFace: {
            const Mesh* mesh = emitterModel.Evaluate();
            if (!mesh) break;
            if (std::optional<Mesh::SurfacePoint> point = mesh->RandomSurfacePoint()) {
                position = point->position * size;
                emitDir[s] = point->normal;
            }
            break;
        }
    }
    position += emitterPos.Evaluate();
    posX[s] = position.x;
    posY[s] = position.y;
    posZ[s] = position.z;
}

int ObjectParticles::BuildQuads(const glm::vec3& cameraRotation, const glm::vec3& ownerPosition) {
    quadCount = 0;
    if (count == 0 || quadPositions.size() < static_cast<size_t>(count) * 12 ||
        quadSources.size() < static_cast<size_t>(count) * 8)
        return 0;

    const bool faceCamera = billboard.Evaluate();
    const float s0 = sizeMultiplier.Evaluate();
    const glm::mat4 back = RotationXYZ(-cameraRotation);
    const glm::mat4 orientation = faceCamera ? back : RotationXYZ(rotation.Evaluate());

    // Corners as row vectors: component j is the dot product with column j.
    static constexpr glm::vec4 kCorners[4] = {{-0.5f, -0.5f, 0, 1}, {0.5f, -0.5f, 0, 1}, {0.5f, 0.5f, 0, 1},
                                              {-0.5f, 0.5f, 0, 1}};
    glm::vec3 corners[4];
    for (int c = 0; c < 4; ++c) corners[c] = glm::vec3(kCorners[c] * orientation);
    const glm::vec3 axis = glm::vec3(glm::normalize(glm::vec4(0, 0, 1, 1) * back));

    // Keys of the alive particles in slot order, and what their quads need
    // packed in one record per slot, so that writing the quads in sorted
    // order reads one record per particle instead of eight scattered arrays.
    float* sources = quadSources.data();
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const size_t s = static_cast<size_t>(i);
        if (!alive[s]) continue;
        const float key = glm::dot(glm::vec3(posX[s], posY[s], posZ[s]) + ownerPosition, axis);
        const float f = sizeLife.Evaluate(LifeFraction(i)) * s0;
        // Whatever is not finite stays off the GPU (and out of the sort).
        if (!Finite(key) || !Finite(f) || !Finite(posX[s]) || !Finite(posY[s]) || !Finite(posZ[s]) ||
            !Finite(colR[s] + colG[s] + colB[s] + colA[s]))
            continue;
        float* record = sources + s * 8;
        record[0] = posX[s], record[1] = posY[s], record[2] = posZ[s], record[3] = f;
        record[4] = colR[s], record[5] = colG[s], record[6] = colB[s], record[7] = colA[s];
        sortKeys[static_cast<size_t>(n)] = key;
        sortIndex[static_cast<size_t>(n)] = i;
        ++n;
    }
    // Back to front; particles at exactly the same depth keep slot order.
    uint64_t* entries = sortEntries.data();
    uint64_t* scratch = entries + count;
    for (int q = 0; q < n; ++q)
        entries[q] = SortEntry(sortKeys[static_cast<size_t>(q)], sortIndex[static_cast<size_t>(q)]);
    if (n > 1) RadixSort(entries, scratch, n);

    float* positions = quadPositions.data();
    float* colors = quadColors.data();
    // Records are read in depth order, scattered over the pool: ask for a
    // record a few quads ahead so that large pools do not wait on memory.
    constexpr int kAhead = 16;
    for (int k = 0; k < n; ++k) {
        if (k + kAhead < n) __builtin_prefetch(sources + static_cast<size_t>(static_cast<uint32_t>(entries[k + kAhead])) * 8);
        const uint32_t slot = static_cast<uint32_t>(entries[k]);
        const float* record = sources + static_cast<size_t>(slot) * 8;
        sortIndex[static_cast<size_t>(k)] = static_cast<int>(slot);
        const glm::vec3 p(record[0], record[1], record[2]);
        const float f = record[3];
        for (int c = 0; c < 4; ++c) {
            const glm::vec3 v = p + corners[c] * f;
            *positions++ = v.x;
            *positions++ = v.y;
            *positions++ = v.z;
            *colors++ = record[4];
            *colors++ = record[5];
            *colors++ = record[6];
            *colors++ = record[7];
        }
    }
    quadCount = n;
    return n;
}

namespace {

ObjectParticles* CreateSystem(Object& owner, const pugi::xml_node& element) {
    auto* system = new ObjectParticles(owner);
    system->LoadXml(element);
    return system;
}

void DestroySystem(ObjectParticles* system) { delete system; }

void UpdateObject(Object& object, float seconds, void (*remade)(ObjectParticles&)) {
    if (object.particles && object.particles->Update(seconds) && remade) remade(*object.particles);
    for (auto& child : object.children) UpdateObject(*child, seconds, remade);
}

}  // namespace

void InstallParticleSystems() { particleSystemFactory = {&CreateSystem, &DestroySystem}; }

void UpdateParticles(Scene& scene, float seconds, void (*remade)(ObjectParticles& system)) {
    for (auto& object : scene.objects) UpdateObject(*object, seconds, remade);
}

}  // namespace caldera
