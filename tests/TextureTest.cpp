// Textures: decoding on the loading thread, upload at the first bind after
// each decode, reloads while binding, and files that must not decode.

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "render/ShaderProgram.h"
#include "render/TextureBind.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/Texture.h"
#include "tests/ContentFolder.h"
#include "tests/GlContext.h"
#include "tests/PackBytes.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

using Bytes = std::vector<unsigned char>;

void Append(void* context, void* data, int size) { static_cast<std::string*>(context)->append(static_cast<char*>(data), size); }

// A w x h image in one colour of `colour.size()` channels.
std::string Png(int w, int h, Bytes colour) {
    Bytes pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), colour.begin(), colour.end());
    std::string out;
    const int n = static_cast<int>(colour.size());
    stbi_write_png_to_func(Append, &out, w, h, n, pixels.data(), w * n);
    return out;
}

std::string Jpeg(int w, int h, Bytes rgb) {
    Bytes pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), rgb.begin(), rgb.end());
    std::string out;
    stbi_write_jpg_to_func(Append, &out, w, h, 3, pixels.data(), 95);
    return out;
}

GLint BoundTexture() {
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

// The RGBA level 0 of the texture bound now.
Bytes ReadBack(int w, int h) {
    Bytes pixels(static_cast<size_t>(w) * h * 4, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

std::string LoadLogged(Texture& texture, const std::string& name) {
    StdoutCapture capture;
    texture.Load("data/textures/" + name);
    return capture.Text();
}

using TextureTest = ContentTest;

TEST_F(TextureTest, DecodesByContentToRgbaRowsFromTheTop) {
    // Red over blue, RGB, in a PNG named as a JPEG; loose, then from the pack.
    const Bytes rows = {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
    std::string png;
    stbi_write_png_to_func(Append, &png, 2, 2, 3, rows.data(), 6);
    Write("data/textures/photo.jpg", png);
    Write("data.pack", packbytes::Header() + packbytes::Entry("data/textures/packed.jpg", png));
    const Bytes expected = {255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255};

    Texture loose, packed;
    EXPECT_EQ(LoadLogged(loose, "photo.jpg"), "Loading texture from file : data/textures/photo.jpg\n");
    EXPECT_EQ(LoadLogged(packed, "packed.jpg"),
              "Loading texture from archive : data.pack/data/textures/packed.jpg\n");
    for (Texture* t : {&loose, &packed}) {
        EXPECT_FALSE(t->loading);
        ASSERT_TRUE(t->pixels);
        EXPECT_EQ(t->width, 2);
        EXPECT_EQ(t->height, 2);
        EXPECT_EQ(t->channels, 4);
        EXPECT_EQ(Bytes(t->pixels.get(), t->pixels.get() + 16), expected);
    }
}

TEST_F(TextureTest, HostileFilesGiveAnEmptyTexture) {
    const std::string png = Png(16, 16, {1, 2, 3, 4});
    const std::string jpeg = Jpeg(64, 64, {10, 20, 30});
    // The IHDR size fields (big-endian, from byte 16) claim 60000 x 60000.
    std::string huge = png;
    huge.replace(16, 8, std::string("\0\0\xEA\x60\0\0\xEA\x60", 8));
    Write("data/textures/cut.png", png.substr(0, png.size() / 2));
    Write("data/textures/cut.jpg", jpeg.substr(0, jpeg.size() / 2));
    Write("data/textures/huge.png", huge);
    Write("data/textures/empty.png", "");
    Write("data/textures/text.bmp", "not an image at all");

    for (const char* name : {"cut.png", "cut.jpg", "huge.png", "empty.png", "text.bmp", "missing.png"}) {
        Texture texture;
        LoadLogged(texture, name);
        EXPECT_FALSE(texture.loading) << name;
        EXPECT_FALSE(texture.pixels) << name;
        EXPECT_EQ(texture.width + texture.height, 0) << name;
    }
}

class GlTextureTest : public ContentTest {
protected:
    void SetUp() override {
        ContentTest::SetUp();
        if (!HaveGlContext()) GTEST_SKIP() << "no GL context: " << GlContextError();
        glActiveTexture(GL_TEXTURE0);
    }
};

TEST_F(GlTextureTest, AThreeChannelJpegUploadsOpaque) {
    Write("data/textures/grey.jpg", Jpeg(8, 4, {128, 128, 128}));
    Texture texture;
    LoadLogged(texture, "grey.jpg");
    BindTexture(texture);
    ASSERT_NE(texture.glName, 0u);
    EXPECT_EQ(BoundTexture(), static_cast<GLint>(texture.glName));
    const Bytes pixels = ReadBack(8, 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        ASSERT_EQ(pixels[i + 3], 255) << i;
        ASSERT_NEAR(pixels[i], 128, 3) << i;
    }
}

TEST_F(GlTextureTest, AReloadBindsNoneWhileDecodingThenANewName) {
    Write("data/textures/wall.png", Png(4, 4, {255, 0, 0, 255}));
    Texture texture;
    LoadLogged(texture, "wall.png");
    BindTexture(texture);
    const GLuint old = texture.glName;
    ASSERT_NE(old, 0u);

    Write("data/textures/wall.png", Png(2, 2, {0, 255, 0, 128}));
    texture.BeginReload();
    BindTexture(texture);
    EXPECT_EQ(BoundTexture(), 0);
    LoadLogged(texture, "wall.png");
    BindTexture(texture);
    EXPECT_NE(texture.glName, 0u);
    EXPECT_NE(texture.glName, old);
    EXPECT_EQ(BoundTexture(), static_cast<GLint>(texture.glName));
    EXPECT_FALSE(glIsTexture(old));
    const Bytes green = ReadBack(2, 2);
    EXPECT_EQ(Bytes(green.begin(), green.begin() + 4), (Bytes{0, 255, 0, 128}));

    // Reloaded from a broken file: nothing is bound and nothing is left alive.
    const GLuint second = texture.glName;
    Write("data/textures/wall.png", "broken");
    {
        StdoutCapture quiet;
        texture.Reload();
    }
    BindTexture(texture);
    EXPECT_EQ(BoundTexture(), 0);
    EXPECT_EQ(texture.glName, 0u);
    EXPECT_FALSE(glIsTexture(second));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The watcher reloads the material library and a texture over and over while
// this thread, which owns the GL context, applies every material each frame.
// Run under ThreadSanitizer as well.
TEST_F(GlTextureTest, BindingAndApplyingWhileTheWatcherReloads) {
    StdoutCapture quiet;
    ResourceManager manager;
    Write("data/shaders/m.vs", "#version 120\nvoid main() { gl_Position = gl_Vertex; }\n");
    Write("data/shaders/m.fs",
          "#version 120\nuniform sampler2D colorMap;\nvoid main() { gl_FragColor = texture2D(colorMap, vec2(0)); }\n");
    ShaderProgram program;
    ASSERT_NE(program.Load("data/shaders/m.vs", "data/shaders/m.fs"), 0u);
    glUseProgram(program.program);

    auto library = [](int generation) {
        const std::string material = "><ColorMap texture='t.png'/><Shadeless value='" + std::to_string(generation) +
                                     "'/></Material>";
        return "<Materials><Material name='a'" + material + "<Material name='b'" + material + "</Materials>";
    };
    Write("data/materials.xml", library(0));
    manager.ReloadMaterials();
    Write("data/textures/t.png", Png(8, 8, {9, 9, 9, 255}));
    manager.AddTexture({NameHash("t.png"), "t.png", 0});
    Texture* texture = manager.FindTexture(NameHash("t.png"));
    ASSERT_TRUE(texture);

    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int generation = 1; generation <= 100; ++generation) {
            Write("data/materials.xml", library(generation));
            manager.ReloadMaterials();
            Write("data/textures/t.png", Png(8 + generation % 5, 8, {9, 9, 9, 255}));
            texture->Reload();
        }
        done = true;
    });
    int frames = 0, faults = 0;
    while (!done || frames < 10) {
        // A frame holds one set: all its materials come from the same reading.
        std::shared_ptr<const MaterialSet> frame = manager.materials.Current();
        const float generation = frame->Find(NameHash("a"))->shadeless;
        for (const auto& [hash, material] : frame->byHash) {
            if (material.shadeless != generation) ++faults;
            program.SetTexture("colorMap", manager.FindTexture(material.colorMap), 1);
            if (BoundTexture() != 0 && BoundTexture() != static_cast<GLint>(texture->glName)) ++faults;
        }
        ++frames;
    }
    watcher.join();
    BindTexture(*texture);
    EXPECT_NE(texture->glName, 0u);
    EXPECT_EQ(faults, 0);
    EXPECT_EQ(manager.FindMaterial(NameHash("b"))->shadeless, 100.0f);
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
