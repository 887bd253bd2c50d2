// Shader programs: builds only on changed file times, the uniform cache, the
// texture helpers, and sources that are broken or missing.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <string>

#include "render/ShaderProgram.h"
#include "resources/Texture.h"
#include "tests/ContentFolder.h"
#include "tests/GlContext.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

const char* kVertex = "#version 120\nvoid main() { gl_Position = gl_Vertex; }\n";
// No final newline, and the last line a comment: the newline the build adds
// ends it.
const char* kFragment =
    "#version 120\nuniform vec4 tint;\nuniform sampler2D colorMap;\n"
    "void main() { gl_FragColor = tint * texture2D(colorMap, vec2(0.5)); }\n// end";
const char* kOtherFragment = "#version 120\nuniform vec4 tint;\nvoid main() { gl_FragColor = tint * 0.5; }\n";

class ShaderTest : public ContentTest {
protected:
    void SetUp() override {
        ContentTest::SetUp();
        if (!HaveGlContext()) GTEST_SKIP() << "no GL context: " << GlContextError();
        Write("data/shaders/a.vs", kVertex);
        Write("data/shaders/a.fs", kFragment);
    }
    GLint Linked(GLuint program) {
        GLint status = GL_FALSE;
        if (glIsProgram(program)) glGetProgramiv(program, GL_LINK_STATUS, &status);
        return status;
    }
    std::string Build(ShaderProgram& p) {
        StdoutCapture capture;
        p.Build(p.vertexPath, p.fragmentPath);
        return capture.Text();
    }
    std::string LoadA(ShaderProgram& p) {
        StdoutCapture capture;
        p.Load("data/shaders/a.vs", "data/shaders/a.fs");
        return capture.Text();
    }
};

TEST_F(ShaderTest, BuildsOnceForUnchangedFilesAndAgainWhenOneChanges) {
    ShaderProgram p;
    EXPECT_EQ(LoadA(p),
              " Compiling shader : data/shaders/a.vs\n Compiling shader : data/shaders/a.fs\n\nLinking program\n");
    const GLuint first = p.program;
    ASSERT_NE(first, 0u);
    EXPECT_EQ(Linked(first), GL_TRUE);
    EXPECT_EQ(Build(p), "");
    EXPECT_EQ(p.program, first);

    EXPECT_GE(p.UniformLocation("tint"), 0);
    EXPECT_EQ(p.UniformLocation("nothing"), -1);
    EXPECT_EQ(p.uniformCache.size(), 2u);
    EXPECT_EQ(p.uniformCache.at("nothing"), -1);

    // Only the fragment file changes: a new program, the old one released,
    // the cache emptied and filled again from the new program.
    Write("data/shaders/a.fs", kOtherFragment);
    Touch("data/shaders/a.fs");
    EXPECT_NE(Build(p).find("Linking program\n"), std::string::npos);
    EXPECT_NE(p.program, first);
    EXPECT_EQ(Linked(p.program), GL_TRUE);
    EXPECT_FALSE(glIsProgram(first));
    EXPECT_TRUE(p.uniformCache.empty());
    EXPECT_EQ(p.UniformLocation("tint"), glGetUniformLocation(p.program, "tint"));
    EXPECT_EQ(p.UniformLocation("colorMap"), -1);  // gone from the new source
}

TEST_F(ShaderTest, ABrokenSourceKeepsTheLastProgramUntilItIsFixed) {
    ShaderProgram p;
    LoadA(p);
    const GLuint good = p.program;
    ASSERT_EQ(Linked(good), GL_TRUE);

    Write("data/shaders/a.fs", "#version 120\nvoid main() { gl_FragColor = oops; }\n");
    Touch("data/shaders/a.fs");
    std::string log = Build(p);
    // The driver's log is printed; its wording is the driver's own.
    EXPECT_NE(log.find("oops"), std::string::npos) << log;
    EXPECT_EQ(p.program, good);
    EXPECT_EQ(Linked(good), GL_TRUE);
    EXPECT_EQ(Build(p), "");  // not retried until the file changes

    Write("data/shaders/a.fs", kOtherFragment);
    Touch("data/shaders/a.fs", 20);
    Build(p);
    EXPECT_NE(p.program, good);
    EXPECT_EQ(Linked(p.program), GL_TRUE);
    EXPECT_FALSE(glIsProgram(good));
}

TEST_F(ShaderTest, AMissingSourceGivesProgramZeroUntilItAppears) {
    ShaderProgram p;
    {
        StdoutCapture quiet;
        EXPECT_EQ(p.Load("data/shaders/a.vs", "data/shaders/none.fs"), 0u);
    }
    EXPECT_EQ(p.program, 0u);
    EXPECT_EQ(Build(p), "");

    Write("data/shaders/none.fs", kOtherFragment);
    Build(p);
    EXPECT_NE(p.program, 0u);
    EXPECT_EQ(Linked(p.program), GL_TRUE);

    // Gone again: the program is released and 0 again.
    const GLuint built = p.program;
    Remove("data/shaders/none.fs");
    EXPECT_EQ(Build(p), "");
    EXPECT_EQ(p.program, 0u);
    EXPECT_FALSE(glIsProgram(built));
}

TEST_F(ShaderTest, TextureHelpersLeaveTheirUnitActive) {
    ShaderProgram p;
    LoadA(p);
    glUseProgram(p.program);
    Texture empty;  // never loaded: binds none
    GLuint name = 0;
    glGenTextures(1, &name);

    GLint active = 0, sampler = -1, bound = -1;
    p.SetTexture("colorMap", &empty, 3);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetUniformiv(p.program, p.UniformLocation("colorMap"), &sampler);
    EXPECT_EQ(active, GL_TEXTURE3);
    EXPECT_EQ(sampler, 3);

    p.SetTextureName("colorMap", name, 5);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetUniformiv(p.program, p.UniformLocation("colorMap"), &sampler);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(active, GL_TEXTURE5);
    EXPECT_EQ(sampler, 5);
    EXPECT_EQ(bound, static_cast<GLint>(name));

    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    glDeleteTextures(1, &name);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
