#include "particles/ObjectParticles.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <glm/gtc/constants.hpp>

#include "particles/NoiseField.h"
#include "platform/Rand.h"
#include "resources/Mesh.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Object.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

constexpr float kFrame = 1.0f / 60.0f;

// An object with a particle system loaded from the children of `particles`.
std::unique_ptr<Object> Load(const std::string& particles, const std::string& objectChildren = "") {
    pugi::xml_document doc;
    std::string xml = "<Object>" + objectChildren + "<Particles>" + particles + "</Particles></Object>";
    EXPECT_TRUE(doc.load_string(xml.c_str())) << xml;
    auto object = std::make_unique<Object>();
    object->LoadXml(doc.child("Object"));
    EXPECT_NE(object->particles, nullptr);
    return object;
}

glm::vec3 Position(const ObjectParticles& p, int i) { return {p.posX[i], p.posY[i], p.posZ[i]}; }

// Slots emitted by the latest update: alive with no age yet.
int JustEmitted(const ObjectParticles& p) {
    int n = 0;
    for (int i = 0; i < p.count; ++i) n += p.alive[i] && p.age[i] == 0;
    return n;
}

// Reference gradient noise from the formula, in double precision.
struct ReferenceNoise {
    int perm[512], perm12[512];
    explicit ReferenceNoise(uint64_t seed) {
        std::mt19937_64 twister(seed);
        for (int i = 0; i < 256; ++i) perm[i] = i;
        for (int j = 0; j < 256; ++j) {
            int k = j + static_cast<int>(twister() % (256 - j));
            std::swap(perm[j], perm[k]);
            perm[j + 256] = perm[j];
            perm12[j] = perm12[j + 256] = perm[j] % 12;
        }
    }
    // In the precision T: the simulation's float, or double for a reference of the field itself.
    template <class T>
    T operator()(T x, T y, T frequency) const {
        static const T gx[12] = {1, -1, 1, -1, 1, -1, 1, -1, 0, 0, 0, 0};
        static const T gy[12] = {1, 1, -1, -1, 0, 0, 0, 0, 1, -1, 1, -1};
        x *= frequency;
        y *= frequency;
        long x0 = static_cast<long>(std::trunc(x)) - (x < 0), y0 = static_cast<long>(std::trunc(y)) - (y < 0);
        auto grad = [&](long ix, long iy, T dx, T dy) {
            int g = perm12[(ix & 255) + perm[iy & 255]];
            return dx * gx[g] + dy * gy[g];
        };
        auto lerp = [](T p, T q, T s) { return p + s * (q - p); };
        T xd = x - static_cast<T>(x0), yd = y - static_cast<T>(y0);
        T a = lerp(grad(x0, y0, xd, yd), grad(x0 + 1, y0, xd - 1, yd), xd);
        T b = lerp(grad(x0, y0 + 1, xd, yd - 1), grad(x0 + 1, y0 + 1, xd - 1, yd - 1), xd);
        return lerp(a, b, yd);
    }
};

// The 15-bit linear congruential generator, written again.
struct ReferenceRand {
    uint32_t state;
    double operator()() {
        state = state * 214013u + 2531011u;
        return static_cast<double>((state >> 16) & 0x7FFF) / 32767.0;
    }
};

}  // namespace

TEST(ParticleCount, ZeroNegativeNanAndHugeCountsStayBounded) {
    for (const char* value : {"0", "-5", "0.7", "nan", "-inf"}) {
        auto object = Load(std::string("<PCount value=\"") + value + "\"/>");
        ObjectParticles& p = *object->particles;
        for (int f = 0; f < 120; ++f) p.Update(kFrame);
        EXPECT_EQ(p.count, 0) << value;
        EXPECT_TRUE(p.posX.empty() && p.quadPositions.empty()) << value;
        EXPECT_EQ(p.BuildQuads(glm::vec3(0), glm::vec3(0)), 0) << value;
        int drawn = 0;
        p.ForEachModelInstance(glm::vec3(0), glm::vec3(0), glm::vec3(1), [&](auto&) { ++drawn; });
        EXPECT_EQ(drawn, 0) << value;
    }
    auto fraction = Load(R"(<PCount value="2.9"/>)");
    fraction->particles->Update(kFrame);
    EXPECT_EQ(fraction->particles->count, 2);

    StdoutCapture capture;
    auto huge = Load(R"(<PCount value="1e9"/><EmitRate value="1e9"/>)");
    huge->particles->Update(kFrame);
    huge->particles->Update(kFrame);
    EXPECT_NE(capture.Text().find("the pool keeps 262144"), std::string::npos);
    EXPECT_EQ(huge->particles->count, ObjectParticles::kMaxParticles);
    EXPECT_EQ(huge->particles->posX.size(), size_t(ObjectParticles::kMaxParticles));
    EXPECT_EQ(JustEmitted(*huge->particles), 0);  // the second step only ages the full pool
}

TEST(ParticleEmission, HalfPerSecondAtSixtyFramesEmitsEveryTwoSeconds) {
    auto object = Load(R"(<EmitRate value="0.5"/><LifeMin value="100"/><LifeMax value="100"/>)");
    ObjectParticles& p = *object->particles;
    std::vector<int> frames;
    for (int f = 1; f <= 60 * 10 + 10; ++f) {
        p.Update(kFrame);
        EXPECT_GE(p.emitCarry, 0.0f);
        EXPECT_LT(p.emitCarry, 1.0f);
        for (int n = JustEmitted(p); n > 0; --n) frames.push_back(f);
    }
    ASSERT_EQ(frames.size(), 5u);
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_NEAR(frames[i], 120 * (i + 1), 1);
}

TEST(ParticleEmission, BudgetWithoutAFreeSlotIsLost) {
    auto object = Load(R"(<PCount value="1"/><EmitRate value="30"/><LifeMin value="1"/><LifeMax value="1"/>)");
    ObjectParticles& p = *object->particles;
    int emitted = 0;
    for (int f = 0; f < 150; ++f) {
        p.Update(kFrame);
        emitted += JustEmitted(p);
        EXPECT_LT(p.emitCarry, 1.0f);
    }
    EXPECT_EQ(emitted, 3);  // at the start, then after each second of life

    // A negative rate emits nothing and runs up no debt for later.
    auto negative = Load(R"(<EmitRate value="-1"/>)");
    for (int f = 0; f < 600; ++f) negative->particles->Update(kFrame);
    EXPECT_EQ(negative->particles->emitCarry, 0.0f);
    negative->particles->emitRate.baseValue = 60;
    negative->particles->Update(kFrame);
    EXPECT_EQ(JustEmitted(*negative->particles), 1);
}

TEST(ParticleEmission, DefaultSystemEmitsOnePerSecondAtTheOrigin) {
    SeedRand(11);
    auto object = Load("", R"(<Position x="5" y="6" z="7"/>)");
    ObjectParticles& p = *object->particles;
    for (int f = 0; f < 60 * 3 + 5; ++f) p.Update(kFrame);
    EXPECT_EQ(p.count, 50);
    EXPECT_EQ(p.drawMode, DrawModeModel);
    int emitted = 0;
    for (int i = 0; i < p.count; ++i) {
        if (p.lifetime[i] < 0) continue;
        ++emitted;
        EXPECT_EQ(Position(p, i), glm::vec3(0));
        EXPECT_GE(p.lifetime[i], 4.0f);
        EXPECT_LE(p.lifetime[i], 8.0f);
    }
    EXPECT_EQ(emitted, 3);
}

TEST(ParticleEmission, ZeroLifeSpanEndsAtOnceWithoutNan) {
    auto object = Load(R"(<PCount value="4"/><EmitRate value="600"/><LifeMin value="0"/><LifeMax value="0"/>
        <Wind x="1"/><SizeOverLife><Point time="0" value="1"/><Point time="1" value="3"/></SizeOverLife>)");
    ObjectParticles& p = *object->particles;
    for (int f = 0; f < 10; ++f) {
        p.Update(kFrame);
        for (int i = 0; i < p.count; ++i) EXPECT_TRUE(std::isfinite(p.posX[i]));
    }
    p.ForEachModelInstance(glm::vec3(0), glm::vec3(0), glm::vec3(1), [](auto&) { ADD_FAILURE(); });
}

TEST(ParticleEmitters, ShapesPlaceParticlesWhereTheyBelong) {
    auto emit = [](const char* type, const std::string& extra = "") {
        auto object = Load(std::string(R"(<PCount value="200"/><EmitRate value="1e6"/><EmitterSize x="2" y="4" z="6"/>
            <EmitterType type=")") + type + "\"/>" + extra);
        SeedRand(1234);
        object->particles->Update(kFrame);
        return object;
    };
    auto volume = emit("sphere.volume"), surface = emit("sphere.surface");
    for (int i = 0; i < 200; ++i) {
        glm::vec3 v = Position(*volume->particles, i);
        EXPECT_EQ(v, Position(*surface->particles, i));
        EXPECT_EQ(volume->particles->emitDir[i], v);
        EXPECT_LE(v.x * v.x / 4 + v.y * v.y / 16 + v.z * v.z / 36, 1.0001f);  // the radius reaches the full size
    }
    auto box = emit("cube.surface");
    for (int i = 0; i < 200; ++i) {
        glm::vec3 v = glm::abs(Position(*box->particles, i));
        EXPECT_TRUE(v.x == 1 || v.y == 2 || v.z == 3) << i;
        EXPECT_TRUE(v.x <= 1 && v.y <= 2 && v.z <= 3) << i;
    }

    // A model emitter takes the mesh's vertices; without a mesh (or triangles)
    // a slot keeps its place and only the emitter position is added.
    auto mesh = std::make_unique<Mesh>();
    const uint32_t triangle = mesh->hash = NameHash("ptc-tri.obj");
    mesh->vertexFloatCount = 9;
    mesh->positions = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    mesh->normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    ResourceManager::Instance().models.Insert(triangle, std::move(mesh));
    ResourceManager::Instance().models.Insert(NameHash("ptc-empty.obj"), std::make_unique<Mesh>());
    auto vertex = emit("model.vertex", R"(<EmitterModel model="ptc-tri.obj"/>)");
    for (int i = 0; i < 200; ++i) {
        glm::vec3 v = Position(*vertex->particles, i);
        EXPECT_TRUE(v == glm::vec3(2, 0, 0) || v == glm::vec3(0, 4, 0) || v == glm::vec3(0, 0, 6)) << i;
        EXPECT_EQ(vertex->particles->emitDir[i], glm::vec3(0, 0, 1));
    }
    for (const char* type : {"model.vertex", "model.face"})
        for (const char* model : {"ptc-missing.obj", "ptc-empty.obj"}) {
            auto none = emit(type, std::string(R"(<EmitterPos x="1"/><EmitterModel model=")") + model + "\"/>");
            EXPECT_EQ(Position(*none->particles, 0), glm::vec3(1, 0, 0)) << type << " " << model;
        }
}

TEST(ParticleDraw, DeadModelParticleStaysUntilEmittedAgain) {
    auto object = Load(R"(<PCount value="1"/><LifeMin value="0.5"/><LifeMax value="0.5"/><Wind x="1"/>)");
    ObjectParticles& p = *object->particles;
    auto drawnAt = [&](glm::vec3& where) {
        int n = 0;
        p.ForEachModelInstance(glm::vec3(10, 0, 0), glm::vec3(0), glm::vec3(2), [&](const ParticleModelInstance& m) {
            where = glm::vec3(m.matrix[3]);
            EXPECT_EQ(m.modelScale, glm::vec3(2));
            ++n;
        });
        return n;
    };
    glm::vec3 where, died;
    int f = 0;
    do {
        p.Update(kFrame);
        ++f;
    } while (p.lifetime[0] < 0 || p.alive[0]);
    ASSERT_EQ(drawnAt(died), 1);
    EXPECT_NEAR(died.x, 10.5f, 0.02f);
    while (!p.alive[0]) {
        p.Update(kFrame);
        ASSERT_EQ(drawnAt(where), 1);
        if (!p.alive[0]) {
            EXPECT_EQ(where, died);
        }
        ++f;
    }
    EXPECT_EQ(where, glm::vec3(10, 0, 0));  // emitted again, at the origin
    EXPECT_NEAR(f, 120, 1);
}

TEST(NoiseField, PermutationAndSamplesFollowTheFormula) {
    NoiseField field;
    field.Reseed(1);
    ReferenceNoise reference(1);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(field.perm[i], reference.perm[i]) << i;
        ASSERT_EQ(field.perm12[i], reference.perm12[i]) << i;
    }
    field.frequency = 0.37f;
    const float points[][2] = {{0.3f, 0.7f}, {12.25f, -3.5f}, {-1.0f, -2.0f}, {-7.9f, 100.1f}, {-0.01f, 0.02f}};
    for (auto [x, y] : points) EXPECT_NEAR(field.Sample(x, y), reference(double(x), double(y), 0.37), 1e-5) << x << "," << y;
    // Whole lattice points have no gradient contribution.
    field.frequency = 1;
    EXPECT_EQ(field.Sample(3, 4), 0.0f);
    EXPECT_EQ(field.Sample(NAN, 1), 0.0f);
    EXPECT_EQ(field.Sample(1e30f, 1), 0.0f);
}

TEST(ParticleDraw, QuadsSortBackToFrontAlongTheCameraAxis) {
    auto object = Load(R"(<PCount value="5"/><EmitRate value="0"/><DrawMode type="draw.quads"/><Size value="2"/>)");
    ObjectParticles& p = *object->particles;
    p.Update(kFrame);
    const glm::vec3 places[5] = {{0, 0, -1}, {3, 0, 5}, {-2, 0, 0}, {1, 0, -9}, {NAN, 0, 0}};
    for (int i = 0; i < 5; ++i) {
        p.alive[i] = 1;
        p.lifetime[i] = 1;
        p.posX[i] = places[i].x, p.posY[i] = places[i].y, p.posZ[i] = places[i].z;
        p.colR[i] = 0.1f * i;
    }
    p.alive[2] = 0;
    auto order = [&](const glm::vec3& cameraRotation) {
        std::vector<float> firstCornerX, red;
        int n = p.BuildQuads(cameraRotation, glm::vec3(100, 0, 0));
        for (int q = 0; q < n; ++q) {
            firstCornerX.push_back(p.quadPositions[q * 12]);
            red.push_back(p.quadColors[q * 16 + 12]);  // the fourth vertex
        }
        for (float v : p.quadPositions) EXPECT_FALSE(std::isnan(v));
        return std::make_pair(firstCornerX, red);
    };
    // Looking down -Z: far (low z) first. The corner (-0.5, -0.5) is scaled by the size.
    auto [x, red] = order(glm::vec3(0));
    EXPECT_EQ(x, (std::vector<float>{1 - 1.0f, 0 - 1.0f, 3 - 1.0f}));
    EXPECT_EQ(red, (std::vector<float>{0.1f * 3, 0.0f, 0.1f * 1}));
    // Turned a quarter about Y the camera looks down -X: low x first.
    std::vector<float> turned = order(glm::vec3(0, glm::half_pi<float>(), 0)).first;
    ASSERT_EQ(turned.size(), 3u);
    EXPECT_LT(turned[0], turned[1]);
    EXPECT_LT(turned[1], turned[2]);
}

TEST(ParticleDraw, LargePoolsWithEqualKeysStillSortAscending) {
    auto object = Load(R"(<PCount value="3000"/><EmitRate value="0"/>)");
    ObjectParticles& p = *object->particles;
    p.Update(kFrame);
    SeedRand(5);
    for (int i = 0; i < p.count; ++i) {
        p.alive[i] = 1;
        p.lifetime[i] = 1;
        // Every third particle shares its depth with another one.
        p.posZ[i] = i % 3 == 0 ? static_cast<float>(i % 7) : static_cast<float>(Rand()) / 100.0f - 150.0f;
        p.posX[i] = static_cast<float>(i);
    }
    for (bool ties : {true, false}) {
        if (!ties)  // a shuffled 0..2999
            for (int i = 0; i < p.count; ++i) p.posZ[i] = static_cast<float>((i * 7919) % 3000) - 1500.0f;
        ASSERT_EQ(p.BuildQuads(glm::vec3(0), glm::vec3(0)), p.count);
        std::vector<bool> seen(p.count);
        float previous = -INFINITY;
        for (int q = 0; q < p.count; ++q) {
            int slot = static_cast<int>(p.quadPositions[q * 12] + 0.5f);  // x was the slot number
            ASSERT_FALSE(seen[slot]);
            seen[slot] = true;
            EXPECT_GE(p.posZ[slot], previous) << q << (ties ? " with ties" : "");
            previous = p.posZ[slot];
        }
    }
}

TEST(ParticleUpdate, OneParticleAfterManyStepsMatchesTheFormulas) {
    auto object = Load(R"(<PCount value="1"/><EmitRate value="120"/><LifeMin value="9"/><LifeMax value="11"/>
        <EmitterType type="sphere.volume"/><EmitterSize x="1" y="2" z="3"/><EmitterPos x="0.5"/>
        <Wind x="0.1" y="0.2" z="-0.3"/><RandomRot value="90"/><Rotation x="10" y="20" z="30"/>
        <RotationOveLife><Point time="0" value="1"/><Point time="1" value="0"/></RotationOveLife>
        <GravityYOverLife><Point time="0" value="0"/><Point time="1" value="-50"/></GravityYOverLife>
        <NoiseIntensity value="5"/><NoiseFrequency value="0.05"/><NoiseOffset x="1" y="2" z="3"/>
        <NoiseIntensityXOveLife><Point time="0" value="10"/><Point time="1" value="0"/></NoiseIntensityXOveLife>
        <VelocityOverTime value="0.2"/>
        <RandomVelocityOverLife><Point time="0" value="1"/><Point time="1" value="0.5"/></RandomVelocityOverLife>
        <ColorROverLife><Point time="0" value="1"/><Point time="1" value="0"/></ColorROverLife>)");
    ObjectParticles& p = *object->particles;
    SeedRand(99);
    const int steps = 300;
    for (int f = 0; f < steps; ++f) p.Update(kFrame);

    // The reference keeps the simulation's single precision; the noise is
    // weak and slow enough that rounding differences do not grow.
    ReferenceRand draw{99};
    auto u = [&] { return static_cast<float>(draw()); };
    ReferenceNoise noise(1);
    const float pi = 3.14159265f, dt = kFrame, k = dt * 70;
    float life = u() * 2 + 9, rot[3] = {u() * 90, u() * 90, u() * 90};
    float rnd[3] = {u() - 0.5f, u() - 0.5f, u() - 0.5f};
    float az = u() * 2 * pi, el = u() * pi - pi / 2, r = u();
    float dir[3] = {std::cos(az) * std::cos(el) * r, std::sin(el) * r * 2, std::sin(az) * std::cos(el) * r * 3};
    float pos[3] = {dir[0] + 0.5f, dir[1], dir[2]}, age = 0, red = 1;
    const float wind[3] = {0.1f, 0.2f, -0.3f}, offset[3] = {1, 2, 3}, spin[3] = {10, 20, 30};
    for (int f = 1; f < steps; ++f) {
        age += dt;
        float t = age / life;
        float q[3] = {pos[0] + offset[0], pos[1] + offset[1], pos[2] + offset[2]};
        float n[3] = {noise(q[1], q[2], 0.05f), noise(q[0], q[2], 0.05f), noise(q[0], q[1], 0.05f)};
        float weight[3] = {10 * (1 - t) / 100 + 0.05f, 0.05f, 0.05f};
        float gravity[3] = {0, -50 * t * dt / 100, 0};
        for (int a = 0; a < 3; ++a) {
            pos[a] += n[a] * weight[a] * k + (wind[a] * dt + gravity[a]);
            pos[a] += dir[a] * (0.2f * k) / 10;
            pos[a] += rnd[a] * ((1 - 0.5f * t) * k) / 10;
            rot[a] += spin[a] * ((1 - t) * k);
        }
        red = 1 - t;
    }
    ASSERT_TRUE(p.alive[0]);
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(Position(p, 0)[a], pos[a], 1e-3) << a;
        EXPECT_NEAR((glm::vec3(p.rotX[0], p.rotY[0], p.rotZ[0]))[a], rot[a], 1e-2) << a;
    }
    EXPECT_NEAR(p.colR[0], red, 1e-5);
    EXPECT_NEAR(p.lifetime[0], life, 1e-5);
}
