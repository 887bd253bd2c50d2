// The material library: the record's defaults, the file format, and reloads
// that replace every material at once while other threads read them.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "resources/MaterialLibrary.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "tests/ContentFolder.h"
#include "tests/StdoutCapture.h"

namespace {

std::shared_ptr<const MaterialSet> ParseQuietly(const std::string& text) {
    StdoutCapture quiet;
    return MaterialSet::Parse(text.data(), text.size());
}

const Material& Only(const std::shared_ptr<const MaterialSet>& set, const char* name) {
    const Material* material = set ? set->Find(NameHash(name)) : nullptr;
    if (!material) throw std::runtime_error(std::string("no material ") + name);
    return *material;
}

TEST(MaterialFile, MissingElementsAndAttributesTakeTheirDefaults) {
    auto set = ParseQuietly(R"(<Materials>
        <Material name="bare"/>
        <Material name="half">
          <Color r="0.5"/><Glass value="yes"/><UseSkyShader value="True"/>
          <ColorMap texture="wood.png"/><NormalMap/>
          <NormalStrength value=" 2.5e0"/><Shadeless value="dull"/>
        </Material>
        <Material name="off"><UseSkyShader value="false"/><Glass value="0" refraction="0.25"/></Material>
      </Materials>)");
    ASSERT_TRUE(set);

    const Material& bare = Only(set, "bare");
    EXPECT_EQ(bare.nameHash, NameHash("bare"));
    EXPECT_EQ(bare.colorMap, 0u);
    EXPECT_EQ(bare.normalMap, 0u);
    EXPECT_EQ(bare.reflectionMap, 0u);
    EXPECT_EQ(bare.blurrinessMap, 0u);
    EXPECT_FALSE(bare.useSkyShader);
    EXPECT_EQ(bare.shadeless, 0.0f);
    EXPECT_EQ(bare.reflectionAmount, 1.0f);
    EXPECT_EQ(bare.normalStrength, 0.5f);
    EXPECT_EQ(bare.color, glm::vec3(0, 0, 0));
    EXPECT_EQ(bare.blurrinessMultiplier, 1.0f);
    EXPECT_FALSE(bare.glass);
    EXPECT_EQ(bare.refraction, 0.0f);

    // A present "Color" lacking components gives 1 for each of them.
    const Material& half = Only(set, "half");
    EXPECT_EQ(half.color, glm::vec3(0.5f, 1.0f, 1.0f));
    EXPECT_TRUE(half.glass);
    EXPECT_EQ(half.refraction, 0.0f);
    EXPECT_TRUE(half.useSkyShader);
    EXPECT_EQ(half.colorMap, NameHash("wood.png"));
    EXPECT_EQ(half.normalMap, 0u);
    EXPECT_EQ(half.normalStrength, 2.5f);
    EXPECT_EQ(half.shadeless, 0.0f);

    const Material& off = Only(set, "off");
    EXPECT_FALSE(off.useSkyShader);
    EXPECT_FALSE(off.glass);
    EXPECT_EQ(off.refraction, 0.25f);
}

TEST(MaterialFile, ALaterMaterialOfTheSameNameWins) {
    auto set = ParseQuietly(R"(<Materials>
        <Material name="twin"><Shadeless value="1"/></Material>
        <Other name="twin"/>
        <Material name="twin"><Shadeless value="2"/></Material>
      </Materials>)");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->byHash.size(), 1u);
    EXPECT_EQ(Only(set, "twin").shadeless, 2.0f);
}

TEST(MaterialFile, OnlyAMaterialsElementMakesALibrary) {
    EXPECT_FALSE(ParseQuietly("<Materials><Material name='a'>"));
    EXPECT_FALSE(ParseQuietly("<Library><Material name='a'/></Library>"));
    EXPECT_FALSE(ParseQuietly(""));
    auto empty = ParseQuietly("<Materials/>");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->byHash.empty());
}

class MaterialReload : public ContentTest {
protected:
    std::string Reload() {
        StdoutCapture capture;
        manager.ReloadMaterials();
        return capture.Text();
    }
    ResourceManager manager;
};

TEST_F(MaterialReload, ReplacesEveryMaterialAndKeepsThemOnBadFiles) {
    Write("data/materials.xml",
          "<Materials><Material name='wood'><Shadeless value='1'/></Material>"
          "<Material name='steel'/></Materials>");
    EXPECT_EQ(Reload(), "Reloading materials.xml\nLoading material : wood\nLoading material : steel\n");
    std::shared_ptr<const Material> held = manager.FindMaterial(NameHash("wood"));
    ASSERT_TRUE(held);
    EXPECT_EQ(held->shadeless, 1.0f);

    // Malformed, no library element, empty: the previous set stays, silently.
    for (const char* bad : {"<Materials><Material name='glass'>", "<Scene/>", ""}) {
        Write("data/materials.xml", bad);
        EXPECT_EQ(Reload(), "") << bad;
        EXPECT_TRUE(manager.FindMaterial(NameHash("steel"))) << bad;
    }

    Write("data/materials.xml", "<Materials><Material name='glass'><Glass value='y'/></Material></Materials>");
    EXPECT_EQ(Reload(), "Reloading materials.xml\nLoading material : glass\n");
    EXPECT_FALSE(manager.FindMaterial(NameHash("wood")));
    EXPECT_FALSE(manager.FindMaterial(NameHash("steel")));
    EXPECT_TRUE(manager.FindMaterial(NameHash("glass"))->glass);
    // What a draw held across the reload is still the old material.
    EXPECT_EQ(held->name, "wood");
    EXPECT_EQ(held->shadeless, 1.0f);
}

// Readers never see a half-filled set nor a freed material. Run under
// ThreadSanitizer as well.
TEST_F(MaterialReload, ReadersSeeWholeSetsWhileTheWatcherReloads) {
    auto text = [](int generation) {
        std::string xml = "<Materials>";
        for (int i = 0; i < 20; ++i)
            xml += "<Material name='m" + std::to_string(i) + "'><Shadeless value='" + std::to_string(generation) +
                   "'/></Material>";
        return xml + "</Materials>";
    };
    StdoutCapture quiet;
    manager.materials.Publish(MaterialSet::Parse(text(0).data(), text(0).size()));

    std::atomic<bool> done{false};
    std::atomic<int> faults{0};
    std::thread reader([&] {
        while (!done.load()) {
            // One "frame": the set is held while all its materials are read.
            std::shared_ptr<const MaterialSet> frame = manager.materials.Current();
            if (frame->byHash.size() != 20) faults++;
            const float generation = frame->Find(NameHash("m0"))->shadeless;
            for (int i = 0; i < 20; ++i) {
                const Material* m = frame->Find(NameHash("m" + std::to_string(i)));
                if (!m || m->shadeless != generation) faults++;
            }
        }
    });
    for (int generation = 1; generation <= 200; ++generation) {
        Write("data/materials.xml", text(generation));
        manager.ReloadMaterials();
    }
    done = true;
    reader.join();
    EXPECT_EQ(faults.load(), 0);
    EXPECT_EQ(manager.FindMaterial(NameHash("m7"))->shadeless, 200.0f);
}

}  // namespace
