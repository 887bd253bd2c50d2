// The content checker, run as the author runs it: demolint on a production
// with one planted mistake of every kind it knows, and on the bundled one.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "resources/PackWriter.h"
#include "tests/ProcessHarness.h"

using namespace caldera;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kSource = DEMO_SOURCE_DIR;

struct LintRun {
    int status = -1;
    std::string out;
    std::string err;
};

LintRun RunDemolint(const std::vector<std::string>& args, const harness::TempFolder& scratch) {
    harness::ProcessOptions options;
    options.stdoutPath = scratch / "demolint.out";
    options.stderrPath = scratch / "demolint.err";
    harness::Process demolint(DEMOLINT_PATH, args, options);
    LintRun run;
    if (!demolint.Wait(60s)) return run;
    run.status = demolint.ExitStatus();
    run.out = harness::ReadText(options.stdoutPath);
    run.err = harness::ReadText(options.stderrPath);
    return run;
}

// The 1-based line of the first line of `file` holding `snippet`; 0 when none.
int LineOf(const fs::path& file, const std::string& snippet) {
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
        if (line.find(snippet) != std::string::npos) return number;
    return 0;
}

// A 24-bit BMP header: `width` x `height`, pixel data following when `pixels`.
std::string Bmp(int width, int height, bool pixels) {
    auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    uint32_t row = (uint32_t(width) * 3 + 3) / 4 * 4;
    uint32_t data = pixels ? row * uint32_t(height) : 0;
    std::string bmp = "BM" + le32(54 + data) + le32(0) + le32(54);
    bmp += le32(40) + le32(uint32_t(width)) + le32(uint32_t(height)) + le16(1) + le16(24) + le32(0) + le32(data) +
           le32(2835) + le32(2835) + le32(0) + le32(0);
    bmp.append(data, '\x7f');
    return bmp;
}

class Demolint : public ::testing::Test {
protected:
    void SetUp() override {
        production = scratch / "production";
        fs::copy(kSource / "tests/fixtures/lint-production", production, fs::copy_options::recursive);
        fs::copy_file(kSource / "tests/fixtures/piece-8000-1-10.0.mp3", production / "music.mp3");
        // The bundled shaders beside the fixture's broken ones, one missing.
        fs::copy(kSource / "demo/data/shaders", production / "data/shaders",
                 fs::copy_options::recursive | fs::copy_options::skip_existing);
        fs::remove(production / "data/shaders/glow_blur.fs");
        // What is not text is made here.
        harness::WriteFile(production / "data/textures/wood.bmp", Bmp(2, 2, true));
        harness::WriteFile(production / "data/textures/dirt.bmp", Bmp(2, 2, true));
        harness::WriteFile(production / "data/textures/broken.png", "not an image at all");
        harness::WriteFile(production / "data/textures/huge.bmp", Bmp(20000, 20000, false));
        harness::WriteFile(production / "data/models/empty.obj", "");
        const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
        std::string utf16 = "\xff\xfe";
        for (char c : text) utf16 += std::string{c, '\0'};
        harness::WriteFile(production / "data/models/utf16.obj", utf16);
        PackWriter pack;
        std::string error;
        ASSERT_TRUE(pack.Open((production / "data.pack").string(), error)) << error;
        ASSERT_TRUE(pack.AddBytes("prod/data/models/extra.obj", text, error)) << error;
        ASSERT_TRUE(pack.AddBytes("data/models/twin.obj", text, error)) << error;
        ASSERT_TRUE(pack.AddBytes("Data/Models/TWIN.obj", text, error)) << error;
        ASSERT_TRUE(pack.Finish(error)) << error;
    }

    harness::TempFolder scratch;
    fs::path production;
};

TEST_F(Demolint, NamesEveryPlantedMistakeWithItsFileAndLine) {
    LintRun run = RunDemolint({production.string()}, scratch);
    ASSERT_EQ(run.status, 1) << run.out;
    const std::string prefix = production.string() + "/";

    struct Expected {
        std::string file;     // relative to the production
        std::string snippet;  // the line it is on; empty: line 1
        std::string finding;  // "error: ..." or "warning: ..." start, then a part of the message
        std::string detail;
    };
    const std::vector<Expected> expected = {
        // Running order: names, numbers, typos, gaps, hidden entries, the music's end.
        {"data/timeline.xml", "scene=\"rom\"", "error: scene 'rom' does not exist", "did you mean 'room'?"},
        {"data/timeline.xml", "scene=\"Room\"", "error: scene 'Room' has capital letters", "did you mean 'room'?"},
        {"data/timeline.xml", "camera=\"frnt\"", "error: camera 'frnt' is not in scene 'room'", "did you mean 'front'?"},
        {"data/timeline.xml", "value=\"abc\"", "error: FrameEnd value=\"abc\" is not a number", "reads 0"},
        {"data/timeline.xml", "Durration", "warning: unknown element 'Durration'", "did you mean 'Duration'?"},
        {"data/timeline.xml", "TimeStart value=\"0.2\"", "error: never shown", "cover its whole window"},
        {"data/timeline.xml", "TimeStart value=\"1.5\"", "warning: nothing is shown from 1 s to 1.5 s", "gap"},
        {"data/timeline.xml", "TimeStart value=\"11\"", "error: starts at 11 s, after the music ends", "never shown"},
        // Materials: texture names and attributes.
        {"data/materials.xml", "wod.bmp", "error: texture 'wod.bmp' does not exist", "did you mean 'wood.bmp'?"},
        {"data/materials.xml", "Wood.bmp", "error: texture 'Wood.bmp' has capital letters", "'wood.bmp'"},
        {"data/materials.xml", "bb=", "warning: unknown attribute 'bb'", "did you mean 'b'?"},
        // The scene: references, missing elements, base and keys, typos, numbers.
        {"data/scenes/room.xml", "cub.obj", "error: model 'cub.obj' does not exist", "did you mean 'cube.obj'?"},
        {"data/scenes/room.xml", "Cube.obj", "error: model 'Cube.obj' has capital letters", "'cube.obj'"},
        {"data/scenes/room.xml", "whte", "error: material 'whte' is not in data/materials.xml", "did you mean 'white'?"},
        {"data/scenes/room.xml", "name=\"noscale\"", "warning: object 'noscale' has a model but no 'Scale'", "invisible"},
        {"data/scenes/room.xml", "name=\"nocolor\"", "warning: object 'nocolor' has no 'Color'", "black"},
        {"data/scenes/room.xml", "<Position x=\"2\"", "warning: 'Position' has key frames and a base value", "added"},
        {"data/scenes/room.xml", "from=\"bx\"", "error: CopyTransform from 'bx'", "did you mean 'box'?"},
        {"data/scenes/room.xml", "sphere.obj", "error: model 'sphere.obj' does not exist", ""},
        {"data/scenes/room.xml", "<Scael", "warning: unknown element 'Scael'", "did you mean 'Scale'?"},
        {"data/scenes/room.xml", "bright", "error: Glow value=\"bright\" is not a number", ""},
        {"data/scenes/room.xml", "Dirt.bmp", "error: texture 'Dirt.bmp' has capital letters", "'dirt.bmp'"},
        {"data/scenes/room.xml", "name=\"side\"", "warning: camera 'side' has no 'FOV'", "0.5 degrees"},
        // What only the mix pass draws, with no lens dirt to run it.
        {"data/scenes/room.xml", "name=\"side\"", "warning: camera 'side' keys FadeToBlack and LensFlare, which will not show (shot 3)",
         "the camera's lensDirt 'Dirt.bmp' is no texture of it, so the mix pass is skipped"},
        // Shaders: a file the player cannot read, then the reference compiler's findings.
        {"data/shaders/glow_blur.fs", "", "error: cannot be read", "program 'glow blur' draws nothing"},
        // Traps the picture alone shows: degrees for radians, long turns, kept defaults, what does not follow.
        {"data/scenes/room.xml", "y=\"90\"", "warning: camera 'degrees' 'Rotation' y=\"90\" looks like degrees", "radians"},
        {"data/scenes/room.xml", "y=\"-3\"", "warning: camera 'spin' 'Rotation': the yaw (y) goes from 3 to -3", "long way round"},
        {"data/scenes/room.xml", "SpotSize value=\"45\"", "warning: SpotSize value=\"45\" looks like degrees", "radians"},
        {"data/scenes/shade.xml", "<ShadowMap", "warning: ShadowMap: 'SpotSize' missing", "45 radians wide"},
        {"data/scenes/room.xml", "<Scale value", "warning: unknown attribute 'value' of 'Scale'", "(Scale stays 0 0 0)"},
        {"data/scenes/room.xml", "fov=", "warning: unknown attribute 'fov' of 'FOV'", "(FOV stays 0.5)"},
        {"data/materials.xml", "refract=", "warning: unknown attribute 'refract'", "did you mean 'refraction'?"},
        {"data/scenes/yard.xml", "", "error: no 'Scene' element", "did you mean 'Scene' for 'scene'?"},
        {"data/scenes/room.xml", "name=\"sparks\"", "warning: particles of child object 'sparks'", "do not follow the parent"},
        {"data/scenes/room.xml", "name=\"lamp\"", "warning: the light of child object 'lamp' lights nothing", "parent"},
        {"data/scenes/room.xml", "name=\"trail\"", "warning: particles of object 'trail'", "CopyTransform source 'box'"},
        {"data/models/allbad.obj", "f 1 2 9", "error: face dropped: vertex index 9", "the file has 4"},
        {"data/models/allbad.obj", "", "error: no faces left", "every face is dropped"},
        // Models.
        {"data/models/mistakes.obj", "f 1 2 99", "error: face dropped: vertex index 99", "the file has 5"},
        {"data/models/mistakes.obj", "f 1 2 4 5", "warning: concave face of 4 corners", "wrong shape"},
        {"data/models/mistakes.obj", "usemtl blue", "warning: a second material", "one material"},
        {"data/models/mistakes.obj", "l 1 2", "warning: a line element", "ignores lines and points"},
        {"data/models/utf16.obj", "", "error: UTF-16 text", ""},
        {"data/models/empty.obj", "", "error: empty model file", ""},
        // Textures.
        {"data/textures/broken.png", "", "error: cannot be decoded", ""},
        {"data/textures/huge.bmp", "", "error: 20000 x 20000 is larger than the player accepts", ""},
        // The pack: entries the player cannot reach, case twins (line = entry number).
        {"data.pack", "#1", "error: entry 1 'prod/data/models/extra.obj' is unreachable", "did you mean 'data/models/extra.obj'?"},
        {"data.pack", "#3", "error: entry 3 'Data/Models/TWIN.obj' is hidden by entry 2", ""},
    };
    std::vector<Expected> all = expected;
    // Where the compiler is not installed (the Windows build) demolint says so once.
    if (run.err.find("shaders were not compiled") == std::string::npos) {
        all.push_back({"data/shaders/ssao.fs", "missingValue", "error: 'missingValue' : undeclared identifier",
                       "program 'ssao' does not build"});
        all.push_back({"data/shaders/shadowmap_depth.fs", "", "error: does not link with data/shaders/shadowmap_depth.vs",
                       "Missing entry point"});
    }
    // A camera that keys nothing non-zero is not named.
    EXPECT_EQ(run.out.find("camera 'front' keys"), std::string::npos) << run.out;
    for (const Expected& e : all) {
        SCOPED_TRACE(e.file + " " + e.snippet);
        int line = 1;
        if (e.snippet.size() > 1 && e.snippet[0] == '#') line = std::stoi(e.snippet.substr(1));
        else if (!e.snippet.empty()) line = LineOf(production / e.file, e.snippet);
        ASSERT_GT(line, 0) << "the fixture lost its snippet";
        const std::string head = prefix + e.file + ":" + std::to_string(line) + ": " + e.finding;
        size_t at = run.out.find(head);
        ASSERT_NE(at, std::string::npos) << "missing: " << head << "\nin:\n" << run.out;
        std::string rest = run.out.substr(at, run.out.find('\n', at) - at);
        EXPECT_NE(rest.find(e.detail), std::string::npos) << rest;
    }
    // Nothing in the production was touched.
    EXPECT_EQ(harness::ReadFile(production / "data/models/empty.obj"), "");
    EXPECT_EQ(LineOf(production / "data/scenes/room.xml", "Cube.obj"), 11);
}

TEST_F(Demolint, WarningsFailUnderWerrorAndAFolderThatIsNoProductionIsStatus2) {
    // The running order's own problems removed, warnings remain.
    fs::remove_all(production / "data");
    fs::remove(production / "data.pack");
    fs::create_directories(production / "data/scenes");
    harness::WriteFile(production / "data/timeline.xml",
                       "<TimeLine><TimeLineObject scene=\"a\" camera=\"c\"><TimeStart value=\"0\"/>"
                       "<Duration value=\"10\"/></TimeLineObject></TimeLine>\n");
    harness::WriteFile(production / "data/materials.xml", "<Materials/>\n");
    harness::WriteFile(production / "data/scenes/a.xml", "<Scene><Camera name=\"c\"/></Scene>\n");
    fs::copy(kSource / "demo/data/shaders", production / "data/shaders");
    LintRun plain = RunDemolint({production.string()}, scratch);
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_NE(plain.out.find("warning: camera 'c' has no 'FOV'"), std::string::npos) << plain.out;
    EXPECT_EQ(RunDemolint({"--werror", production.string()}, scratch).status, 1);
    EXPECT_EQ(RunDemolint({(scratch / "nothing-here")}, scratch).status, 2);
    EXPECT_EQ(RunDemolint({"--frobnicate"}, scratch).status, 2);
}

#ifndef _WIN32
TEST_F(Demolint, SaysWhyAFileCannotBeReadNeverWaitsOnAFifoAndEscapesNames) {
    fs::remove(production / "music.mp3");
    fs::remove(production / "data/timeline.xml");
    ASSERT_EQ(mkfifo((production / "music.mp3").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((production / "data/timeline.xml").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((production / "data/models/pipe.obj").c_str(), 0644), 0);
    fs::remove(production / "data/materials.xml");
    fs::create_directory(production / "data/materials.xml");
    // 2 GiB of nothing: refused by its size, not read whole.
    harness::WriteFile(production / "data/models/sparse.obj", "");
    fs::resize_file(production / "data/models/sparse.obj", 2ull << 30);
    harness::WriteFile(production / "data/models/t\x1b]0;TITLE\x07.obj", "v 0 0 0\n");

    const auto start = std::chrono::steady_clock::now();
    LintRun run = RunDemolint({production.string()}, scratch);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_EQ(run.status, 1) << run.out;
    const std::string prefix = production.string() + "/";
    for (const std::string& line : {
             prefix + "music.mp3:1: error: music.mp3 cannot be read (not a regular file)",
             prefix + "data/timeline.xml:1: error: cannot be read (not a regular file): nothing is shown",
             prefix + "data/models/pipe.obj:1: error: not a regular file",
             prefix + "data/materials.xml:1: error: cannot be read (a folder, not a file)",
             prefix + "data/models/sparse.obj:1: error: cannot be read (it is 2048 MiB, larger than the 512 MiB",
             prefix + "data/models/t\\x1B]0;TITLE\\x07.obj:1: error:",
         })
        EXPECT_NE(run.out.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << run.out;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);

    // A pack that is there but cannot be read is named, not passed over.
    fs::remove(production / "data.pack");
    fs::create_directory(production / "data.pack");
    run = RunDemolint({production.string()}, scratch);
    EXPECT_NE(run.out.find(prefix + "data.pack:1: error: cannot be read (a folder, not a file)"), std::string::npos)
        << run.out;
}
#endif

TEST(DemolintBundled, TheBundledProductionHasNoErrors) {
    harness::TempFolder scratch;
    LintRun run = RunDemolint({(kSource / "demo").string()}, scratch);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find(": error:"), std::string::npos) << run.out;
}

}  // namespace
