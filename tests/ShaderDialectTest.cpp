// The GLSL ES rewrite of desktop shader sources, checked by the reference
// compiler (glslangValidator, Debian: glslang-tools) as GLSL ES 3.00: every
// program of the bundled production, and a source with each older form the
// rewrite knows. Skipped where the compiler is not installed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/ProgramFiles.h"
#include "render/ShaderDialect.h"
#include "tests/Portable.h"
#include "tools/ChildProcess.h"

using namespace caldera;

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

long Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

class ShaderDialect : public ::testing::Test {
protected:
    void SetUp() override {
        ChildProcess probe;
        std::string error;
        if (!probe.Start({"glslangValidator", "--version"}, false, true, true, error) ||
            !probe.Wait(std::chrono::seconds(30), error) || !probe.Succeeded())
            GTEST_SKIP() << "glslangValidator is not installed (Debian: glslang-tools)";
        folder = harness::MakeTempFolder("shader-dialect-");
    }
    void TearDown() override {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }

    // Compiles and links the two rewritten stages; empty when they link,
    // else the compiler's findings.
    std::string CompileAndLink(const std::string& vertex, const std::string& fragment) {
        const fs::path vertexFile = fs::path(folder) / "stage.vert", fragmentFile = fs::path(folder) / "stage.frag";
        std::ofstream(vertexFile, std::ios::binary) << vertex;
        std::ofstream(fragmentFile, std::ios::binary) << fragment;
        ChildProcess compiler;
        std::string error;
        if (!compiler.Start({"glslangValidator", "-l", vertexFile.string(), fragmentFile.string()}, false, true, true,
                            error) ||
            !compiler.Wait(std::chrono::seconds(60), error))
            return "glslangValidator did not run: " + error;
        return compiler.Succeeded() ? "" : compiler.Output() + "\n--- vertex:\n" + vertex + "\n--- fragment:\n" + fragment;
    }

    std::string folder;
};

TEST_F(ShaderDialect, EveryBundledProgramBuildsAsGlslEsWithItsLinesAndUnitsKept) {
    const fs::path shaders = fs::path(DEMO_SOURCE_DIR) / "demo" / kShadersFolder;
    for (const ProgramFiles& files : kProgramFiles) {
        SCOPED_TRACE(files.name);
        const std::string vertex = ReadText(shaders / files.vertex), fragment = ReadText(shaders / files.fragment);
        ASSERT_FALSE(vertex.empty() || fragment.empty());
        const std::string esVertex = ToGlslEs(vertex, false), esFragment = ToGlslEs(fragment, true);
        // Driver messages name the author's lines.
        EXPECT_EQ(Lines(esVertex), Lines(vertex));
        EXPECT_EQ(Lines(esFragment), Lines(fragment));
        EXPECT_EQ(CompileAndLink(esVertex, esFragment), "");
        // Every sampler that names a unit keeps it, under the name the ES
        // program knows it by.
        for (const SamplerUnit& unit : SamplerBindings(fragment)) {
            EXPECT_NE(esFragment.find(std::string(" ") + EsUniformName(unit.name.c_str()) + ";"), std::string::npos)
                << unit.name;
        }
    }
    // The sampler named like the built-in keeps its unit too.
    const std::vector<SamplerUnit> glow = SamplerBindings(ReadText(shaders / "glow_blur.fs"));
    ASSERT_EQ(glow.size(), 3u);
    EXPECT_EQ(glow[0].name, "texture");
    EXPECT_EQ(glow[0].unit, 0);
    EXPECT_EQ(glow[2].name, "textureProperties");
    EXPECT_EQ(glow[2].unit, 2);
}

TEST_F(ShaderDialect, OlderFormsAreRewrittenAndCommentsLeftAlone) {
    const std::string vertex =
        "#version 330 compatibility\r\n"
        "/* texture2D in a comment\r\n"
        "   spanning lines */\r\n"
        "attribute vec3 corner;\r\n"
        "varying vec2 uv;\r\n"
        "void main() { uv = corner.xy; gl_Position = vec4(corner, 1.0); }\r\n";
    const std::string fragment =
        "#version 330 compatibility\n"
        "#extension GL_ARB_shading_language_420pack : require\n"
        "#define LOOKUP(s, p) texture2D(s, p)\n"
        "varying vec2 uv;\n"
        "layout(binding = 2) uniform sampler2D texture; // the picture: texture2D(texture, uv)\n"
        "layout(binding=5)uniform samplerCube sky;\n"
        "layout(binding = 3) uniform sampler2DShadow depth;\n"
        "void main() {\n"
        "    vec4 c = LOOKUP(texture, uv) + textureCube(sky, vec3(uv, 1.0)) + texture2DLod(texture, uv, 0.0);\n"
        "    gl_FragColor = c * texture(depth, vec3(uv, 0.5)) * float(textureSize(texture, 0).x);\n"
        "}\n";
    const std::string esVertex = ToGlslEs(vertex, false), esFragment = ToGlslEs(fragment, true);
    EXPECT_EQ(Lines(esVertex), Lines(vertex));
    EXPECT_EQ(Lines(esFragment), Lines(fragment));
    EXPECT_EQ(CompileAndLink(esVertex, esFragment), "");
    EXPECT_NE(esVertex.find("/* texture2D in a comment\r\n"), std::string::npos);
    EXPECT_NE(esFragment.find("// the picture: texture2D(texture, uv)"), std::string::npos);
    EXPECT_EQ(esFragment.find("binding"), std::string::npos);

    const std::vector<SamplerUnit> units = SamplerBindings(fragment);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].name, "texture");
    EXPECT_EQ(units[0].unit, 2);
    EXPECT_EQ(units[1].name, "sky");
    EXPECT_EQ(units[1].unit, 5);
    EXPECT_EQ(units[2].name, "depth");
    EXPECT_EQ(units[2].unit, 3);
    EXPECT_STREQ(EsUniformName("texture"), "texture_");
    EXPECT_STREQ(EsUniformName("sky"), "sky");
}

}  // namespace
