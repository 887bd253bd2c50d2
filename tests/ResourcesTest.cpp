// The resource manager: names and hashes, folder scans with the pack, change
// detection and dispatch, registries and the poll order.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "playback/Production.h"
#include "resources/FileBuffer.h"
#include "resources/NameHash.h"
#include "resources/PackReader.h"
#include "resources/SModelLoader.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"
#include "tests/ContentFolder.h"
#include "tests/PackBytes.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

using namespace packbytes;

namespace {

TEST(NameHash, FollowsTheByteRule) {
    static_assert(NameHash("") == 0);
    EXPECT_EQ(NameHash("a"), 177573u + 'a');
    EXPECT_EQ(NameHash("\x01"), 177574u);
    // Bytes from 0x80 count as negative.
    EXPECT_EQ(NameHash("\x80"), 177573u - 128u);
    EXPECT_EQ(NameHash("\xff"), 177572u);
    // Wraps in 32 bits: 5381 * 33^7 alone is past 2^32.
    uint64_t expected = 5381;
    for (char c : std::string("wood.png")) expected = (expected * 33 + static_cast<unsigned char>(c)) % (1ull << 32);
    EXPECT_EQ(NameHash("wood.png"), static_cast<uint32_t>(expected));
    EXPECT_NE(NameHash("wood.png"), NameHash("WOOD.PNG"));
}

class Manager : public ContentTest {
protected:
    // A manager made now, so that it reads the pack written before.
    ResourceManager& Make() {
        manager = std::make_unique<ResourceManager>();
        ConnectProduction(*manager);
        return *manager;
    }
    std::string PackOf(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::string pack = Header();
        for (const auto& [name, content] : entries) pack += Entry(name, content);
        return pack;
    }
    static const FileRecord* Named(const std::vector<FileRecord>& records, const std::string& name) {
        auto it = std::find_if(records.begin(), records.end(), [&](const FileRecord& r) { return r.name == name; });
        return it == records.end() ? nullptr : &*it;
    }
    // Runs one detection of the textures folder and returns what it logged.
    std::string DetectTextures() {
        StdoutCapture capture;
        manager->DetectChanges(manager->texturesPath, manager->textureRecords);
        return capture.Text();
    }
    std::string DetectModelsAndScenes() {
        StdoutCapture capture;
        manager->DetectChanges(manager->modelsPath, manager->modelRecords);
        manager->DetectChanges(manager->scenesPath, manager->sceneRecords);
        return capture.Text();
    }

    std::unique_ptr<ResourceManager> manager;
};

TEST_F(Manager, FoldersAndPackPathAreBuiltFromTheWorkingFolder) {
    ResourceManager& m = Make();
    EXPECT_EQ(m.workingFolder, ContentRoot());
    EXPECT_EQ(m.texturesPath, ContentRoot() + "/data/textures/");
    EXPECT_EQ(m.modelsPath, ContentRoot() + "/data/models/");
    EXPECT_EQ(m.scenesPath, ContentRoot() + "/data/scenes/");
    EXPECT_EQ(m.PackPath(), ContentRoot() + "/data.pack");
    EXPECT_TRUE(m.packFiles.empty());
}

TEST_F(Manager, IsInPackIgnoresCaseButNotBackslashes) {
    Write("data.pack", PackOf({{"data/materials.xml", "<Materials/>"}}));
    ResourceManager& m = Make();
    EXPECT_TRUE(m.IsInPack("data/materials.xml"));
    EXPECT_TRUE(m.IsInPack("DATA/MATERIALS.XML"));
    EXPECT_FALSE(m.IsInPack("data\\materials.xml"));
    EXPECT_FALSE(m.IsInPack("data/timeline.xml"));
}

TEST_F(Manager, FileStampsFallBackToThePackTime) {
    Write("data.pack", PackOf({{"data/timeline.xml", "<TimeLine/>"}}));
    Write("data/materials.xml", "<Materials/>");
    ResourceManager& m = Make();
    EXPECT_EQ(m.GetFileStamp("data/materials.xml"), TimeOf("data/materials.xml"));
    EXPECT_EQ(m.GetFileStamp("data/timeline.xml"), TimeOf("data.pack"));
    EXPECT_EQ(m.GetFileStamp("data/missing.xml"), std::nullopt);
    std::filesystem::create_directories("data/folder.xml");
    EXPECT_EQ(m.GetFileStamp("data/folder.xml"), std::nullopt);
}

TEST_F(Manager, ScanListsLooseFilesThenPackOnlyEntries) {
    Write("data.pack", PackOf({{"data/textures/a.png", "packed a"},
                               {"data/textures/b.png", "packed b"},
                               {"data/textures/sub/c.png", "packed c"},
                               {"data/models/a.png", "elsewhere"},
                               {"data/textures/b.png", "twin"}}));
    Write("data/textures/a.png", "loose a");
    Write("data/textures/WOOD.PNG", "wood");
    std::filesystem::create_directories("data/textures/folder.png");
    Touch("data/textures/a.png", -100);
    ResourceManager& m = Make();

    std::vector<FileRecord> records = m.ScanFolder(m.texturesPath);
    std::vector<std::string> names;
    for (const FileRecord& r : records) names.push_back(r.name);
    // Loose files in listing order, then the pack's in pack order.
    ASSERT_EQ(names.size(), 4u);
    std::sort(names.begin(), names.begin() + 2);
    EXPECT_EQ(names, (std::vector<std::string>{"a.png", "wood.png", "b.png", "c.png"}));

    EXPECT_EQ(Named(records, "a.png")->writeTime, TimeOf("data/textures/a.png"));
    EXPECT_EQ(Named(records, "wood.png")->hash, NameHash("wood.png"));
    EXPECT_EQ(Named(records, "b.png")->writeTime, TimeOf("data.pack"));
    EXPECT_EQ(Named(records, "c.png")->hash, NameHash("c.png"));
}

TEST_F(Manager, MissingEmptyOrFolderOnlyContentYieldsNothingSilently) {
    ResourceManager& m = Make();
    StdoutCapture capture;
    EXPECT_TRUE(m.ScanFolder(m.texturesPath).empty());
    std::filesystem::create_directories("data/textures/a/b");
    std::filesystem::create_directories("data/textures/c.png");
    EXPECT_TRUE(m.ScanFolder(m.texturesPath).empty());
    Write("data/scenes", "a file where a folder should be");
    EXPECT_TRUE(m.ScanFolder(m.scenesPath).empty());
    m.ready = true;
    m.Update();
    EXPECT_EQ(capture.Text(), "");
    EXPECT_EQ(m.scenes.Size(), 0u);
}

TEST_F(Manager, NewAndChangedTexturesAreAddedThenReloaded) {
    Write("data/textures/WOOD.PNG", "1234");
    ResourceManager& m = Make();
    EXPECT_EQ(DetectTextures(),
              "New recource detected : wood.png\nAdding texture : wood.png\n"
              "Loading texture from file : data/textures/wood.png\n");
    Texture* texture = m.FindTexture(NameHash("wood.png"));
    ASSERT_NE(texture, nullptr);
    EXPECT_FALSE(texture->loading);
    EXPECT_EQ(texture->path, "data/textures/wood.png");

    EXPECT_EQ(DetectTextures(), "");

    Write("data/textures/WOOD.PNG", "123456");
    Touch("data/textures/WOOD.PNG");
    EXPECT_EQ(DetectTextures(),
              "Detected a change in recource wood.png\nReloading texture : wood.png\n"
              "Loading texture from file : data/textures/wood.png\n");
    EXPECT_EQ(m.FindTexture(NameHash("wood.png")), texture);
    EXPECT_EQ(m.textureRecords.size(), 1u);
    EXPECT_EQ(m.textureRecords[0].writeTime, TimeOf("data/textures/WOOD.PNG"));
}

TEST_F(Manager, AReloadReadsTheNewContent) {
    Write("data/textures/a.png", "1234");
    ResourceManager& m = Make();
    DetectTextures();
    Texture* texture = m.FindTexture(NameHash("a.png"));
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->fileSize, 4u);
    Write("data/textures/a.png", "123456789");
    Touch("data/textures/a.png");
    DetectTextures();
    EXPECT_EQ(texture->fileSize, 9u);
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(Manager, UnknownEndingsAreRecordedButNeverLoaded) {
    Write("data/textures/photo.jpeg", "x");
    Write("data/textures/old.tga", "x");
    Write("data/textures/notes.png.txt", "x");
    ResourceManager& m = Make();
    std::string log = DetectTextures();
    EXPECT_EQ(Count(log, "New recource detected : "), 3u) << log;
    EXPECT_EQ(Count(log, "Adding"), 0u) << log;
    EXPECT_EQ(m.textureRecords.size(), 3u);
    EXPECT_EQ(m.textures.Size(), 0u);
    Touch("data/textures/old.tga");
    EXPECT_EQ(DetectTextures(), "Detected a change in recource old.tga\n");
}

TEST_F(Manager, TheEndingAloneDecidesTheKind) {
    Write("data/models/box.obj", "v 0 0 0");
    Write("data/models/skin.png", "png in the models folder");
    Write("data/textures/skin.png", "the texture itself");
    Write("data/scenes/intro.xml", "<Scene/>");
    ResourceManager& m = Make();
    std::string log = DetectModelsAndScenes();
    EXPECT_EQ(Count(log, "Adding model : box.obj\n"), 1u) << log;
    EXPECT_EQ(Count(log, "Adding texture : skin.png\n"), 1u) << log;
    EXPECT_EQ(Count(log, "Adding scene : intro.xml\n"), 1u) << log;

    Mesh* box = m.FindModel(NameHash("box.obj"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->path, "data/models/box.obj");
    EXPECT_EQ(box->fileName, "box.obj");
    EXPECT_EQ(box->hash, NameHash("box.obj"));
    // Read from the textures folder whatever folder it was found in.
    Texture* skin = m.FindTexture(NameHash("skin.png"));
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(skin->path, "data/textures/skin.png");
    EXPECT_EQ(skin->fileSize, 18u);
    Scene* intro = m.FindScene(NameHash("intro"));
    ASSERT_NE(intro, nullptr);
    EXPECT_EQ(intro->path, "data/scenes/intro.xml");
}

TEST_F(Manager, ChangedModelsAreFlaggedAndScenesOnlyNoted) {
    Write("data/models/box.obj", "v 0 0 0");
    Write("data/scenes/intro.xml", "<Scene/>");
    ResourceManager& m = Make();
    DetectModelsAndScenes();

    Touch("data/models/box.obj");
    Touch("data/scenes/intro.xml");
    EXPECT_EQ(DetectModelsAndScenes(),
              "Detected a change in recource box.obj\nReloading model : box.obj\n"
              "Detected a change in recource intro.xml\n");
    EXPECT_TRUE(m.FindModel(NameHash("box.obj"))->reloadRequested);
    EXPECT_EQ(m.scenes.Size(), 1u);
}

TEST_F(Manager, ALooseFileHidesItsPackTwinUntilItIsDeleted) {
    Write("data.pack", PackOf({{"data/textures/a.png", "packed!"}}));
    Write("data/textures/a.png", "loose");
    Touch("data/textures/a.png", -100);
    ResourceManager& m = Make();
    EXPECT_EQ(DetectTextures(),
              "New recource detected : a.png\nAdding texture : a.png\n"
              "Loading texture from file : data/textures/a.png\n");
    ASSERT_EQ(m.textureRecords.size(), 1u);
    EXPECT_EQ(m.textureRecords[0].writeTime, TimeOf("data/textures/a.png"));
    Texture* texture = m.FindTexture(NameHash("a.png"));
    EXPECT_EQ(texture->fileSize, 5u);

    Remove("data/textures/a.png");
    EXPECT_EQ(DetectTextures(),
              "Detected a change in recource a.png\nReloading texture : a.png\n"
              "Loading texture from archive : data.pack/data/textures/a.png\n");
    EXPECT_EQ(texture->fileSize, 7u);
    EXPECT_EQ(m.textureRecords[0].writeTime, TimeOf("data.pack"));
    // Pack-only records keep the pack's time: no change on later scans.
    EXPECT_EQ(DetectTextures(), "");
}

TEST_F(Manager, APackThatVanishesChangesItsRecordsOnceOnly) {
    Write("data.pack", PackOf({{"data/textures/a.png", "packed"}}));
    ResourceManager& m = Make();
    DetectTextures();
    Remove("data.pack");
    EXPECT_EQ(DetectTextures(),
              "Detected a change in recource a.png\nReloading texture : a.png\n"
              "Loading texture from file : data/textures/a.png\n");
    EXPECT_EQ(m.FindTexture(NameHash("a.png"))->fileSize, 0u);
    EXPECT_EQ(DetectTextures(), "");
}

TEST_F(Manager, UpdateWaitsForReadyThenPollsInOrderAndStartsTheMusic) {
    Write("data/textures/t.png", "t");
    Write("data/models/m.obj", "m");
    Write("data/scenes/s.xml", "s");
    Write("data.pack", PackOf({{"data/timeline.xml", "<TimeLine/>"}}));
    Write("data/materials.xml", "<Materials/>");
    ResourceManager& m = Make();
    bool playing = false;
    m.hooks.startMusic = [&] { playing = true; };

    StdoutCapture capture;
    m.Update();
    EXPECT_EQ(capture.Text(), "");
    EXPECT_EQ(m.materialsStamp, 0u);
    EXPECT_FALSE(playing);

    m.ready = true;
    StdoutCapture second;
    m.Update();
    std::string log = second.Text();
    size_t texture = log.find("Adding texture : t.png");
    size_t model = log.find("Adding model : m.obj");
    size_t scene = log.find("Adding scene : s.xml");
    ASSERT_NE(scene, std::string::npos) << log;
    EXPECT_LT(texture, model);
    EXPECT_LT(model, scene);
    EXPECT_EQ(m.materialsStamp, TimeOf("data/materials.xml"));
    EXPECT_EQ(m.timelineStamp, TimeOf("data.pack"));
    EXPECT_TRUE(playing);
}

TEST_F(Manager, FindSceneTakesTheFirstOfTwinNamesByTheirNamesWithoutExtension) {
    ResourceManager& m = Make();
    StdoutCapture quiet;
    m.AddScene({NameHash("intro.xml"), "intro.xml", 1});
    m.AddScene({NameHash("outro.xml"), "outro.xml", 1});
    m.AddScene({NameHash("intro.xml"), "intro.xml", 2});
    std::vector<Scene*> scenes = m.scenes.Snapshot();
    ASSERT_EQ(scenes.size(), 3u);
    EXPECT_EQ(scenes[1]->name, "outro");

    EXPECT_EQ(m.FindScene(NameHash("intro")), scenes[0]);
    EXPECT_EQ(m.FindScene(NameHash("outro")), scenes[1]);
    EXPECT_EQ(m.FindScene(NameHash("intro.xml")), nullptr);
    EXPECT_EQ(m.FindScene(0), nullptr);
}

TEST(Registry, UnknownHashesFindNothingAndReplacedObjectsStayAlive) {
    Registry<Material> registry;
    EXPECT_EQ(registry.Find(42), nullptr);
    EXPECT_EQ(registry.Size(), 0u);

    Material* first = registry.Insert(42, std::make_unique<Material>(Material{"first"}));
    Material* second = registry.Insert(42, std::make_unique<Material>(Material{"second"}));
    EXPECT_EQ(registry.Find(42), second);
    EXPECT_EQ(registry.Size(), 1u);
    EXPECT_EQ(first->name, "first");  // still valid for whoever held it
}

}  // namespace

TEST_F(Manager, AFileSavedWithCapitalsIsFoundByItsLowerCaseName) {
    Write("data/textures/WOOD.PNG", "wood");
    ResourceManager& m = Make();
    auto buffer = LoadFile("data/textures/wood.png");
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->size, 4u);
    EXPECT_FALSE(buffer->fromPack);
    EXPECT_EQ(m.GetFileStamp("data/textures/wood.png"), TimeOf("data/textures/WOOD.PNG"));
    EXPECT_EQ(LoadFile("data/textures/wood.pn"), nullptr);

    // Beside a pack holding the lower-case name, the loose file still wins
    // for both the load and the stamp, so its edits are seen.
    Write("data.pack", PackOf({{"data/timeline.xml", "<TimeLine/>"}}));
    Write("data/Timeline.xml", "<TimeLine>");
    Touch("data.pack", -100);
    ResourceManager& again = Make();
    auto timeline = LoadFile("data/timeline.xml");
    ASSERT_NE(timeline, nullptr);
    EXPECT_FALSE(timeline->fromPack);
    EXPECT_EQ(again.GetFileStamp("data/timeline.xml"), TimeOf("data/Timeline.xml"));
    EXPECT_NE(TimeOf("data/Timeline.xml"), TimeOf("data.pack"));
}

namespace {

class Unreadable : public ContentTest {};

TEST_F(Unreadable, ALooseFileInTheWaySaysWhyAndAHugeModelIsRefusedBeforeItIsRead) {
    // A folder where a file belongs: the pack's copy is read, and the load says why.
    std::filesystem::create_directories(ContentRoot() + "/data/materials.xml");
    Write("data.pack", packbytes::Header() + packbytes::Entry("data/materials.xml", "<Materials/>"));
    LoadCheck check;
    auto buffer = LoadFile("data/materials.xml", check);
    ASSERT_TRUE(buffer);
    EXPECT_TRUE(buffer->fromPack);
#ifdef _WIN32
    EXPECT_FALSE(check.problem.empty());  // Windows says "Permission denied"
#else
    EXPECT_EQ(check.problem, "a folder, not a file");
#endif

    // 2 GiB of nothing: refused by the size of the open file.
    Write("data/models/huge.obj", "");
    std::filesystem::resize_file(ContentRoot() + "/data/models/huge.obj", 2ull << 30);
    check = LoadCheck{};
    check.maxSize = SModelLoader::kMaxFileSize;
    EXPECT_FALSE(LoadFile("data/models/huge.obj", check));
    EXPECT_NE(check.problem.find("larger than the 512 MiB"), std::string::npos) << check.problem;
    SModelLoader loader;
    EXPECT_FALSE(loader.LoadObjFile("data/models/huge.obj"));

    // A pack that is there but cannot be read is named in the log.
    Remove("data.pack");
    std::filesystem::create_directory(PackPath());
    StdoutCapture capture;
    std::vector<std::string> files;
    ReadPackFileList(PackPath(), files);
    EXPECT_NE(capture.Text().find("Cannot read " + PackPath() + ": "), std::string::npos);
}

}  // namespace
