// Shadow map, environment cube, arrays and the post effects, rendered at
// 160 x 90 with the production's shaders and read back from the targets.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <glm/glm.hpp>
#include <glm/gtc/constants.hpp>

#include "render/Renderer.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Array.h"
#include "scene/Scene.h"
#include "tests/FrameFixture.h"

using namespace caldera;

namespace fs = std::filesystem;

namespace {

const char* const kMaterials = R"(<Materials>
  <Material name="white"><Color r="1" g="1" b="1"/><ReflectionAmount value="0"/></Material>
  <Material name="glowing"><Color r="1" g="1" b="1"/><ReflectionAmount value="0"/><Shadeless value="1"/></Material>
</Materials>)";

const char* const kLight =
    R"(<Object name="light"><Position x="0" y="6" z="6"/><Color r="1" g="1" b="1"/><LightSource value="1"/></Object>)";

std::string Box(const glm::vec3& at, float size, const char* material = "white", const std::string& extra = "",
                const char* color = R"(r="1" g="1" b="1")") {
    return R"(<Object name="box"><RenderObj model="cube.obj" material=")" + std::string(material) +
           R"("/><Position x=")" + std::to_string(at.x) + R"(" y=")" + std::to_string(at.y) + R"(" z=")" +
           std::to_string(at.z) + R"("/><Scale x=")" + std::to_string(size) + R"(" y=")" + std::to_string(size) +
           R"(" z=")" + std::to_string(size) + R"("/><Color )" + color + "/>" + extra + "</Object>";
}

// A 2 x 2 white bitmap; the decoder goes by content, not by the file's name.
std::string WhiteBitmap() {
    std::string bmp(70, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 70);
    put32(10, 54);
    put32(14, 40);
    put32(18, 2);
    put32(22, 2);
    bmp[26] = 1;
    bmp[28] = 24;
    put32(34, 16);
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 6; ++i) bmp[54 + row * 8 + i] = static_cast<char>(0xff);
    return bmp;
}

class PostEffectsTest : public FrameFixture {
protected:
    static void SetUpTestSuite() { PrepareRenderer(kMaterials); }

    // Colour attachment `attachment` of `framebuffer` at pixel (x, y).
    static glm::vec4 Pixel(GLuint framebuffer, int x, int y, int attachment = 0) {
        glm::vec4 rgba(0.0f);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        if (framebuffer) glReadBuffer(GL_COLOR_ATTACHMENT0 + attachment);
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_FLOAT, &rgba[0]);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        return rgba;
    }

    // Where the test camera puts a world position, in pixels; worked from
    // the pinhole formulas.
    static glm::ivec2 Project(const glm::vec3& p) {
        const float f = 1.0f / std::tan(glm::radians(20.0f));
        const float depth = 8.0f - p.z;
        const glm::vec2 ndc(f / (static_cast<float>(kWidth) / kHeight) * p.x / depth, f * p.y / depth);
        return glm::ivec2((ndc * 0.5f + 0.5f) * glm::vec2(kWidth, kHeight));
    }

    // Level 0 of one face of a cube, RGB rows; `edge` receives its size.
    static std::vector<float> Face(GLuint cube, GLenum face, GLint& edge) {
        glBindTexture(GL_TEXTURE_CUBE_MAP, cube);
        glGetTexLevelParameteriv(face, 0, GL_TEXTURE_WIDTH, &edge);
        std::vector<float> texels(static_cast<size_t>(edge) * edge * 3);
        glGetTexImage(face, 0, GL_RGB, GL_FLOAT, texels.data());
        return texels;
    }

    static glm::vec3 FaceCentre(GLuint cube, GLenum face) {
        GLint edge = 0;
        const std::vector<float> texels = Face(cube, face, edge);
        const size_t at = (static_cast<size_t>(edge / 2) * edge + edge / 2) * 3;
        return {texels[at], texels[at + 1], texels[at + 2]};
    }

    // The share of a face's texels that show some red.
    static float RedShare(GLuint cube, GLenum face) {
        GLint edge = 0;
        const std::vector<float> texels = Face(cube, face, edge);
        size_t red = 0;
        for (size_t i = 0; i < texels.size(); i += 3) red += texels[i] > 0.05f;
        return static_cast<float>(red) / static_cast<float>(edge * edge);
    }
};

float Brightness(const glm::vec4& c) { return c.r + c.g + c.b; }

TEST_F(PostEffectsTest, ACasterShadowsTheFloorWhereTheSpotLightPutsItUntilShadowCastGoesOff) {
    Renderer& r = Renderer::Instance();
    const std::string floor =
        R"(<Object name="floor"><RenderObj model="plane.obj" material="white"/><Position x="0" y="-1" z="0"/>
             <Scale x="6" y="1" z="6"/><Color r="1" g="1" b="1"/></Object>)";
    const glm::vec3 source(0, 10, 1), caster(0, 0.5f, 0);
    auto scene = MakeScene(floor +
                               Box(caster, 0.5f, "white",
                                   R"(<ShadowCast value="1"><Key frame="0" value="1"/>
                                        <Key frame="10" value="0"/></ShadowCast>)") +
                               kLight,
                           "", R"(<Position x="0" y="10" z="1"/><LookAt x="0" y="0" z="0"/>
                                  <SpotSize value="0.8"/><RenderCubemap value="0"/>)");
    // The ray from the light through the caster's centre meets the floor here.
    const glm::vec3 ray = caster - source;
    const glm::vec3 shadowed = source + ray * ((-1.0f - source.y) / ray.y);
    const glm::ivec2 inShadow = Project(shadowed);
    const glm::ivec2 open = Project({2.5f, -1, shadowed.z});
    const glm::ivec2 beside = Project({0.9f, -1, shadowed.z});  // just outside the shadow's edge

    Draw(*scene);
    // Visibility as the geometry pass stored it, and the light it leaves.
    EXPECT_LT(Pixel(r.gbuffer.gBuffer, inShadow.x, inShadow.y, 4).a, 0.2f);
    EXPECT_GT(Pixel(r.gbuffer.gBuffer, open.x, open.y, 4).a, 0.95f);    // no acne on the lit floor
    EXPECT_GT(Pixel(r.gbuffer.gBuffer, beside.x, beside.y, 4).a, 0.95f);  // no shadow where no caster is
    // The caster's own faces towards the light, even one it grazes, are lit.
    const glm::ivec2 face = Project({0.1f, 0.6f, 0.5f});
    EXPECT_GT(Pixel(r.gbuffer.gBuffer, face.x, face.y, 4).a, 0.95f);
    const float dark = Brightness(Pixel(r.targets.combined2Target, inShadow.x, inShadow.y));
    EXPECT_LT(dark, 0.6f * Brightness(Pixel(r.targets.combined2Target, open.x, open.y)));

    SetFrame(20);
    Draw(*scene);
    EXPECT_GT(Pixel(r.gbuffer.gBuffer, inShadow.x, inShadow.y, 4).a, 0.95f);
    EXPECT_GT(Brightness(Pixel(r.targets.combined2Target, inShadow.x, inShadow.y)), 1.5f * dark);
}

TEST_F(PostEffectsTest, ScenesWithoutShadowSourceCameraOrOriginRenderWithDefaults) {
    Renderer& r = Renderer::Instance();
    const std::string content = Box({0, 0, 0}, 0.6f) + kLight;
    for (const char* shadow : {"", R"(<SpotSize value="0"/>)", R"(<SpotSize value="-1"/>)",
                               R"(<Position x="0" y="10" z="0"/><LookAt x="0" y="0" z="0"/>)"}) {
        auto scene = MakeScene(content, "", shadow);
        Draw(*scene);
        Draw(*scene);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) EXPECT_TRUE(std::isfinite(Prepared().shadow.biasMvp[i][j])) << shadow;
        const glm::ivec2 centre = Project({0, 0, 0});
        EXPECT_GT(Brightness(Pixel(r.targets.combined2Target, centre.x, centre.y)), 0.3f) << shadow;
    }
    // No camera at all: the scene's own glow levels, nothing else changes.
    auto bare = std::make_unique<Scene>("bare.xml");
    const std::string xml = "<Scene>" + content + "</Scene>";
    ASSERT_TRUE(bare->LoadDocument(xml.data(), xml.size()));
    r.frame.currentScene = bare.get();
    r.frame.currentCamera = nullptr;
    for (int i = 0; i < 2; ++i) {
        PrepareFrame(Prepared(), ScreenAspect(kWidth, kHeight));
        r.DrawFrame(Prepared());
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    r.frame.currentScene = nullptr;
}

TEST_F(PostEffectsTest, ABrightLightGrowsAHorizontalStreakThatFollowsTheAnamorphicLevel) {
    Renderer& r = Renderer::Instance();
    const glm::ivec2 centre(r.glowWidth / 2, r.glowHeight / 2);
    // Glow pixels of the centre row and column above a small threshold.
    auto extent = [&](const char* level, int& across, int& down) {
        auto scene = MakeScene(Box({0, 0, 0}, 0.15f, "glowing", "", R"(r="20" g="20" b="20")"),
                               std::string(R"(<Anamorphic value=")") + level +
                                   R"("/><LensFlare value="0"/><LensReflect value="0"/>)");
        Draw(*scene);
        across = down = 0;
        for (int x = 0; x < r.glowWidth; ++x) across += Brightness(Pixel(r.targets.lensDirtTarget, x, centre.y)) > 0.3f;
        for (int y = 0; y < r.glowHeight; ++y) down += Brightness(Pixel(r.targets.lensDirtTarget, centre.x, y)) > 0.3f;
    };
    int weakAcross = 0, weakDown = 0, strongAcross = 0, strongDown = 0, offAcross = 0, offDown = 0;
    extent("0", offAcross, offDown);
    extent("0.3", weakAcross, weakDown);
    extent("3", strongAcross, strongDown);
    EXPECT_EQ(offAcross, 0);
    EXPECT_GT(weakAcross, 0);
    EXPECT_GT(strongAcross, weakAcross + 2);
    EXPECT_GT(strongAcross, 2 * strongDown);  // a streak, not a blob
}

TEST_F(PostEffectsTest, TheMixFadesAndFiltersOnlyWithADirtTextureAndNeverWritesWhatItReads) {
    Renderer& r = Renderer::Instance();
    // The window is 64 x 64: the box sits where it shows.
    const glm::vec3 shownAt(-3.1f, -0.84f, 0);
    const glm::ivec2 centre = Project(shownAt);
    ASSERT_LT(centre.x, 64);
    ASSERT_LT(centre.y, 64);
    const std::string content = Box(shownAt, 0.8f) + kLight;

    // Nothing registered: the mix is skipped, a fade has no effect.
    auto fading = MakeScene(content, R"(<FadeToBlack value="1"/>)");
    Draw(*fading);
    EXPECT_EQ(r.targets.shownTex, r.targets.combined2Tex);
    EXPECT_GT(Brightness(Pixel(0, centre.x, centre.y)), 0.3f);

    WriteFile("data/textures/lensdirt.jpg", WhiteBitmap());
    ResourceManager::Instance().AddTexture({NameHash("lensdirt.jpg"), "lensdirt.jpg", 0});
    ASSERT_NE(ResourceManager::Instance().FindTexture(NameHash("lensdirt.jpg")), nullptr);

    Draw(*fading);
    EXPECT_EQ(r.targets.shownTex, r.targets.mixTex);
    EXPECT_LT(Brightness(Pixel(0, centre.x, centre.y)), 0.01f);
    EXPECT_LT(Brightness(Pixel(0, 5, 5)), 0.01f);
    // The picture before the mix is still there.
    EXPECT_GT(Brightness(Pixel(r.targets.combined2Target, centre.x, centre.y)), 0.3f);

    auto white = MakeScene(content, R"(<FadeToWhite value="1"/>)");
    Draw(*white);
    for (const glm::ivec2& at : {centre, glm::ivec2(5, 5)}) {
        const glm::vec4 c = Pixel(0, at.x, at.y);
        EXPECT_GT(std::min({c.r, c.g, c.b}), 0.99f);
    }

    auto red = MakeScene(content, R"(<ColorFilterIntensity value="1" x="1" y="0" z="0"/>)");
    Draw(*red);
    const glm::vec4 filtered = Pixel(0, centre.x, centre.y);
    EXPECT_GT(filtered.r, 0.2f);
    EXPECT_LT(filtered.g + filtered.b, 0.01f);

    // Plain camera: glow added on a clean lens, the picture otherwise kept.
    auto plain = MakeScene(content, R"(<Anamorphic value="0"/><LensFlare value="0"/><LensReflect value="0"/>)");
    Draw(*plain);
    const glm::vec4 before = Pixel(r.targets.combined2Target, centre.x, centre.y);
    const glm::vec4 shown = Pixel(0, centre.x, centre.y);
    EXPECT_NEAR(shown.r, std::min(before.r, 1.0f), 0.02f);
    EXPECT_NEAR(shown.g, std::min(before.g, 1.0f), 0.02f);
}

TEST_F(PostEffectsTest, ArraysDrawTheirOwnersCopiesEvenWithTheOwnersModelHidden) {
    Renderer& r = Renderer::Instance();
    // Copies at x = -2 and 0, and a zero-sized one at x = 2.
    auto scene = MakeScene(Box({-2, 0, 0}, 0.5f, "white",
                               R"(<EnableRender value="0"/><Array><Count value="2"/><Translate x="2" y="0" z="0"/>
                                    <ScaleMultiplier x="1" y="1" z="1"/></Array>)") +
                           kLight);
    Draw(*scene);
    for (float x : {-2.0f, 0.0f}) {
        const glm::ivec2 at = Project({x, 0, 0});
        EXPECT_NEAR(Pixel(r.gbuffer.gBuffer, at.x, at.y).r, 1.0f, 0.01f) << x;
    }
    const glm::ivec2 empty = Project({2, 0, 0});
    EXPECT_LT(Brightness(Pixel(r.targets.combined2Target, empty.x, empty.y)), 0.02f);
    // The per-frame form refills its buffer rather than appending to it.
    std::vector<ArrayInstance> buffer;
    ArrayInstances(*scene->objects[0]->arrays[0], buffer);
    ArrayInstances(*scene->objects[0]->arrays[0], buffer);
    EXPECT_EQ(buffer.size(), 3u);
}

TEST_F(PostEffectsTest, TheCubeRendersOnASceneSwitchAndEveryFrameOnlyWhenAsked) {
    Renderer& r = Renderer::Instance();
    // A red box on the +X side of the cube's origin at (0, 0, 0).
    const std::string content = R"(<Object name="origin" isCubeMap="1"><Position x="0" y="0" z="0"/></Object>)" +
                                Box({3, 0, 0}, 0.8f, "glowing", "", R"(r="1" g="0" b="0")");
    auto still = MakeScene(content);
    auto other = MakeScene(content);
    auto asking = MakeScene(content, "", R"(<RenderCubemap value="1"/>)");

    const int start = r.cubeRenders;
    // Faces clear to whatever colour was set last (the set-up colour before
    // the first frame), not to a colour of their own.
    glClearColor(0.0f, 0.6f, 0.9f, 0.0f);
    Draw(*still);
    Draw(*still);
    EXPECT_EQ(r.cubeRenders, start + 1);
    const glm::vec3 seen = FaceCentre(r.cubes.cube256.texture, GL_TEXTURE_CUBE_MAP_POSITIVE_X);
    EXPECT_GT(seen.r, 0.9f);
    EXPECT_LT(seen.g, 0.1f);
    const glm::vec3 empty = FaceCentre(r.cubes.cube256.texture, GL_TEXTURE_CUBE_MAP_NEGATIVE_X);
    EXPECT_NEAR(empty.r, 0.0f, 0.01f);
    EXPECT_NEAR(empty.g, 0.6f, 0.01f);
    EXPECT_NEAR(empty.b, 0.9f, 0.01f);
    // The blur chain spreads it ever wider: light, medium, strongest.
    float share = RedShare(r.cubes.cube256.texture, GL_TEXTURE_CUBE_MAP_POSITIVE_X);
    for (GLuint blurred : {r.cubes.cube128b.texture, r.cubes.cube85b.texture, r.cubes.cube128a.texture}) {
        EXPECT_GT(FaceCentre(blurred, GL_TEXTURE_CUBE_MAP_POSITIVE_X).r, 0.2f);
        const float wider = RedShare(blurred, GL_TEXTURE_CUBE_MAP_POSITIVE_X);
        EXPECT_GT(wider, share);
        share = wider;
    }

    Draw(*other);
    Draw(*other);
    Draw(*still);
    EXPECT_EQ(r.cubeRenders, start + 3);
    Draw(*asking);
    Draw(*asking);
    Draw(*asking);
    EXPECT_EQ(r.cubeRenders, start + 6);

    // Without an origin the cube is seen from (0, 5, 0): the box lies below.
    auto unmarked = MakeScene(Box({3, 0, 0}, 0.8f, "glowing", "", R"(r="1" g="0" b="0")"));
    Draw(*unmarked);
    // Seen from above; and cleared to the glow chain's black of the last frame.
    EXPECT_LT(FaceCentre(r.cubes.cube256.texture, GL_TEXTURE_CUBE_MAP_POSITIVE_X).r, 0.1f);
    EXPECT_LT(glm::length(FaceCentre(r.cubes.cube256.texture, GL_TEXTURE_CUBE_MAP_NEGATIVE_X)), 0.01f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

TEST_F(PostEffectsTest, ASpotSizeWithANegativeTangentShadowsLikeItsPositiveTwin) {
    // A low light and a caster 38 degrees off its axis: a spot of half-angle
    // 81 degrees covers it, the 29 degrees of the default size do not.
    const std::string content =
        R"(<Object name="floor"><RenderObj model="plane.obj" material="white"/><Position x="0" y="-1" z="0"/>
             <Scale x="8" y="1" z="8"/><Color r="1" g="1" b="1"/></Object>)" +
        Box({2.5f, 0, 0}, 0.3f, "white", R"(<ShadowCast value="1"/>)") + kLight;
    // Shadow visibility over the frame, and how many pixels are in shadow.
    auto shadowed = [&](const std::string& size, int& dark) {
        auto scene = MakeScene(content, "",
                               R"(<Position x="0" y="3" z="1"/><LookAt x="0" y="-1" z="0"/><SpotSize value=")" + size +
                                   R"("/><RenderCubemap value="0"/>)");
        Draw(*scene);
        std::vector<float> rgba(static_cast<size_t>(kWidth) * kHeight * 4);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, Renderer::Instance().gbuffer.gBuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT4);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_FLOAT, rgba.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        std::vector<float> visibility;
        for (size_t i = 3; i < rgba.size(); i += 4) visibility.push_back(rgba[i]);
        dark = static_cast<int>(std::count_if(visibility.begin(), visibility.end(), [](float v) { return v < 0.5f; }));
        return visibility;
    };
    // 60 has a half-angle tangent of -6.4; 2 pi - (60 mod 2 pi) has +6.4.
    const double sixty = 60.0, twin = 2 * glm::pi<double>() - std::fmod(sixty, 2 * glm::pi<double>());
    int darkSixty = 0, darkTwin = 0, darkDefault = 0;
    const std::vector<float> a = shadowed("60", darkSixty);
    const std::vector<float> b = shadowed(std::to_string(twin), darkTwin);
    shadowed("45", darkDefault);
    EXPECT_GT(darkSixty, 10);
    EXPECT_NEAR(darkTwin, darkSixty, darkSixty / 10 + 2);
    int differing = 0;
    for (size_t i = 0; i < a.size(); ++i) differing += std::abs(a[i] - b[i]) > 0.25f;
    EXPECT_LE(differing, darkSixty / 10 + 2);
    EXPECT_LT(darkDefault, darkSixty / 4);  // the default would have lost the shadow
}

TEST_F(PostEffectsTest, AnObjectsGlowAddsAHaloAndNoGlowAddsNothing) {
    Renderer& r = Renderer::Instance();
    WriteFile("data/textures/lensdirt.jpg", WhiteBitmap());
    ResourceManager::Instance().AddTexture({NameHash("lensdirt.jpg"), "lensdirt.jpg", 0});
    ASSERT_NE(ResourceManager::Instance().FindTexture(NameHash("lensdirt.jpg")), nullptr);
    // No streaks, flares or ghosts: only the objects' own glow can reach the chain.
    const std::string lens = R"(<Anamorphic value="0"/><LensFlare value="0"/><LensReflect value="0"/>)";
    const glm::ivec2 centre = Project({0, 0, 0.5f});
    const glm::ivec2 beside = Project({0.75f, 0, 0.5f});  // just off the box's edge
    auto frame = [&](const char* glow, float& halo, float& aside) {
        auto scene = MakeScene(Box({0, 0, 0}, 0.5f, "white", std::string(R"(<Glow value=")") + glow + R"("/>)") + kLight,
                               lens);
        Draw(*scene);
        float sum = 0;
        for (int y = 0; y < r.glowHeight; ++y)
            for (int x = 0; x < r.glowWidth; ++x) sum += Brightness(Pixel(r.targets.lensDirtTarget, x, y));
        halo = sum;
        EXPECT_EQ(r.targets.shownTex, r.targets.mixTex);
        aside = Brightness(Pixel(r.targets.mixTarget, beside.x, beside.y));
        return Brightness(Pixel(r.targets.mixTarget, centre.x, centre.y));
    };
    float haloOff = 0, haloOn = 0, asideOff = 0, asideOn = 0;
    const float plain = frame("0", haloOff, asideOff);
    const float glowing = frame("5", haloOn, asideOn);
    EXPECT_LT(haloOff, 0.01f);  // an ordinary colour does not glow
    EXPECT_GT(haloOn, 1.0f);
    EXPECT_GT(glowing, plain + 0.3f);
    EXPECT_GT(asideOn, asideOff + 0.05f);  // the halo reaches past the object
}

TEST_F(PostEffectsTest, QuadParticlesOfAnUnscaledEmitterShow) {
    Renderer& r = Renderer::Instance();
    // No "Scale": the emitter's scale is zero, and its quads keep their own size.
    const std::string emitter =
        R"(<Object name="emitter"><Position x="0" y="0" z="0"/><Color r="1" g="1" b="1"/>
             <Particles><PCount value="50"/><EmitRate value="6000"/><LifeMin value="5"/><LifeMax value="5"/>
               <EmitterType type="cube.volume"/><EmitterSize x="1" y="1" z="1"/><Size value="0.5"/>
               <DrawMode type="draw.quads"/></Particles></Object>)";
    auto scene = MakeScene(emitter + kLight);
    r.frame.frameDelta = 1.0f / 60;  // time for the pool to fill
    Draw(*scene);
    Draw(*scene);
    r.frame.frameDelta = 0;
    int lit = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) lit += Brightness(Pixel(r.targets.combined2Target, x, y)) > 0.3f;
    EXPECT_GT(lit, 100);
}
