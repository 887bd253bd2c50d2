#include "tests/ContentFolder.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/File.h"
#include "resources/ResourceManager.h"
#include "tests/Portable.h"

using namespace caldera;

namespace fs = std::filesystem;

namespace {

class ContentEnvironment : public ::testing::Environment {
public:
    ContentEnvironment() {
        root = harness::MakeTempFolder("demo-content-");
        original = fs::current_path();
        fs::current_path(root);
    }
    // After the last test (gtest never destroys its environments).
    void TearDown() override {
        std::error_code ec;
        fs::current_path(original, ec);
        fs::remove_all(root, ec);
    }
    std::string root;
    fs::path original;
};

// Made current before main and before any test can reach Instance().
ContentEnvironment* environment =
    static_cast<ContentEnvironment*>(::testing::AddGlobalTestEnvironment(new ContentEnvironment));

}  // namespace

const std::string& ContentRoot() { return environment->root; }

void ContentTest::SetUp() {
    ASSERT_EQ(fs::current_path().string(), ContentRoot());
    for (const auto& entry : fs::directory_iterator(ContentRoot())) fs::remove_all(entry.path());
    // The singleton (used by LoadFile for its pack path) must be made here.
    ASSERT_EQ(ResourceManager::Instance().workingFolder, ContentRoot());
}

void ContentTest::Write(const std::string& relative, const std::string& bytes) {
    fs::path path = PathFromUtf8(ContentRoot()) / PathFromUtf8(relative);
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

void ContentTest::Remove(const std::string& relative) { fs::remove(PathFromUtf8(ContentRoot()) / PathFromUtf8(relative)); }

void ContentTest::Touch(const std::string& relative, int seconds) {
    fs::path path = PathFromUtf8(ContentRoot()) / PathFromUtf8(relative);
    fs::last_write_time(path, fs::file_time_type::clock::now() + std::chrono::seconds(seconds));
}

FileTime ContentTest::TimeOf(const std::string& relative) {
    return ToFileTime(fs::last_write_time(PathFromUtf8(ContentRoot()) / PathFromUtf8(relative)));
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
