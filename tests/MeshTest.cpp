#include "resources/Mesh.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Rand.h"
#include "render/MeshDraw.h"
#include "tests/GlContext.h"

using namespace caldera;

namespace {

// A model file in a private temporary folder, loaded into a mesh.
struct ModelFile {
    std::string path;
    explicit ModelFile(const std::string& text) {
        path = (std::filesystem::temp_directory_path() /
                ("demo-mesh-" + std::to_string(getpid()) + ".obj")).string();
        Write(text);
    }
    ~ModelFile() { std::filesystem::remove(path); }
    void Write(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
};

const char* kTriangle =
    "v 0 0 0\nv 0 1 0\nv 1 0 0\nvt 0 0\nvt 0 1\nvt 1 0\nvn 0 0 1\nvn 0 0 3\n"
    "f 1/1/1 2/2/1 3/3/2\n";

}  // namespace

TEST(Mesh, RandomSurfacePointStaysOnTheOneTriangle) {
    ModelFile file(kTriangle);
    Mesh mesh;
    mesh.Load(1, file.path, "t.obj");
    ASSERT_EQ(mesh.TriangleCount(), 1);
    EXPECT_EQ(mesh.vertexFloatCount, 9);
    EXPECT_EQ(mesh.uvFloatCount, 6);

    // Seed 1 draws 41, 18467, 6334: u = 41/32767, v = 18467/32767 x (1 - u);
    // the point is p0 + (p2 - p0) u + (p1 - p0) v with p0 = 0, p1 = (0,1,0), p2 = (1,0,0).
    SeedRand(1);
    auto point = mesh.RandomSurfacePoint();
    ASSERT_TRUE(point.has_value());
    const float u = 41.0f / 32767.0f;
    const float v = (18467.0f / 32767.0f) * (1.0f - u);
    EXPECT_FLOAT_EQ(point->position.x, u);
    EXPECT_FLOAT_EQ(point->position.y, v);
    EXPECT_FLOAT_EQ(point->position.z, 0.0f);
    EXPECT_FLOAT_EQ(point->normal.z, 5.0f / 3.0f);  // the plain mean of 1, 1 and 3

    for (int i = 0; i < 10000; ++i) {
        auto p = mesh.RandomSurfacePoint();
        ASSERT_TRUE(p.has_value());
        ASSERT_GE(p->position.x, 0.0f);
        ASSERT_GE(p->position.y, 0.0f);
        ASSERT_LE(p->position.x + p->position.y, 1.0f + 1e-6f);
    }
}

TEST(Mesh, AModelThatCannotBeReadHasNoTrianglesAndNoSurface) {
    Mesh mesh;
    mesh.Load(2, "/nonexistent/missing.obj", "missing.obj");
    EXPECT_EQ(mesh.TriangleCount(), 0);
    EXPECT_TRUE(mesh.positions.empty());
    SeedRand(1);
    EXPECT_FALSE(mesh.RandomSurfacePoint().has_value());
    EXPECT_EQ(Rand(), 41);  // no draws were spent
}

TEST(Mesh, AReloadIsDoneByTheNextDraw) {
    if (!HaveGlContext()) GTEST_SKIP() << GlContextError();
    ModelFile file(kTriangle);
    Mesh mesh;
    mesh.Load(3, file.path, "t.obj");
    DrawMesh(mesh);
    EXPECT_TRUE(mesh.buffersReady);
    GLuint firstBuffer = mesh.positionBuffer;
    EXPECT_NE(firstBuffer, 0u);
    GLint size = 0;
    glBindBuffer(GL_ARRAY_BUFFER, mesh.positionBuffer);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(size, 9 * 4);

    // The watcher only flags the mesh; the arrays change at the next draw.
    file.Write(std::string(kTriangle) + "f 3/3/1 2/2/1 1/1/1\n");
    mesh.reloadRequested = true;
    EXPECT_EQ(mesh.TriangleCount(), 1);
    DrawMesh(mesh);
    EXPECT_FALSE(mesh.reloadRequested);
    EXPECT_EQ(mesh.TriangleCount(), 2);
    glBindBuffer(GL_ARRAY_BUFFER, mesh.positionBuffer);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(size, 18 * 4);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // Read before the frame, as the front end does: the draw replaces the
    // buffers and gives the old ones back.
    const GLuint before[4] = {mesh.positionBuffer, mesh.normalBuffer, mesh.tangentBuffer, mesh.uvBuffer};
    file.Write(kTriangle);
    mesh.reloadRequested = true;
    EXPECT_TRUE(mesh.ReloadIfRequested());
    EXPECT_EQ(mesh.TriangleCount(), 1);
    DrawMesh(mesh);
    const GLuint after[4] = {mesh.positionBuffer, mesh.normalBuffer, mesh.tangentBuffer, mesh.uvBuffer};
    for (GLuint name : before) {
        // A name still alive must be one of the new buffers: GL may hand a freed name out again.
        const bool reused = std::find(std::begin(after), std::end(after), name) != std::end(after);
        EXPECT_TRUE(reused || glIsBuffer(name) == GL_FALSE) << "buffer " << name << " was not given back";
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
