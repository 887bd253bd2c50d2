// The bundled production in demo/ and the authors' manual that teaches from it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "tests/ProcessHarness.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr bool kPosixShell = false;
#else
constexpr bool kPosixShell = true;
#endif

namespace {

const fs::path kSource = DEMO_SOURCE_DIR;

// Runs `program` in `folder`; returns its exit status, and its output in `out`.
int RunIn(const fs::path& folder, const std::string& program, const std::vector<std::string>& args, std::string& out,
          const std::map<std::string, std::string>& env = {}) {
    harness::ProcessOptions options;
    options.workingFolder = folder.string();
    options.stdoutPath = (folder / "stdout.txt").string();
    options.stderrPath = (folder / "stderr.txt").string();
    options.setEnv = env;
    harness::Process process(program, args, options);
    if (!process.Wait(300s)) return -1;
    out = harness::ReadText(options.stdoutPath) + harness::ReadText(options.stderrPath);
    return process.ExitStatus();
}

// One moment of every scene, and the first and last shots' fades.
const std::vector<std::string> kMoments = {"--at", "2",  "--at", "12", "--at", "30", "--at",   "44",     "--at",
                                           "62",   "--at", "93", "--size", "160x90", "--out", "shots"};
const char* const kShots[] = {"capture-00002.000.png", "capture-00012.000.png", "capture-00030.000.png",
                              "capture-00044.000.png", "capture-00062.000.png", "capture-00093.000.png"};

}  // namespace

// The production packed with demopack plays the same frames from data.pack
// alone as from its loose files: every file the player reads is in the pack
// under the name it asks for.
TEST(BundledProduction, RendersTheSameFramesFromThePackAlone) {
    if (!harness::HaveDisplay()) GTEST_SKIP() << "no X display";
    harness::TempFolder scratch;
    const fs::path loose = scratch / "loose", packed = scratch / "packed";
    fs::create_directories(loose);
    fs::create_directories(packed);
    fs::copy(kSource / "demo/data", loose / "data", fs::copy_options::recursive);
    fs::copy_file(kSource / "demo/music.mp3", loose / "music.mp3");
    fs::copy_file(kSource / "demo/music.mp3", packed / "music.mp3");

    std::string out;
    ASSERT_EQ(RunIn(loose, DEMOPACK_PATH, {"create", (packed / "data.pack").string(), "data"}, out), 0) << out;
    ASSERT_EQ(RunIn(loose, DEMOCAPTURE_PATH, kMoments, out), 0) << out;
    ASSERT_EQ(RunIn(packed, DEMOCAPTURE_PATH, kMoments, out), 0) << out;
    ASSERT_FALSE(fs::exists(packed / "data"));
    for (const char* shot : kShots) {
        const std::string a = harness::ReadFile((loose / "shots" / shot).string());
        const std::string b = harness::ReadFile((packed / "shots" / shot).string());
        ASSERT_FALSE(a.empty()) << shot;
        // The same encoder writes both: equal pixels give equal bytes.
        EXPECT_TRUE(a == b) << shot << " differs between the loose files and the pack";
    }
    // Not a black production: the shot in the hall has light in it.
    const std::string hall = harness::ReadFile((loose / "shots" / kShots[2]).string());
    EXPECT_GT(hall.size(), 8000u) << "a flat picture compresses to almost nothing";
}

// Every XML example of docs/authoring.md parses and is cut from a real file
// of the production (white space aside), and every `sh` example runs to exit
// status 0 in a copy of the production with the tools on the PATH.
TEST(AuthorsManual, ExamplesAreRealAndRun) {
    const std::string manual = harness::ReadFile((kSource / "docs/authoring.md").string());
    ASSERT_FALSE(manual.empty());
    // White space runs become one space, none at the ends.
    auto squeeze = [](const std::string& text) {
        std::string out;
        for (char c : text) {
            bool space = c == ' ' || c == '\n' || c == '\t' || c == '\r';
            if (!space) out += c;
            else if (!out.empty() && out.back() != ' ') out += ' ';
        }
        if (!out.empty() && out.back() == ' ') out.pop_back();
        return out;
    };
    std::string production;
    for (const auto& entry : fs::recursive_directory_iterator(kSource / "demo/data"))
        if (entry.path().extension() == ".xml") production += squeeze(harness::ReadFile(entry.path().string())) + "\n";

    int xmlCount = 0, shCount = 0;
    harness::TempFolder scratch;
    const fs::path copy = scratch / "demo";
    fs::copy(kSource / "demo", copy, fs::copy_options::recursive);
    fs::remove(copy / "data.pack");
    const std::string tools = fs::path(DEMOLINT_PATH).parent_path().string();
    const char* path = std::getenv("PATH");
    // Fenced blocks: "```xml" or "```sh" on a line of its own, up to the next "```".
    for (size_t at = manual.find("```"); at != std::string::npos; at = manual.find("```", at)) {
        const size_t lineEnd = manual.find('\n', at);
        const size_t close = lineEnd == std::string::npos ? std::string::npos : manual.find("\n```", lineEnd);
        if (close == std::string::npos) break;
        const std::string kind = manual.substr(at + 3, lineEnd - at - 3), body = manual.substr(lineEnd + 1, close - lineEnd);
        at = close + 4;
        if (kind != "xml" && kind != "sh") continue;
        if (kind == "xml") {
            ++xmlCount;
            pugi::xml_document doc;
            pugi::xml_parse_result parsed = doc.load_string(body.c_str(), pugi::parse_default | pugi::parse_fragment);
            EXPECT_TRUE(parsed) << parsed.description() << " in\n" << body;
            const std::string cut = squeeze(body);
            EXPECT_NE(production.find(cut), std::string::npos) << "not found in demo/data:\n" << body;
        } else {
            ++shCount;
            if (body.find("democapture") != std::string::npos && !harness::HaveDisplay()) continue;
            if (!kPosixShell) continue;  // the examples are shell commands; Windows has the XML ones
            std::string out;
            EXPECT_EQ(RunIn(copy, "/bin/sh", {"-ec", body}, out,
                            {{"PATH", tools + ":" + (path ? path : "/usr/bin:/bin")},
                             {"SDL_AUDIODRIVER", "dummy"}}),
                      0)
                << body << "\n" << out;
        }
    }
    EXPECT_GE(xmlCount, 10);
    EXPECT_GE(shCount, 3);
}
