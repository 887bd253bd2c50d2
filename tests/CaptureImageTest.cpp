// Pictures of small productions written here, rendered by democapture and
// checked where the camera's projection says things must appear. Tolerances,
// not exact values: the rasteriser may differ between machines.

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <chrono>
#include <cmath>
#include <filesystem>

#include "tests/ProcessHarness.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 180;

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    // Mean colour of a small square around (x, y), y from the top.
    std::array<float, 3> At(int x, int y, int radius = 2) const {
        std::array<float, 3> sum{0, 0, 0};
        int n = 0;
        for (int j = y - radius; j <= y + radius; ++j)
            for (int i = x - radius; i <= x + radius; ++i) {
                if (i < 0 || j < 0 || i >= width || j >= height) continue;
                const unsigned char* p = &rgba[(static_cast<size_t>(j) * width + i) * 4];
                for (int c = 0; c < 3; ++c) sum[c] += p[c];
                ++n;
            }
        for (float& c : sum) c /= static_cast<float>(n ? n : 1);
        return sum;
    }
    float Brightness(int x, int y) const {
        auto c = At(x, y);
        return (c[0] + c[1] + c[2]) / 3;
    }
    int MaxValue() const {
        int m = 0;
        for (size_t i = 0; i < rgba.size(); i += 4) m = std::max({m, int(rgba[i]), int(rgba[i + 1]), int(rgba[i + 2])});
        return m;
    }
};

// Where a point lands on screen for the test camera: at (0, 0, 5), unturned,
// 40 degrees of vertical view, 16:9. Worked from the pinhole formulas, not
// from the renderer's code.
void Project(float x, float y, float z, int& px, int& py) {
    const float f = 1.0f / std::tan(40.0f * 0.5f * 3.14159265f / 180.0f);
    const float aspect = static_cast<float>(kWidth) / kHeight;
    const float depth = 5.0f - z;
    const float ndcX = f / aspect * x / depth;
    const float ndcY = f * y / depth;
    px = static_cast<int>(std::lround((ndcX + 1) * 0.5f * kWidth));
    py = static_cast<int>(std::lround((1 - ndcY) * 0.5f * kHeight));
}

const char* kCube =
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 0 -1\nvn 0 0 1\nvn -1 0 0\nvn 1 0 0\nvn 0 -1 0\nvn 0 1 0\n"
    "f 1/1/1 4/4/1 3/3/1 2/2/1\nf 5/1/2 6/2/2 7/3/2 8/4/2\nf 1/1/3 5/2/3 8/3/3 4/4/3\n"
    "f 2/1/4 3/4/4 7/3/4 6/2/4\nf 1/1/5 2/2/5 6/3/5 5/4/5\nf 4/1/6 8/2/6 7/3/6 3/4/6\n";

const char* kPlane =
    "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 1 0\n"
    "f 1/1/1 4/4/1 3/3/1 2/2/1\n";

class CaptureImage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!harness::HaveDisplay()) GTEST_SKIP() << "no X display";
        fs::create_directories(folder / "data/shaders");
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders", folder / "data/shaders", fs::copy_options::recursive);
        harness::WriteFile(folder / "data/models/cube.obj", kCube);
        harness::WriteFile(folder / "data/models/plane.obj", kPlane);
        harness::WriteFile(folder / "data/materials.xml",
                           "<Materials><Material name='white'><Color r='1' g='1' b='1'/><ReflectionAmount value='0'/></Material>"
                           "<Material name='textured'><Color r='1' g='1' b='1'/><ReflectionAmount value='0'/>"
                           "<ColorMap texture='missing.png'/><NormalMap texture='missing_n.png'/></Material>"
                           "<Material name='mirror'><Color r='0.5' g='0.5' b='0.5'/><ReflectionAmount value='1'/>"
                           "<BlurrinessMultiplier value='0'/></Material>"
                           "<Material name='matte'><Color r='0.5' g='0.5' b='0.5'/><ReflectionAmount value='0'/></Material>"
                           "</Materials>");
        // One shot from 0 s to 4 s over key frames 0 to 100, then nothing.
        harness::WriteFile(folder / "data/timeline.xml",
                           "<TimeLine><TimeLineObject scene='shot' camera='cam'><TimeStart value='0'/>"
                           "<Duration value='4'/><FrameStart value='0'/><FrameEnd value='100'/></TimeLineObject></TimeLine>");
    }
    void Scene(const std::string& objects,
               const std::string& shadow = "<ShadowMap enabled='0'><RenderCubemap value='1'/></ShadowMap>") {
        harness::WriteFile(folder / "data/scenes/shot.xml",
                           "<Scene>" + objects +
                               "<Camera name='cam'><Position z='5'/><FOV value='40'/>"
                               // No glow or lens effects: the tests look at lighting.
                               "<Anamorphic value='0'/><LensFlare value='0'/><LensReflect value='0'/>"
                               "<LensDirt value='0'/><LensDirtClean value='0'/></Camera>"
                               // By default the environment follows the lights on every frame.
                               + shadow + "</Scene>");
    }
    // Renders the given music times and loads the pictures.
    std::vector<Picture> Capture(const std::vector<double>& times) {
        std::vector<std::string> args{"--size", std::to_string(kWidth) + "x" + std::to_string(kHeight), "--out", "shots"};
        for (double t : times) {
            args.push_back("--at");
            args.push_back(std::to_string(t));
        }
        harness::ProcessOptions options;
        options.workingFolder = folder.Path();
        options.stderrPath = folder / "stderr.txt";
        harness::Process tool(DEMOCAPTURE_PATH, args, options);
        EXPECT_TRUE(tool.Wait(120s));
        EXPECT_EQ(tool.ExitStatus(), 0) << harness::ReadText(folder / "stderr.txt");
        std::vector<Picture> pictures;
        for (double t : times) {
            char name[64];
            std::snprintf(name, sizeof(name), "shots/capture-%09.3f.png", t);
            Picture picture;
            int channels = 0;
            unsigned char* data = stbi_load((folder / name).c_str(), &picture.width, &picture.height, &channels, 4);
            EXPECT_NE(data, nullptr) << name;
            if (data) {
                picture.rgba.assign(data, data + static_cast<size_t>(picture.width) * picture.height * 4);
                stbi_image_free(data);
            }
            pictures.push_back(std::move(picture));
        }
        return pictures;
    }

    harness::TempFolder folder;
};

const char* kWhiteLight = "<Object name='light'><Position x='0' y='0' z='4'/><Color r='1' g='1' b='1'/><LightSource value='1'/></Object>";

// `count` white boxes drawn as model particles of one object, emitted over a
// box-shaped volume and living longer than any capture. `where` adds to the
// object ("<Position .../>"), `scale` sizes the boxes, `volume` is the
// emitter size and `size` the particles' size.
std::string BoxSwarm(int count, const std::string& where, const char* scale, const char* volume, const char* size) {
    return "<Object name='swarm'><RenderObj model='cube.obj' material='white'/>" + where + "<Scale x='" + scale +
           "' y='" + scale + "' z='" + scale + "'/><Color r='1' g='1' b='1'/><Particles><PCount value='" +
           std::to_string(count) +
           "'/><EmitRate value='400'/><LifeMin value='50'/><LifeMax value='60'/>"
           "<EmitterType type='cube.volume'/><EmitterSize " + volume + "/><Size value='" + size +
           "'/><DrawMode type='draw.model'/></Particles></Object>";
}

}  // namespace

TEST_F(CaptureImage, AnObjectAppearsWhereItsCameraPutsIt) {
    Scene(std::string("<Object name='box'><RenderObj model='cube.obj' material='white'/>"
                      "<Position x='1.2' y='0.4'/><Scale x='0.3' y='0.3' z='0.3'/><Color r='1' g='1' b='1'/></Object>") +
          kWhiteLight);
    auto pictures = Capture({1.0});
    ASSERT_EQ(pictures[0].width, kWidth);
    int x = 0, y = 0, mx = 0, my = 0;
    Project(1.2f, 0.4f, 0.3f, x, y);   // the middle of the face towards the camera
    Project(-1.2f, -0.4f, 0.3f, mx, my);  // the same point mirrored through the centre
    EXPECT_GT(pictures[0].Brightness(x, y), 60) << x << "," << y;
    EXPECT_LT(pictures[0].Brightness(mx, my), 10);
    EXPECT_LT(pictures[0].Brightness(3, 3), 10);
}

TEST_F(CaptureImage, ARedLightTintsUntilItIsSwitchedOffAtItsKeyFrame) {
    Scene("<Object name='box'><RenderObj model='cube.obj' material='white'/><Scale x='0.8' y='0.8' z='0.8'/>"
          "<Color r='1' g='1' b='1'/></Object>"
          "<Object name='red'><Position x='0' y='0' z='3'/><Color r='1' g='0' b='0'/>"
          "<LightSource value='1'><Key frame='0' value='1'/><Key frame='50' value='0'/></LightSource></Object>");
    // Key frame 25 (light on), key frame 75 (off), and a moment after the shot.
    auto pictures = Capture({1.0, 3.0, 5.0});
    int x = 0, y = 0;
    Project(0, 0, 0.8f, x, y);
    auto lit = pictures[0].At(x, y);
    EXPECT_GT(lit[0], 60);
    EXPECT_GT(lit[0], 3 * lit[1] + 10);
    EXPECT_GT(lit[0], 3 * lit[2] + 10);
    // Switched off: only the faint grey ambient is left, no red.
    auto unlit = pictures[1].At(x, y);
    EXPECT_LT(unlit[0], lit[0] / 2);
    EXPECT_NEAR(unlit[0], unlit[1], 8);
    EXPECT_NEAR(unlit[0], unlit[2], 8);
    EXPECT_EQ(pictures[2].MaxValue(), 0);           // no shot covers 5 s: a cleared frame
}

TEST_F(CaptureImage, AMissingTextureRendersWhiteWithAFlatNormal) {
    // Two boxes placed symmetrically about the light and the camera: one
    // plain white, one whose textures are not there.
    Scene(std::string("<Object name='plain'><RenderObj model='cube.obj' material='white'/><Position x='-1'/>"
                      "<Scale x='0.5' y='0.5' z='0.5'/><Color r='1' g='1' b='1'/></Object>"
                      "<Object name='textured'><RenderObj model='cube.obj' material='textured'/><Position x='1'/>"
                      "<Scale x='0.5' y='0.5' z='0.5'/><Color r='1' g='1' b='1'/></Object>") +
          kWhiteLight);
    auto pictures = Capture({1.0});
    int px = 0, py = 0, tx = 0, ty = 0;
    Project(-1, 0, 0.5f, px, py);
    Project(1, 0, 0.5f, tx, ty);
    auto plain = pictures[0].At(px, py);
    auto textured = pictures[0].At(tx, ty);
    EXPECT_GT(plain[0], 40);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(textured[c], plain[c], 12) << "channel " << c;
}

TEST_F(CaptureImage, AReflectiveFloorMirrorsTheObjectAboveIt) {
    // A bright box just above a floor, seen from the front: the floor point
    // where the box's mirror image lands shows it only when it reflects.
    auto scene = [&](const char* floorMaterial) {
        Scene(std::string("<Object name='box'><RenderObj model='cube.obj' material='white'/><Position y='-0.55'/>"
                          "<Scale x='0.35' y='0.35' z='0.35'/><Color r='1' g='1' b='1'/></Object>"
                          "<Object name='floor'><RenderObj model='plane.obj' material='") +
              floorMaterial +
              "'/><Position y='-1'/><Scale x='6' y='1' z='6'/><Color r='1' g='1' b='1'/></Object>" + kWhiteLight);
    };
    scene("matte");
    auto matte = Capture({1.0});
    scene("mirror");
    auto mirror = Capture({1.0});
    int bx = 0, by = 0, rx = 0, ry = 0, fx = 0, fy = 0;
    Project(0, -0.55f, 0.35f, bx, by);  // the box's front face
    Project(0, -1.45f, 0.35f, rx, ry);  // its mirror image through the floor
    Project(2.5f, -1.0f, 3.0f, fx, fy); // bare floor off to the side, near the camera
    ASSERT_GT(matte[0].Brightness(bx, by), 60);
    const float gain = mirror[0].Brightness(rx, ry) - matte[0].Brightness(rx, ry);
    const float elsewhere = mirror[0].Brightness(fx, fy) - matte[0].Brightness(fx, fy);
    EXPECT_GT(gain, 15) << "mirror " << mirror[0].Brightness(rx, ry) << " matte " << matte[0].Brightness(rx, ry);
    EXPECT_GT(gain, elsewhere + 10);
}

TEST_F(CaptureImage, AmbientOcclusionDarkensTheCornerWhereTwoWallsMeet) {
    // A back wall meeting the floor, lit from far away so that light falls
    // alike along the wall: only occlusion tells the corner from the open wall.
    Scene("<Object name='wall'><RenderObj model='cube.obj' material='white'/><Position z='-2'/>"
          "<Scale x='6' y='6' z='0.1'/><Color r='1' g='1' b='1'/></Object>"
          "<Object name='floor'><RenderObj model='plane.obj' material='matte'/><Position y='-1'/>"
          "<Scale x='6' y='1' z='6'/><Color r='1' g='1' b='1'/></Object>"
          "<Object name='sun'><Position x='0' y='30' z='40'/><Color r='1' g='1' b='1'/><LightSource value='1'/></Object>");
    auto pictures = Capture({1.0});
    int cx = 0, cy = 0, ox = 0, oy = 0;
    Project(0, -0.97f, -1.9f, cx, cy);  // on the wall, just above the floor
    Project(0, -0.3f, -1.9f, ox, oy);   // on the wall, well away from it
    const float corner = pictures[0].Brightness(cx, cy - 1);
    const float open = pictures[0].Brightness(ox, oy);
    ASSERT_GT(open, 20);
    EXPECT_LT(corner, open * 0.9f) << "corner " << corner << " open wall " << open;
}

TEST_F(CaptureImage, QuadParticlesShowOverTheSceneButBehindWhatIsInFront) {
    // A slab of bright sprites around the origin, and a dark board close to
    // the camera covering part of them.
    auto scene = [&](int count) {
        Scene(std::string("<Object name='board'><RenderObj model='cube.obj' material='matte'/>"
                          "<Position x='-1.2' z='2'/><Scale x='0.6' y='1.5' z='0.05'/><Color r='0.2' g='0.2' b='0.2'/></Object>"
                          "<Object name='smoke'><Scale x='1' y='1' z='1'/><Particles><PCount value='") +
              std::to_string(count) +
              "'/><EmitRate value='400'/><LifeMin value='50'/><LifeMax value='60'/>"
              "<EmitterType type='cube.volume'/><EmitterSize x='2.5' y='1' z='0.2'/><Size value='0.5'/>"
              "<DrawMode type='draw.quads'/></Particles></Object>" +
              kWhiteLight);
    };
    scene(0);
    auto without = Capture({1.0});
    scene(300);
    auto with = Capture({1.0});
    int ox = 0, oy = 0, bx = 0, by = 0;
    Project(1.0f, 0.0f, 0.0f, ox, oy);    // open view into the sprites
    Project(-1.2f, 0.0f, 2.05f, bx, by);  // the board in front of them
    EXPECT_GT(with[0].Brightness(ox, oy), without[0].Brightness(ox, oy) + 30);
    EXPECT_NEAR(with[0].Brightness(bx, by), without[0].Brightness(bx, by), 4);
}

TEST_F(CaptureImage, ModelParticlesAreLitCopiesOfTheOwnersMesh) {
    auto scene = [&](int count) {
        Scene(BoxSwarm(count, "", "0.08", "x='2.5' y='1.2' z='0.5'", "1") + kWhiteLight);
    };
    auto litPixels = [](const Picture& picture) {
        int n = 0;
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) n += picture.At(x, y, 0)[0] + picture.At(x, y, 0)[1] > 80 ? 1 : 0;
        return n;
    };
    scene(0);
    auto without = Capture({1.0});
    scene(60);
    auto with = Capture({1.0});
    // Sixty small lit boxes spread over the view, where there was only the owner.
    EXPECT_GT(litPixels(with[0]), litPixels(without[0]) + 200);
}

TEST_F(CaptureImage, GlassShowsTheBackgroundThroughItDisplaced) {
    harness::WriteFile(folder / "data/materials.xml",
                       "<Materials><Material name='white'><Color r='1' g='1' b='1'/><ReflectionAmount value='0'/></Material>"
                       "<Material name='matte'><Color r='0.2' g='0.2' b='0.2'/><ReflectionAmount value='0'/></Material>"
                       "<Material name='flat'><Color r='1' g='1' b='1'/><Glass value='yes' refraction='0'/></Material>"
                       "<Material name='bent'><Color r='1' g='1' b='1'/><Glass value='yes' refraction='0.3'/></Material>"
                       "</Materials>");
    // A bright upright bar on a dark wall, seen through a pane of glass turned
    // away from the camera (a pane square to the view bends nothing), lit
    // from the side so that no highlight sits on the bar.
    auto scene = [&](const char* glass) {
        Scene(std::string("<Object name='wall'><RenderObj model='cube.obj' material='matte'/><Position z='-2'/>"
                          "<Scale x='6' y='6' z='0.1'/><Color r='1' g='1' b='1'/></Object>"
                          "<Object name='bar'><RenderObj model='cube.obj' material='white'/><Position z='-1.8'/>"
                          "<Scale x='0.06' y='2' z='0.05'/><Color r='1' g='1' b='1'/></Object>"
                          "<Object name='pane'><RenderObj model='cube.obj' material='") +
              glass +
              "'/><Position x='0.1' z='1'/><Rotation y='35'/><Scale x='0.6' y='0.6' z='0.05'/>"
              "<Color r='1' g='1' b='1'/></Object>"
              "<Object name='light'><Position x='-3' y='-2' z='2'/><Color r='1' g='1' b='1'/><LightSource value='1'/></Object>");
    };
    // The column of the brightest pixel along a row through the pane.
    auto barColumn = [](const Picture& picture, int row) {
        int best = 0;
        float brightest = -1;
        for (int x = 0; x < picture.width; ++x) {
            float b = picture.Brightness(x, row);
            if (b > brightest) brightest = b, best = x;
        }
        return best;
    };
    scene("flat");
    auto flat = Capture({1.0});
    scene("bent");
    auto bent = Capture({1.0});
    int bx = 0, by = 0;
    Project(0, 0.1f, -1.75f, bx, by);
    // Undisplaced through flat glass; moved by the refracting one.
    EXPECT_NEAR(barColumn(flat[0], by), bx, 2);
    EXPECT_GE(std::abs(barColumn(bent[0], by) - bx), 3) << "bar at " << barColumn(bent[0], by) << ", expected away from " << bx;
    // Outside the pane both pictures agree.
    int ax = 0, ay = 0;
    Project(0, 1.5f, -1.75f, ax, ay);
    EXPECT_NEAR(barColumn(bent[0], ay), barColumn(flat[0], ay), 1);
}

TEST_F(CaptureImage, ModelParticlesCastShadows) {
    // A swarm of boxes above a floor, with the light and the shadow camera
    // overhead: the floor under the swarm darkens only when there are copies.
    auto scene = [&](int count) {
        Scene(BoxSwarm(count, "<Position y='0.3'/>", "0.1", "x='1.2' y='0.2' z='1.2'", "1.5") +
                  "<Object name='floor'><RenderObj model='plane.obj' material='matte'/><Position y='-1'/>"
                  "<Scale x='6' y='1' z='6'/><Color r='1' g='1' b='1'/></Object>"
                  "<Object name='sun'><Position x='0' y='6' z='0.5'/><Color r='1' g='1' b='1'/><LightSource value='1'/></Object>",
              "<ShadowMap enabled='0'><Position x='0' y='6' z='0.5'/><LookAt x='0' y='-1' z='0'/>"
              "<SpotSize value='0.9'/><RenderCubemap value='1'/></ShadowMap>");
    };
    scene(0);
    auto without = Capture({1.0});
    scene(80);
    auto with = Capture({1.0});
    // Mean brightness of the floor under the swarm.
    auto floorUnder = [](const Picture& picture) {
        float sum = 0;
        int n = 0;
        for (float x = -0.6f; x <= 0.6f; x += 0.1f) {
            int px = 0, py = 0;
            Project(x, -1.0f, 0.0f, px, py);  // the floor right below the swarm
            sum += picture.Brightness(px, py);
            ++n;
        }
        return sum / static_cast<float>(n);
    };
    EXPECT_LT(floorUnder(with[0]), floorUnder(without[0]) - 5)
        << "with " << floorUnder(with[0]) << " without " << floorUnder(without[0]);
}

TEST_F(CaptureImage, AReflectiveMaterialShowsItsEnvironmentSharperWhenLessBlurry) {
    harness::WriteFile(folder / "data/materials.xml",
                       "<Materials><Material name='lamp'><Color r='1' g='1' b='1'/><Shadeless value='1'/>"
                       "<ReflectionAmount value='0'/></Material>"
                       "<Material name='sharp'><Color r='0.1' g='0.1' b='0.1'/><ReflectionAmount value='1'/>"
                       "<BlurrinessMultiplier value='0'/></Material>"
                       "<Material name='soft'><Color r='0.1' g='0.1' b='0.1'/><ReflectionAmount value='1'/>"
                       "<BlurrinessMultiplier value='1'/></Material></Materials>");
    // A mirror box facing the camera, and glowing bars behind the camera that
    // only its environment cube, taken from the box, can show.
    auto scene = [&](const char* material) {
        std::string bars;
        for (int i = -3; i <= 3; ++i)
            bars += "<Object><RenderObj model='cube.obj' material='lamp'/><Position x='" + std::to_string(i * 0.8) +
                    "' z='8'/><Scale x='0.15' y='3' z='0.1'/><Color r='1' g='1' b='1'/></Object>";
        Scene(std::string("<Object name='mirror' isCubeMap='1'><RenderObj model='cube.obj' material='") + material +
              "'/><Scale x='0.9' y='0.9' z='0.9'/><Color r='1' g='1' b='1'/><RenderToCubeMap value='0'/></Object>" +
              bars + kWhiteLight);
    };
    // Fine detail across the mirror's face: each pixel against the mean of its
    // neighbours 4 pixels away, which the smooth highlight hardly changes.
    auto detail = [](const Picture& picture) {
        int left = 0, right = 0, y = 0, unused = 0;
        Project(-0.7f, 0, 0.9f, left, y);
        Project(0.7f, 0, 0.9f, right, unused);
        float sum = 0;
        for (int row = y - 10; row <= y + 10; row += 5)
            for (int x = left; x < right; ++x) {
                auto green = [&](int at) { return picture.At(at, row, 0)[1]; };
                sum += std::abs(green(x) - (green(x - 4) + green(x + 4)) / 2);
            }
        return sum;
    };
    scene("sharp");
    auto sharp = Capture({1.0});
    scene("soft");
    auto soft = Capture({1.0});
    EXPECT_GT(detail(sharp[0]), 3 * detail(soft[0]) + 100)
        << "sharp " << detail(sharp[0]) << " soft " << detail(soft[0]);
}
