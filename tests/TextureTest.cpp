// Textures: decoding on the loading thread, upload at the first bind after
// each decode, reloads, and files that must not decode.

#include <GL/glew.h>
#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/ShaderProgram.h"
#include "resources/Texture.h"
#include "tests/ContentFolder.h"
#include "tests/GlContext.h"
#include "tests/StdoutCapture.h"

namespace {

void Append(void* context, void* data, int size) {
    auto* out = static_cast<std::string*>(context);
    out->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

// A w x h image of `components` channels, every pixel the same colour.
std::vector<unsigned char> Solid(int w, int h, int components, std::vector<unsigned char> colour) {
    std::vector<unsigned char> pixels;
    for (int i = 0; i < w * h; ++i) pixels.insert(pixels.end(), colour.begin(), colour.begin() + components);
    return pixels;
}

std::string Png(int w, int h, int components, std::vector<unsigned char> colour) {
    std::string out;
    auto pixels = Solid(w, h, components, colour);
    stbi_write_png_to_func(Append, &out, w, h, components, pixels.data(), w * components);
    return out;
}

std::string Jpeg(int w, int h, std::vector<unsigned char> rgb) {
    std::string out;
    auto pixels = Solid(w, h, 3, rgb);
    stbi_write_jpg_to_func(Append, &out, w, h, 3, pixels.data(), 95);
    return out;
}

GLint BoundTexture() {
    GLint name = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    return name;
}

// The level-0 image of the texture bound now, as RGBA bytes.
std::vector<unsigned char> ReadBack(int w, int h) {
    std::vector<unsigned char> pixels(static_cast<size_t>(w) * h * 4, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

class TextureTest : public ContentTest {
protected:
    // Loads data/textures/<name> quietly.
    void LoadQuietly(Texture& texture, const std::string& name) {
        StdoutCapture quiet;
        texture.Load("data/textures/" + name);
    }
};

TEST_F(TextureTest, DecodesByContentToRgbaRowsFromTheTop) {
    // Two rows, red over blue, in a PNG named as a JPEG.
    std::vector<unsigned char> rows = {255, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255};
    std::string png;
    stbi_write_png_to_func(Append, &png, 2, 2, 3, rows.data(), 6);
    Write("data/textures/photo.jpg", png);

    Texture texture;
    StdoutCapture capture;
    texture.Load("data/textures/photo.jpg");
    EXPECT_EQ(capture.Text(), "Loading texture from file : data/textures/photo.jpg\n");
    EXPECT_FALSE(texture.loading);
    ASSERT_TRUE(texture.pixels);
    EXPECT_EQ(texture.width, 2);
    EXPECT_EQ(texture.height, 2);
    EXPECT_EQ(texture.channels, 4);
    const unsigned char expected[16] = {255, 0, 0, 255, 255, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255};
    EXPECT_EQ(std::memcmp(texture.pixels.get(), expected, 16), 0);
}

TEST_F(TextureTest, HostileFilesGiveAnEmptyTexture) {
    std::string png = Png(16, 16, 4, {1, 2, 3, 4});
    std::string huge = png;
    // The IHDR size fields (big-endian, from byte 16) claim 60000 x 60000.
    const unsigned char side[4] = {0x00, 0x00, 0xEA, 0x60};
    huge.replace(16, 4, reinterpret_cast<const char*>(side), 4);
    huge.replace(20, 4, reinterpret_cast<const char*>(side), 4);
    std::string jpeg = Jpeg(64, 64, {10, 20, 30});
    Write("data/textures/cut.png", png.substr(0, png.size() / 2));
    Write("data/textures/cut.jpg", jpeg.substr(0, jpeg.size() / 2));
    Write("data/textures/huge.png", huge);
    Write("data/textures/empty.png", "");
    Write("data/textures/text.bmp", "not an image at all");

    for (const char* name : {"cut.png", "cut.jpg", "huge.png", "empty.png", "text.bmp", "missing.png"}) {
        Texture texture;
        LoadQuietly(texture, name);
        EXPECT_FALSE(texture.loading) << name;
        EXPECT_FALSE(texture.pixels) << name;
        EXPECT_EQ(texture.width, 0) << name;
        EXPECT_EQ(texture.height, 0) << name;
    }
}

class GlTextureTest : public TextureTest {
protected:
    void SetUp() override {
        TextureTest::SetUp();
        if (!HaveGlContext()) GTEST_SKIP() << "no GL context: " << GlContextError();
        glActiveTexture(GL_TEXTURE0);
    }
};

TEST_F(GlTextureTest, AThreeChannelJpegUploadsOpaque) {
    Write("data/textures/grey.jpg", Jpeg(8, 4, {128, 128, 128}));
    Texture texture;
    LoadQuietly(texture, "grey.jpg");
    texture.Bind();
    ASSERT_NE(texture.glName, 0u);
    EXPECT_EQ(BoundTexture(), static_cast<GLint>(texture.glName));
    GLint internal = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internal);
    EXPECT_EQ(internal, GL_RGBA);
    auto pixels = ReadBack(8, 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        ASSERT_EQ(pixels[i + 3], 255) << i;
        ASSERT_NEAR(pixels[i], 128, 3) << i;
    }
    // Bound again: no new upload, the same name.
    const GLuint name = texture.glName;
    texture.Bind();
    EXPECT_EQ(texture.glName, name);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GlTextureTest, AnEmptyTextureBindsNone) {
    Write("data/textures/empty.png", "");
    Texture texture;
    LoadQuietly(texture, "empty.png");
    Texture fresh;  // still loading: never decoded
    glBindTexture(GL_TEXTURE_2D, 0);
    GLuint other = 0;
    glGenTextures(1, &other);
    for (Texture* t : {&texture, &fresh}) {
        glBindTexture(GL_TEXTURE_2D, other);
        t->Bind();
        EXPECT_EQ(BoundTexture(), 0);
        EXPECT_EQ(t->glName, 0u);
    }
    glDeleteTextures(1, &other);
}

TEST_F(GlTextureTest, AReloadBindsNoneWhileDecodingThenANewName) {
    Write("data/textures/wall.png", Png(4, 4, 4, {255, 0, 0, 255}));
    Texture texture;
    LoadQuietly(texture, "wall.png");
    texture.Bind();
    const GLuint old = texture.glName;
    ASSERT_NE(old, 0u);

    Write("data/textures/wall.png", Png(2, 2, 4, {0, 255, 0, 128}));
    texture.BeginReload();
    texture.Bind();
    EXPECT_EQ(BoundTexture(), 0);
    LoadQuietly(texture, "wall.png");
    texture.Bind();
    EXPECT_NE(texture.glName, 0u);
    EXPECT_NE(texture.glName, old);
    EXPECT_EQ(BoundTexture(), static_cast<GLint>(texture.glName));
    EXPECT_FALSE(glIsTexture(old));
    auto pixels = ReadBack(2, 2);
    EXPECT_EQ(std::vector<unsigned char>(pixels.begin(), pixels.begin() + 4),
              (std::vector<unsigned char>{0, 255, 0, 128}));

    // A reload whose file is now broken leaves nothing bound and nothing alive.
    const GLuint second = texture.glName;
    Write("data/textures/wall.png", "broken");
    {
        StdoutCapture quiet;
        texture.Reload();
    }
    texture.Bind();
    EXPECT_EQ(BoundTexture(), 0);
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
        return "<Materials><Material name='a'><ColorMap texture='t.png'/><Shadeless value='" +
               std::to_string(generation) + "'/></Material><Material name='b'><ColorMap texture='t.png'/>"
               "<Shadeless value='" + std::to_string(generation) + "'/></Material></Materials>";
    };
    Write("data/materials.xml", library(0));
    manager.ReloadMaterials();
    Write("data/textures/t.png", Png(8, 8, 4, {9, 9, 9, 255}));
    manager.AddTexture({NameHash("t.png"), "t.png", 0});
    Texture* texture = manager.FindTexture(NameHash("t.png"));
    ASSERT_TRUE(texture);

    std::atomic<bool> done{false};
    std::thread watcher([&] {
        for (int generation = 1; generation <= 100; ++generation) {
            Write("data/materials.xml", library(generation));
            manager.ReloadMaterials();
            Write("data/textures/t.png", Png(8 + generation % 5, 8, 4, {9, 9, 9, 255}));
            texture->Reload();
        }
        done = true;
    });
    int frames = 0, faults = 0;
    while (!done || frames < 10) {
        std::shared_ptr<const MaterialSet> frame = manager.materials.Current();
        float generation = -1;
        for (const auto& [hash, material] : frame->byHash) {
            if (generation < 0) generation = material.shadeless;
            if (material.shadeless != generation) ++faults;
            program.SetTexture("colorMap", manager.FindTexture(material.colorMap), 1);
            GLint bound = 0;
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
            if (bound != 0 && bound != static_cast<GLint>(texture->glName)) ++faults;
        }
        ++frames;
    }
    watcher.join();
    texture->Bind();
    EXPECT_NE(texture->glName, 0u);
    EXPECT_EQ(faults, 0);
    EXPECT_EQ(manager.FindMaterial(NameHash("b"))->shadeless, 100.0f);
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
