#include "resources/SModelLoader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

SModelLoader Load(const std::string& text) {
    SModelLoader loader;
    loader.LoadObjText("test.obj", text.data(), text.size());
    return loader;
}

glm::vec3 Vec3At(const std::vector<float>& a, int vertex) { return {a[vertex * 3], a[vertex * 3 + 1], a[vertex * 3 + 2]}; }
glm::vec2 Vec2At(const std::vector<float>& a, int vertex) { return {a[vertex * 2], a[vertex * 2 + 1]}; }

std::vector<glm::ivec3> Triangles(const SModelLoader& loader) { return loader.positionIndices; }

const char* kUnitTriangle =
    "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 0 1\n"
    "vn 0 0 1\n";

}  // namespace

TEST(ObjLoader, FacesFanFromTheirFirstCorner) {
    std::string points = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0.5 1.5 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0.5 1\nvt 0 1\nvn 0 0 1\n";
    SModelLoader quad = Load(points + "f 1/1/1 2/2/1 3/3/1 5/5/1\n");
    EXPECT_EQ(Triangles(quad), (std::vector<glm::ivec3>{{1, 2, 3}, {1, 3, 5}}));
    EXPECT_EQ(quad.uvIndices, (std::vector<glm::ivec3>{{1, 2, 3}, {1, 3, 5}}));
    EXPECT_EQ(quad.normalIndices, (std::vector<glm::ivec3>{{1, 1, 1}, {1, 1, 1}}));
    // Vertex k is corner k mod 3 of triangle k div 3.
    ModelVertexArrays arrays = VertexArrays(quad);
    ASSERT_EQ(arrays.vertexCount, 6);
    EXPECT_EQ(Vec3At(arrays.positions, 4), glm::vec3(1, 1, 0));
    EXPECT_EQ(Vec3At(arrays.positions, 5), glm::vec3(0, 1, 0));
    EXPECT_EQ(Vec2At(arrays.uvs, 5), glm::vec2(0, 1));

    SModelLoader pentagon = Load(points + "f 1/1/1 2/2/1 3/3/1 4/4/1 5/5/1\n");
    EXPECT_EQ(Triangles(pentagon), (std::vector<glm::ivec3>{{1, 2, 3}, {1, 3, 4}, {1, 4, 5}}));
}

TEST(ObjLoader, ThreePositionsOneNormalLogsCountsAndSizesArrays) {
    StdoutCapture capture;
    SModelLoader loader = Load(std::string(kUnitTriangle) + "f 1/1/1 2/2/1 3/3/1\n");
    EXPECT_EQ(capture.Text(), "Loading object: test.obj\nLoaded object:\n\tfaces: 1\n\tnormals: 1\n\tvertices: 3\n\tuvs: 3\n");
    EXPECT_EQ(loader.triangleCount, 1);
    EXPECT_EQ(loader.positionCount, 3);
    EXPECT_EQ(loader.normalCount, 1);
    EXPECT_EQ(loader.uvCount, 3);
    ModelVertexArrays arrays = VertexArrays(loader);
    EXPECT_EQ(arrays.positions.size(), 9u);
    EXPECT_EQ(arrays.normals.size(), 9u);
    EXPECT_EQ(arrays.uvs.size(), 6u);
    EXPECT_EQ(arrays.tangents.size(), 9u);
}

TEST(ObjLoader, LineRules) {
    SModelLoader loader = Load(
        "   v 1 2 3   \n"     // leading space: trimmed, read
        "# v 9 9 9\n"         // comment
        "\tv 8 8 8\n"         // only a leading space trims
        "f\n"                 // too short
        "o thing\ng group\ns 1\nusemtl red\nmtllib a.mtl\nl 1 2\n"
        "v 4 5 6\r\n"         // a trailing '\r' ends the number like a space
        "v 7\n"               // a short line keeps the previous line's other components
        "vt 0.5 0.25\r\n"
        "f 1/1 2/1 3/1\r\n");
    ASSERT_EQ(loader.positionCount, 3);
    EXPECT_EQ(loader.positions[0], glm::vec3(1, 2, 3));
    EXPECT_EQ(loader.positions[1], glm::vec3(4, 5, 6));
    EXPECT_EQ(loader.positions[2], glm::vec3(7, 5, 6));
    ASSERT_EQ(loader.uvCount, 1);
    EXPECT_EQ(loader.uvs[0], glm::vec2(0.5f, 0.25f));
    EXPECT_EQ(Triangles(loader), (std::vector<glm::ivec3>{{1, 2, 3}}));

    // Before the first complete line of a kind, missing components are 0.
    SModelLoader partial = Load("v 7\nvn 1\n");
    EXPECT_EQ(partial.positions[0], glm::vec3(7, 0, 0));
    EXPECT_EQ(partial.normals[0], glm::vec3(1, 0, 0));
}

TEST(ObjLoader, NumbersMatchStrtof) {
    // Decimals as exporters write them, plus the forms that leave the fast path.
    std::vector<std::string> numbers = {"0", "-0", ".5", "5.", "1e", "1e+", "1.5E-3", "0x1p3", "inf", "-nan",
                                        "123456789012345678901234", "1e39", "1e-46", "0.000000000000000000000001"};
    uint64_t state = 12345;
    auto next = [&] { return (state = state * 6364136223846793005u + 1442695040888963407u) >> 33; };
    char text[64];
    for (int i = 0; i < 3000; ++i) {
        double value = static_cast<double>(next()) / (1u << 31) * std::pow(10.0, static_cast<int>(next() % 16) - 8);
        if (next() & 1) value = -value;
        const char* format = i % 3 == 0 ? "%.*f" : (i % 3 == 1 ? "%.*e" : "%.*g");
        std::snprintf(text, sizeof(text), format, static_cast<int>(next() % 18), value);
        numbers.push_back(text);
    }
    std::string file;
    for (const std::string& n : numbers) file += "v " + n + " 0 0\n";
    SModelLoader loader = Load(file);
    ASSERT_EQ(loader.positions.size(), numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) {
        float expected = std::strtof(numbers[i].c_str(), nullptr);
        float got = loader.positions[i].x;
        if (std::isnan(expected)) EXPECT_TRUE(std::isnan(got)) << numbers[i];
        else EXPECT_EQ(std::memcmp(&expected, &got, sizeof(float)), 0) << numbers[i] << " read as " << got;
    }
}

TEST(ObjLoader, SharedPositionsGiveSeparateVertices) {
    SModelLoader loader = Load(std::string(kUnitTriangle) + "v 1 1 0\nvt 1 1\nf 1/1/1 2/2/1 3/3/1\nf 2/4/1 4/4/1 3/1/1\n");
    ModelVertexArrays arrays = VertexArrays(loader);
    ASSERT_EQ(arrays.vertexCount, 6);
    // Position 2 is vertex 1 and vertex 3, each with its own uv.
    EXPECT_EQ(Vec3At(arrays.positions, 1), glm::vec3(1, 0, 0));
    EXPECT_EQ(Vec3At(arrays.positions, 3), glm::vec3(1, 0, 0));
    EXPECT_EQ(Vec2At(arrays.uvs, 1), glm::vec2(1, 0));
    EXPECT_EQ(Vec2At(arrays.uvs, 3), glm::vec2(1, 1));
}

TEST(ObjLoader, TangentIsUnitPerpendicularAndFlipsWithAMirroredTexture) {
    // e1 = (1,0,0), e2 = (0,1,0); uvs (0,0) (1,1) (0,1): r = 1, T = e1 - e2 = (1,-1,0),
    // B = (0,1,0). With N = (0,0.6,0.8): T' = T + 0.6 N = (1,-0.64,0.48), length
    // sqrt(1.64); N x T' = (0.8,0.8,-0.6) faces B, so no flip.
    const std::string geometry = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0.6 0.8\n";
    glm::vec3 expected = glm::vec3(1.0f, -0.64f, 0.48f) / std::sqrt(1.64f);
    // Mirrored in v: uvs (0,0) (1,-1) (0,-1) give r = -1, the same T and B = (0,-1,0).
    for (bool mirrored : {false, true}) {
        SModelLoader loader = Load(geometry + (mirrored ? "vt 0 0\nvt 1 -1\nvt 0 -1\n" : "vt 0 0\nvt 1 1\nvt 0 1\n") +
                                   "f 1/1/1 2/2/1 3/3/1\n");
        ModelVertexArrays arrays = VertexArrays(loader);
        ASSERT_EQ(arrays.vertexCount, 3);
        for (int k = 0; k < 3; ++k) {
            glm::vec3 t = Vec3At(arrays.tangents, k);
            EXPECT_NEAR(glm::dot(t, glm::vec3(0, 0.6f, 0.8f)), 0.0f, 1e-6f);
            EXPECT_NEAR(glm::length(t), 1.0f, 1e-6f);
            glm::vec3 want = mirrored ? -expected : expected;
            EXPECT_NEAR(glm::distance(t, want), 0.0f, 1e-6f) << "mirrored " << mirrored << " corner " << k;
        }
    }
}

TEST(ObjLoader, CornersWithoutUvOrNormalAndRelativeIndices) {
    // Missing uv: (0, 0). Missing normal: the triangle's own, by its winding.
    SModelLoader loader = Load(std::string(kUnitTriangle) +
                               "vn 1 0 0\nf 1 3 2\nf 1//2 2//2 3//2\nf 1/2 2/3 3/1\nf -3/-3/-1 -2/-2/-1 -1/-1/-1\n"
                               "v 5 5 5\nf -1 -2 -3\n");
    EXPECT_EQ(Triangles(loader), (std::vector<glm::ivec3>{{1, 3, 2}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {4, 3, 2}}));
    EXPECT_EQ(loader.normalIndices[3], glm::ivec3(2, 2, 2));
    EXPECT_EQ(loader.uvIndices[3], glm::ivec3(1, 2, 3));
    ModelVertexArrays arrays = VertexArrays(loader);
    EXPECT_EQ(Vec3At(arrays.normals, 0), glm::vec3(0, 0, -1));
    EXPECT_EQ(Vec2At(arrays.uvs, 2), glm::vec2(0, 0));
    EXPECT_EQ(Vec3At(arrays.normals, 3), glm::vec3(1, 0, 0));
    EXPECT_EQ(Vec2At(arrays.uvs, 3), glm::vec2(0, 0));
    EXPECT_EQ(Vec3At(arrays.normals, 6), glm::vec3(0, 0, 1));
    EXPECT_EQ(Vec2At(arrays.uvs, 6), glm::vec2(1, 0));
    // Texture coordinates without area still give unit tangents across the normal.
    for (int k = 0; k < 3; ++k) {
        glm::vec3 t = Vec3At(arrays.tangents, k);
        EXPECT_NEAR(glm::length(t), 1.0f, 1e-6f);
        EXPECT_NEAR(glm::dot(t, glm::vec3(0, 0, -1)), 0.0f, 1e-6f);
    }
}

TEST(ObjLoader, FacesNamingNoElementAreDroppedAndOthersKept) {
    SModelLoader loader = Load(std::string(kUnitTriangle) +
                               "# 2000000000 vertices\n"
                               "f 0 1 2\n"                 // 0 names nothing
                               "f -4 1 2\n"                // before the first position
                               "f 1 2 3 4\n"               // past the last: the quad's first triangle goes too
                               "f 1/4/1 2/1/1 3/1/1\n"     // uv past the last
                               "f 1/1/2 2/1/1 3/1/1\n"     // normal past the last
                               "f 4294967297 2 3\n"        // 2^32 + 1 must not wrap to 1
                               "f 2000000000 2 3\n"
                               "f 1 2 99999999999999999999999\n"
                               "f x 2 3\n"                 // no position
                               "f 1/1/1/9  2/2/1 3/3/1 \n"  // extra piece ignored; empty corners are no corners
                               );
    EXPECT_EQ(Triangles(loader), (std::vector<glm::ivec3>{{1, 2, 3}}));
    EXPECT_EQ(loader.triangleCount, 1);
    // Nothing is sized from a number the file declares; arrays grow by doubling.
    EXPECT_LE(loader.positions.capacity(), 4u);
    EXPECT_LE(loader.positionIndices.capacity(), 20u);
}

TEST(ObjLoader, HostileFilesLoadWhatTheyHonestlyHold) {
    SModelLoader empty = Load("");
    EXPECT_FALSE(empty.LoadObjText("empty.obj", "", 0));
    EXPECT_EQ(empty.triangleCount, 0);
    EXPECT_FALSE(empty.LoadObjText("zero.obj", "\0v 1 2 3\n", 9));

    // A 1000-corner face fans into 998 triangles round its first corner.
    std::string big;
    for (int i = 0; i < 1000; ++i) big += "v " + std::to_string(std::cos(i * 0.00628)) + " " + std::to_string(std::sin(i * 0.00628)) + " 0\n";
    big += "f";
    for (int i = 1; i <= 1000; ++i) {
        big += ' ';
        big += std::to_string(i);
    }
    SModelLoader polygon = Load(big + "\n");
    ASSERT_EQ(polygon.triangleCount, 998);
    EXPECT_EQ(polygon.positionIndices[997], glm::ivec3(1, 999, 1000));
    EXPECT_EQ(VertexArrays(polygon).vertexCount, 2994);

    // Lines of a megabyte: a number of a million digits, and a face of 1/1/1 corners.
    SModelLoader longLines = Load("v 1" + std::string(1 << 20, '1') + " 2 3\nvt 0 0\nvn 0 0 1\nf" + [] {
        std::string corners;
        for (int i = 0; i < 1 << 17; ++i) corners += " 1/1/1";
        return corners;
    }() + "\n");
    EXPECT_TRUE(std::isinf(longLines.positions[0].x));
    EXPECT_EQ(longLines.positions[0].y, 2.0f);
    EXPECT_EQ(longLines.triangleCount, (1 << 17) - 2);

    // Garbage: OBJ-ish tokens and stray bytes in random order. Whatever loads
    // names real elements and fills finite tangents.
    const char* tokens[] = {"v ", "f ", "vt ", "vn ", "1", "-1", "2", "/", "//", " ", " ", "\n", "0.5", "#", "\xff\x80", "e9"};
    std::string garbage;
    uint64_t state = 99;
    while (garbage.size() < (1 << 16)) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        garbage += tokens[(state >> 59) % 16];
    }
    SModelLoader noise = Load(garbage);
    EXPECT_GT(noise.triangleCount, 0);
    for (const glm::ivec3& t : noise.positionIndices)
        for (int k = 0; k < 3; ++k) ASSERT_TRUE(t[k] >= 1 && t[k] <= noise.positionCount);
    for (float f : VertexArrays(noise).tangents) ASSERT_TRUE(std::isfinite(f));
}

TEST(ObjLoader, FileLoadReleaseAndReload) {
    std::string path = testing::TempDir() + "obj-loader-test.obj";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string text = std::string(kUnitTriangle) + "f 1/1/1 2/2/1 3/3/1\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);

    SModelLoader loader;
    ASSERT_TRUE(loader.LoadObjFile(path));
    EXPECT_EQ(loader.path, path);
    EXPECT_EQ(loader.triangleCount, 1);
    loader.Release();
    EXPECT_EQ(loader.triangleCount + loader.positionCount + loader.uvCount + loader.normalCount, 0);
    EXPECT_TRUE(loader.positions.empty() && loader.positionIndices.empty());
    ASSERT_TRUE(loader.LoadObjFile(path));
    EXPECT_EQ(loader.triangleCount, 1);
    std::remove(path.c_str());

    EXPECT_FALSE(loader.LoadObjFile(path));
    EXPECT_EQ(loader.triangleCount + loader.positionCount, 0);
}

// A large model fills its vertex arrays in ranges on a few threads: the arrays
// must be those one thread gives, bit for bit, ranges' edges included. One
// thread is forced by pinning this one to a single core.
TEST(ObjLoader, VertexArraysFilledOnThreadsMatchOneThread) {
#ifndef __linux__
    GTEST_SKIP() << "pinning to one core is done on Linux only";
#else
    const int side = 240;  // 115200 triangles: two ranges and a part
    std::string text;
    char line[128];
    for (int j = 0; j <= side; ++j)
        for (int i = 0; i <= side; ++i) {
            std::snprintf(line, sizeof line, "v %d %d %.4f\nvt %.4f %.4f\n", i, j, std::sin(i * 0.1) * std::cos(j * 0.13),
                          (i * 7 % 11) / 11.0, j / double(side));
            text += line;
        }
    text += "vn 0 0 1\nvn 0.6 0 0.8\n";
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            int a = j * (side + 1) + i + 1, b = a + 1, c = a + side + 2, d = a + side + 1;
            // Some corners without a normal, so both normal sources are filled.
            std::snprintf(line, sizeof line, "f %d/%d/1 %d/%d/%d %d/%d/2 %d/%d\n", a, a, b, b, 1 + (i + j) % 2, c, c, d, d);
            text += line;
        }
    SModelLoader loader;
    {
        StdoutCapture quiet;
        ASSERT_TRUE(loader.LoadObjText("grid.obj", text.data(), text.size()));
    }
    ASSERT_EQ(loader.triangleCount, 2 * side * side);
    ModelVertexArrays threaded = VertexArrays(loader);

    cpu_set_t saved, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    ModelVertexArrays single = VertexArrays(loader);
    sched_setaffinity(0, sizeof saved, &saved);

    auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
        return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
    };
    EXPECT_TRUE(same(threaded.positions, single.positions));
    EXPECT_TRUE(same(threaded.normals, single.normals));
    EXPECT_TRUE(same(threaded.uvs, single.uvs));
    EXPECT_TRUE(same(threaded.tangents, single.tangents));
#endif
}
