#include "render/Renderer.h"

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>

#include "playback/ApplyMaterial.h"
#include "playback/Show.h"
#include "render/ApplyRenderState.h"
#include "render/MeshDraw.h"
#include "resources/Mesh.h"
#include "scene/ObjectRenderState.h"
#include "render/ShadowMask.h"
#include "resources/Material.h"
#include "resources/Texture.h"
#include "scene/Scene.h"
#include "tests/GlContext.h"

using namespace caldera;

namespace {

// Runs set-up with the working folder at `folder`, where the shader paths resolve.
void InitIn(const std::string& folder, int width, int height) {
    Renderer& renderer = Renderer::Instance();
    renderer.SetScreenSize(width, height);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    renderer.Init();
    std::filesystem::current_path(previous);
}

const std::string kProduction = std::string(DEMO_SOURCE_DIR) + "/demo";

// Set-up at 1280 x 720 with the production's shaders, made once and again
// only when another test left a different set-up behind.
bool& ProductionReady() {
    static bool ready = false;
    return ready;
}

Renderer& ProductionRenderer() {
    if (!ProductionReady()) {
        InitIn(kProduction, 1280, 720);
        ProductionReady() = true;
    }
    return Renderer::Instance();
}

std::vector<ShaderProgram*> Programs(Renderer& r) {
    return {r.programs.ssaoProgram.get(), r.programs.copyProgram.get(), r.programs.deferredProgram.get(), r.programs.ssaoBlurProgram.get(),
            r.programs.reflectProgram.get(), r.programs.cubeBlurProgram.get(), r.programs.geometryProgram.get(), r.programs.particleProgram.get(),
            r.programs.debugProgram.get(), r.programs.simpleProgram.get(), r.programs.refractionProgram.get(),
            r.programs.lensDirtThresholdProgram.get(), r.programs.lensDirtBlurProgram.get(), r.programs.lensDirtMixProgram.get(),
            r.programs.shadowProgram.get(), r.programs.glowBlurProgram.get()};
}

GLenum Status(GLuint framebuffer) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return status;
}

void ExpectAllTargetsComplete(Renderer& r) {
    struct Named {
        const char* name;
        GLuint framebuffer;
    };
    const Named targets[] = {
        {"gBuffer", r.gbuffer.gBuffer}, {"ssaoTarget", r.targets.ssaoTarget}, {"ssaoBlurTarget", r.targets.ssaoBlurTarget},
        {"ssaoBlur2Target", r.targets.ssaoBlur2Target}, {"combinedTarget", r.targets.combinedTarget},
        {"lensDirtTarget", r.targets.lensDirtTarget}, {"lensDirtTmpTarget", r.targets.lensDirtTmpTarget},
        {"combined2Target", r.targets.combined2Target}, {"combinedGlassTarget", r.targets.combinedGlassTarget},
        {"glassGBuffer", r.gbuffer.glassGBuffer}, {"finalGBuffer", r.gbuffer.finalGBuffer}, {"shadowTarget", r.targets.shadowTarget},
        {"cube256", r.cubes.cube256.framebuffer}, {"cube128a", r.cubes.cube128a.framebuffer},
        {"cube128b", r.cubes.cube128b.framebuffer}, {"cube85a", r.cubes.cube85a.framebuffer},
        {"cube85b", r.cubes.cube85b.framebuffer},
    };
    for (const Named& target : targets) {
        EXPECT_NE(target.framebuffer, 0u) << target.name;
        EXPECT_EQ(Status(target.framebuffer), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE)) << target.name;
    }
}

int TextureSide(GLenum query, GLuint texture) {
    glBindTexture(GL_TEXTURE_2D, texture);
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, query, &value);
    return value;
}

std::vector<unsigned char> RgbTexel(GLuint texture) {
    std::vector<unsigned char> texel(4, 0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texel.data());
    texel.resize(3);
    return texel;
}

GLint BoundTexture(int unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    GLint name = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

glm::mat4 UniformMatrix(GLuint program, const char* name) {
    glm::mat4 m(0.0f);
    glGetUniformfv(program, glGetUniformLocation(program, name), &m[0][0]);
    return m;
}

void ExpectNear(const glm::mat4& actual, const glm::mat4& expected) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) EXPECT_NEAR(actual[c][r], expected[c][r], 1e-5f) << "column " << c << " row " << r;
}

// A 2 x 2 square in the z = 0 plane facing +Z.
void MakeSquare(Mesh& mesh) {
    const float corners[6][2] = {{-1, -1}, {1, -1}, {-1, 1}, {-1, 1}, {1, -1}, {1, 1}};
    for (const auto& c : corners) {
        mesh.positions.insert(mesh.positions.end(), {c[0], c[1], 0.0f});
        mesh.normals.insert(mesh.normals.end(), {0.0f, 0.0f, 1.0f});
        mesh.tangents.insert(mesh.tangents.end(), {1.0f, 0.0f, 0.0f});
        mesh.uvs.insert(mesh.uvs.end(), {c[0] * 0.5f + 0.5f, c[1] * 0.5f + 0.5f});
    }
    mesh.vertexFloatCount = 18;
    mesh.uvFloatCount = 12;
}

glm::vec4 ReadPixel(GLuint framebuffer, int attachment, int x, int y) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glReadBuffer(GL_COLOR_ATTACHMENT0 + attachment);
    glm::vec4 pixel(-99.0f);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_FLOAT, &pixel[0]);
    return pixel;
}

void BindUnit(ShaderProgram& program, const char* name, int unit, GLenum target, GLuint texture) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glUniform1i(program.UniformLocation(name), unit);
    glBindTexture(target, texture);
}

#define REQUIRE_GL() \
    if (!HaveGlContext()) GTEST_SKIP() << GlContextError()

}  // namespace

TEST(RendererSetUp, MissingShadersLeaveProgramZeroAndTheTargetsStillComplete) {
    REQUIRE_GL();
    const std::filesystem::path empty =
        std::filesystem::temp_directory_path() / ("demo-renderer-" + std::to_string(getpid()));
    std::filesystem::create_directories(empty);
    InitIn(empty.string(), 320, 240);
    ProductionReady() = false;
    std::filesystem::remove_all(empty);

    Renderer& r = Renderer::Instance();
    for (ShaderProgram* program : Programs(r)) {
        ASSERT_NE(program, nullptr);
        EXPECT_EQ(program->program, 0u) << program->fragmentPath;
    }
    ExpectAllTargetsComplete(r);
    EXPECT_TRUE(Show::Instance().shaderWatch.load());

    // A copy and an object upload with no program must not raise GL errors.
    while (glGetError() != GL_NO_ERROR) {
    }
    glViewport(0, 0, 320, 240);
    const PreparedFrame frame;
    r.CopyTexture(frame, r.gbuffer.colorTex, r.gbuffer.savedColorTex);
    ObjectRenderState state;
    Apply(state, r.programs.geometryProgram.get(), frame.projection, frame.view, 1, frame.shadow.biasMvp, 0);
    Apply(state, nullptr, frame.projection, frame.view, 1, frame.shadow.biasMvp, 0);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(RendererSetUp, BuildsEveryProgramAndCompleteTargetsAtScreenSize) {
    REQUIRE_GL();
    while (glGetError() != GL_NO_ERROR) {
    }
    Renderer& r = ProductionRenderer();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    std::vector<ShaderProgram*> programs = Programs(r);
    ASSERT_EQ(programs.size(), 16u);
    for (ShaderProgram* program : programs) {
        ASSERT_NE(program, nullptr);
        EXPECT_NE(program->program, 0u) << program->vertexPath << " + " << program->fragmentPath;
    }
    // The rebuild sweep visits them in set-up order.
    const auto& all = ShaderProgram::allPrograms;
    auto first = std::find(all.begin(), all.end(), r.programs.ssaoProgram.get());
    ASSERT_GE(std::distance(first, all.end()), 16);
    for (size_t i = 0; i < programs.size(); ++i) EXPECT_EQ(first[static_cast<std::ptrdiff_t>(i)], programs[i]);

    ExpectAllTargetsComplete(r);
    EXPECT_EQ(TextureSide(GL_TEXTURE_WIDTH, r.gbuffer.colorTex), 1280);
    EXPECT_EQ(TextureSide(GL_TEXTURE_HEIGHT, r.gbuffer.depthTex), 720);
    EXPECT_EQ(TextureSide(GL_TEXTURE_WIDTH, r.targets.lensDirtTex), 213);
    EXPECT_EQ(TextureSide(GL_TEXTURE_HEIGHT, r.targets.lensDirtTmpTex), 120);
    EXPECT_EQ(TextureSide(GL_TEXTURE_WIDTH, r.targets.shadowDepthTex), 1024);
    EXPECT_EQ(TextureSide(GL_TEXTURE_INTERNAL_FORMAT, r.gbuffer.propertiesTex), GL_RGBA16F);

    glBindTexture(GL_TEXTURE_CUBE_MAP, r.cubes.cube85a.texture);
    GLint edge = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_CUBE_MAP_NEGATIVE_Z, 0, GL_TEXTURE_WIDTH, &edge);
    EXPECT_EQ(edge, 85);
    glBindTexture(GL_TEXTURE_CUBE_MAP, 0);

    EXPECT_EQ(RgbTexel(r.whiteTex), (std::vector<unsigned char>{255, 255, 255}));
    EXPECT_EQ(RgbTexel(r.defaultNormalTex), (std::vector<unsigned char>{128, 128, 255}));
}

TEST(RendererSetUp, GlowTargetsAreASixthOfA1080pScreen) {
    REQUIRE_GL();
    InitIn(kProduction, 1920, 1080);
    ProductionReady() = false;
    Renderer& r = Renderer::Instance();
    EXPECT_EQ(TextureSide(GL_TEXTURE_WIDTH, r.targets.lensDirtTex), 320);
    EXPECT_EQ(TextureSide(GL_TEXTURE_HEIGHT, r.targets.lensDirtTex), 180);
    EXPECT_EQ(TextureSide(GL_TEXTURE_WIDTH, r.targets.combined2Tex), 1920);
    EXPECT_EQ(Status(r.targets.lensDirtTarget), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
}

TEST(RendererCopies, CopyTextureAndCopyDepthReproduceTheirSourceExactly) {
    REQUIRE_GL();
    Renderer& r = ProductionRenderer();
    const int w = r.screenWidth, h = r.screenHeight;
    std::vector<float> colour(static_cast<size_t>(w) * h * 3);
    for (size_t i = 0; i < colour.size(); ++i) colour[i] = static_cast<float>(i % 977) * 0.25f - 40.0f;
    glBindTexture(GL_TEXTURE_2D, r.gbuffer.normalTex);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGB, GL_FLOAT, colour.data());
    std::vector<float> depth(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < depth.size(); ++i) depth[i] = static_cast<float>(i % 1024) / 1024.0f;
    glBindTexture(GL_TEXTURE_2D, r.gbuffer.depthTex);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());

    glViewport(0, 0, w, h);
    r.CopyTexture(PreparedFrame(), r.gbuffer.normalTex, r.gbuffer.savedNormalTex);
    r.CopyDepth(r.gbuffer.depthTex, r.gbuffer.savedDepthTex);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glUseProgram(0);

    std::vector<float> copied(colour.size(), -1.0f);
    glBindTexture(GL_TEXTURE_2D, r.gbuffer.savedNormalTex);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_FLOAT, copied.data());
    size_t mismatches = 0;
    for (size_t i = 0; i < colour.size(); ++i) mismatches += copied[i] != colour[i];  // all exact in half floats
    EXPECT_EQ(mismatches, 0u);

    std::vector<float> copiedDepth(depth.size(), -1.0f);
    glBindTexture(GL_TEXTURE_2D, r.gbuffer.savedDepthTex);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, copiedDepth.data());
    mismatches = 0;
    for (size_t i = 0; i < depth.size(); ++i) mismatches += std::fabs(copiedDepth[i] - depth[i]) > 1e-6f;
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(ObjectRenderState, ApplyUploadsTranslationThenRotationsAboutXYZ) {
    REQUIRE_GL();
    Renderer& r = ProductionRenderer();
    ShaderProgram* program = r.programs.geometryProgram.get();
    ASSERT_NE(program->program, 0u);

    ObjectRenderState state;
    state.position = {1.0f, -2.0f, 3.0f};
    state.rotation = {30.0f, 45.0f, 60.0f};
    state.scale = {2.0f, 1.0f, 0.5f};
    state.color = {0.25f, 0.5f, 1.0f};
    const glm::mat4 projection = glm::perspective(1.0f, 16.0f / 9.0f, 0.1f, 100.0f);
    const glm::mat4 view = glm::lookAt(glm::vec3(0, 2, 10), glm::vec3(0), glm::vec3(0, 1, 0));
    state.modelMatrix = DrawMatrix(state.position, state.rotation);
    Apply(state, program, projection, view, 7, glm::mat4(1.0f), 0);

    // Written out by hand: T x Rx x Ry x Rz, column vectors.
    const float d = 0.017453292f;
    const float cx = std::cos(30 * d), sx = std::sin(30 * d), cy = std::cos(45 * d), sy = std::sin(45 * d),
                cz = std::cos(60 * d), sz = std::sin(60 * d);
    // Row-major rows of Rx Ry Rz.
    const float rxyz[3][3] = {
        {cy * cz, -cy * sz, sy},
        {sx * sy * cz + cx * sz, -sx * sy * sz + cx * cz, -sx * cy},
        {-cx * sy * cz + sx * sz, cx * sy * sz + sx * cz, cx * cy},
    };
    glm::mat4 expected(1.0f);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) expected[col][row] = rxyz[row][col];
    expected[3] = glm::vec4(1.0f, -2.0f, 3.0f, 1.0f);

    const GLuint p = program->program;
    ExpectNear(UniformMatrix(p, "M"), expected);
    ExpectNear(state.modelMatrix, expected);
    ExpectNear(UniformMatrix(p, "MVP"), projection * view * expected);
    ExpectNear(UniformMatrix(p, "V"), view);

    float values[3] = {0, 0, 0};
    glGetUniformfv(p, glGetUniformLocation(p, "modelScale"), values);
    EXPECT_EQ(glm::vec3(values[0], values[1], values[2]), state.scale);
    glGetUniformfv(p, glGetUniformLocation(p, "COLOR"), values);
    EXPECT_EQ(glm::vec3(values[0], values[1], values[2]), state.color);
    glGetUniformfv(p, glGetUniformLocation(p, "objectID"), values);
    EXPECT_EQ(values[0], 7.0f);

    // An instance replaces the model matrix as given, untouched by position or rotation.
    const glm::mat4 instance = glm::translate(glm::mat4(1.0f), glm::vec3(5, 6, 7));
    ApplyInstance(program, projection, view, instance);
    ExpectNear(UniformMatrix(p, "M"), instance);
    ExpectNear(UniformMatrix(p, "MVP"), projection * view * instance);
    glUseProgram(0);
}

TEST(ObjectRenderState, MissingOrUndecodedTexturesBindTheDefaults) {
    REQUIRE_GL();
    Renderer& r = ProductionRenderer();
    ShaderProgram* program = r.programs.geometryProgram.get();
    ASSERT_NE(program->program, 0u);
    glUseProgram(program->program);

    ObjectRenderState state;
    BindTextures(state, *program);
    EXPECT_EQ(BoundTexture(0), static_cast<GLint>(r.whiteTex));
    EXPECT_EQ(BoundTexture(1), static_cast<GLint>(r.defaultNormalTex));
    EXPECT_EQ(BoundTexture(2), static_cast<GLint>(r.whiteTex));
    EXPECT_EQ(BoundTexture(3), static_cast<GLint>(r.whiteTex));
    GLint unit = -1;
    glGetUniformiv(program->program, program->UniformLocation("normalMap"), &unit);
    EXPECT_EQ(unit, 1);

    // A registered texture that is still decoding (or failed to) has no
    // image: sampling none would read black, so the stand-in is bound.
    Texture decoding;
    state.normalTexture = &decoding;
    state.colorTexture = &decoding;
    BindTextures(state, *program);
    EXPECT_EQ(BoundTexture(0), static_cast<GLint>(r.whiteTex));
    EXPECT_EQ(BoundTexture(1), static_cast<GLint>(r.defaultNormalTex));
    glActiveTexture(GL_TEXTURE0);
    glUseProgram(0);
}

TEST(ApplyMaterial, CopiesValuesAndMultipliesTheColourByTheObjects) {
    Material material{"glass"};
    material.colorMap = 12345;  // not registered: no texture
    material.color = {0.5f, 1.0f, 0.25f};
    material.reflectionAmount = 0.3f;
    material.shadeless = 1.0f;
    material.useSkyShader = true;
    material.blurrinessMultiplier = 0.7f;
    material.normalStrength = 0.9f;
    material.refraction = 0.2f;

    ObjectRenderState state;
    Texture stale;
    state.colorTexture = &stale;
    ApplyMaterial(state, material, glm::vec3(1.0f, 0.5f, 2.0f));
    EXPECT_EQ(state.colorTexture, nullptr);
    EXPECT_EQ(state.color, glm::vec3(0.5f, 0.5f, 0.5f));
    EXPECT_FLOAT_EQ(state.reflectionAmount, 0.3f);
    EXPECT_FLOAT_EQ(state.shadeless, 1.0f);
    EXPECT_TRUE(state.useSkyShader);
    EXPECT_FLOAT_EQ(state.blurriness, 0.7f);
    EXPECT_FLOAT_EQ(state.normalStrength, 0.9f);
    EXPECT_FLOAT_EQ(state.refraction, 0.2f);
}

// The production's geometry, occlusion and lighting shaders run on this
// rasteriser and agree on the G-buffer encoding: a lit square in front of
// the camera, one light, nothing else.
TEST(ProductionShaders, GeometryOcclusionAndLightingAgreeOnTheGBuffer) {
    REQUIRE_GL();
    Renderer& r = ProductionRenderer();
    const int w = r.screenWidth, h = r.screenHeight;
    const glm::mat4 projection = glm::perspective(0.8f, float(w) / float(h), 0.1f, 100.0f);
    const glm::mat4 view = glm::lookAt(glm::vec3(0, 0, 3), glm::vec3(0), glm::vec3(0, 1, 0));

    glBindFramebuffer(GL_FRAMEBUFFER, r.gbuffer.gBuffer);
    glViewport(0, 0, w, h);
    glClearColor(0, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShaderProgram& geometry = *r.programs.geometryProgram;
    glUseProgram(geometry.program);
    glUniform1i(geometry.UniformLocation("useCubemap"), 0);
    glUniform1f(geometry.UniformLocation("alphaThreshold"), 0.5f);
    glUniform1f(geometry.UniformLocation("shadowReciveAmount"), 0.0f);
    glUniform1f(geometry.UniformLocation("glowAmount"), 0.25f);
    glUniform3f(geometry.UniformLocation("modelScale"), 1, 1, 1);
    BindUnit(geometry, "cubeMap", 3, GL_TEXTURE_CUBE_MAP, r.cubes.cube256.texture);
    BindUnit(geometry, "shadowMap", 4, GL_TEXTURE_2D, r.targets.shadowDepthTex);
    BindUnit(geometry, "ShadowMaskTexture", 6, GL_TEXTURE_2D, r.whiteTex);
    Mesh square;
    MakeSquare(square);
    ObjectRenderState state;
    state.mesh = &square;
    state.color = {0.25f, 0.5f, 1.0f};
    Apply(state, &geometry, projection, view, 5, glm::mat4(1.0f), 0);
    DrawMesh(square);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const int cx = w / 2, cy = h / 2;
    const glm::vec4 colour = ReadPixel(r.gbuffer.gBuffer, 0, cx, cy);
    EXPECT_NEAR(colour.r, 0.25f, 1e-3f);
    EXPECT_NEAR(colour.b, 1.0f, 1e-3f);
    EXPECT_EQ(colour.a, 0.0f);  // not shadeless
    const glm::vec4 normal = ReadPixel(r.gbuffer.gBuffer, 1, cx, cy);
    EXPECT_NEAR(normal.z, 1.0f, 0.01f);  // faces the camera; the flat default normal keeps it so
    const glm::vec4 position = ReadPixel(r.gbuffer.gBuffer, 3, cx, cy);
    EXPECT_NEAR(position.z, -3.0f, 0.01f);  // view space
    EXPECT_EQ(position.w, 5.0f);             // object id
    const glm::vec4 properties = ReadPixel(r.gbuffer.gBuffer, 4, cx, cy);
    EXPECT_NEAR(properties.b, 0.25f, 1e-3f);  // glow
    EXPECT_EQ(properties.a, 1.0f);            // receives no shadow

    // A flat square occludes nothing of itself.
    glDisable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, r.targets.ssaoTarget);
    glClear(GL_COLOR_BUFFER_BIT);
    ShaderProgram& ssao = *r.programs.ssaoProgram;
    glUseProgram(ssao.program);
    glUniformMatrix4fv(ssao.UniformLocation("P"), 1, GL_FALSE, &projection[0][0]);
    const GLuint ssaoInputs[6] = {r.gbuffer.colorTex, r.gbuffer.normalTex, r.gbuffer.tangentTex, r.gbuffer.depthTex, r.gbuffer.positionTex, r.gbuffer.propertiesTex};
    const char* ssaoNames[6] = {"colorMap", "normalMap", "tangentMap", "depthMap", "positionMap", "propertiesMap"};
    for (int i = 0; i < 6; ++i) BindUnit(ssao, ssaoNames[i], i, GL_TEXTURE_2D, ssaoInputs[i]);
    r.DrawFullScreenQuad();
    EXPECT_GT(ReadPixel(r.targets.ssaoTarget, 0, cx, cy).r, 0.95f);

    // One white light 2 units in front of the square lights it; none leaves
    // only the ambient term.
    ShaderProgram& deferred = *r.programs.deferredProgram;
    auto light = [&](int count) {
        glBindFramebuffer(GL_FRAMEBUFFER, r.targets.combinedTarget);
        glUseProgram(deferred.program);
        const glm::vec4 positions[16] = {glm::vec4(0, 0, 2, 1)};
        const glm::vec4 colours[16] = {glm::vec4(1, 1, 1, 1)};
        glUniform1i(deferred.UniformLocation("usedLights"), count);
        glUniform4fv(deferred.UniformLocation("lightsPos"), 16, &positions[0][0]);
        glUniform4fv(deferred.UniformLocation("lightsCol"), 16, &colours[0][0]);
        glUniformMatrix4fv(deferred.UniformLocation("V"), 1, GL_FALSE, &view[0][0]);
        const GLuint flat[7] = {r.gbuffer.colorTex, r.gbuffer.normalTex, r.gbuffer.tangentTex, r.gbuffer.depthTex, r.gbuffer.positionTex, r.targets.ssaoTex, r.gbuffer.propertiesTex};
        const char* flatNames[7] = {"colorMap", "normalMap", "tangentMap", "depthMap", "positionMap", "ssaoMap", "propertiesMap"};
        for (int i = 0; i < 7; ++i) BindUnit(deferred, flatNames[i], i, GL_TEXTURE_2D, flat[i]);
        const GLuint cubes[4] = {r.cubes.cube256.texture, r.cubes.cube128b.texture, r.cubes.cube85b.texture, r.cubes.cube128a.texture};
        const char* cubeNames[4] = {"cubeMap", "cubeMapBlur", "cubeMapBlur2", "cubeMapBlur3"};
        for (int i = 0; i < 4; ++i) BindUnit(deferred, cubeNames[i], 7 + i, GL_TEXTURE_CUBE_MAP, cubes[i]);
        glActiveTexture(GL_TEXTURE0);
        r.DrawFullScreenQuad();
        return ReadPixel(r.targets.combinedTarget, 0, cx, cy);
    };
    const glm::vec4 lit = light(1);
    const glm::vec4 unlit = light(0);
    EXPECT_GT(lit.b, 0.8f);
    EXPECT_GT(lit.b, lit.g);  // the albedo's hue under a white highlight
    EXPECT_GT(lit.g, lit.r);
    EXPECT_LT(unlit.b, 0.3f);
    EXPECT_EQ(ReadPixel(r.targets.combinedTarget, 0, 2, 2), glm::vec4(0, 0, 0, 1));  // background stays clear
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// Every screen-space program of the production draws on this rasteriser
// without a GL error and writes finite colour, with its samplers on the
// units the shader source gives them.
TEST(ProductionShaders, ScreenSpaceProgramsDrawFiniteColour) {
    REQUIRE_GL();
    Renderer& r = ProductionRenderer();
    glViewport(0, 0, r.screenWidth, r.screenHeight);
    glDisable(GL_DEPTH_TEST);
    while (glGetError() != GL_NO_ERROR) {
    }
    ShaderProgram* programs[] = {r.programs.ssaoBlurProgram.get(), r.programs.reflectProgram.get(), r.programs.cubeBlurProgram.get(),
                                 r.programs.simpleProgram.get(), r.programs.lensDirtThresholdProgram.get(),
                                 r.programs.lensDirtBlurProgram.get(), r.programs.lensDirtMixProgram.get(), r.programs.glowBlurProgram.get()};
    for (ShaderProgram* program : programs) {
        glBindFramebuffer(GL_FRAMEBUFFER, r.targets.combinedTarget);
        glUseProgram(program->program);
        glUniform2f(program->UniformLocation("resolution"), float(r.screenWidth), float(r.screenHeight));
        glUniform1f(program->UniformLocation("blurStrength"), 2.0f);
        const glm::mat4 projection = glm::perspective(1.0f, 1.0f, 0.1f, 100.0f);
        glUniformMatrix4fv(program->UniformLocation("P"), 1, GL_FALSE, &projection[0][0]);
        r.DrawFullScreenQuad();
        const glm::vec4 pixel = ReadPixel(r.targets.combinedTarget, 0, r.screenWidth / 2, r.screenHeight / 2);
        for (int c = 0; c < 4; ++c) EXPECT_TRUE(std::isfinite(pixel[c])) << program->fragmentPath;
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << program->fragmentPath;
    }
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// The shaders multiply the light by the mask; whatever an earlier pass left
// on the unit must never stand in for a missing one.
TEST(ShadowMask, WithoutAMaskToReadTheUnitHoldsWhite) {
    REQUIRE_GL();
    Renderer& r = ProductionRenderer();
    ShaderProgram& program = *r.programs.geometryProgram;
    glUseProgram(program.program);

    glActiveTexture(GL_TEXTURE6);
    glBindTexture(GL_TEXTURE_2D, r.gbuffer.propertiesTex);  // an earlier pass's input
    BindShadowMask(program, nullptr, 6);
    EXPECT_EQ(BoundTexture(6), static_cast<GLint>(r.whiteTex));

    Texture decoding;  // registered, not decoded yet
    glBindTexture(GL_TEXTURE_2D, r.gbuffer.propertiesTex);
    BindShadowMask(program, &decoding, 6);
    EXPECT_EQ(BoundTexture(6), static_cast<GLint>(r.whiteTex));
    GLint unit = -1;
    glGetUniformiv(program.program, program.UniformLocation("ShadowMaskTexture"), &unit);
    EXPECT_EQ(unit, 6);
    glActiveTexture(GL_TEXTURE0);
    glUseProgram(0);
}
