// The material library: the record's defaults, the file format, and reloads
// that replace every material at once, keeping what a draw still holds.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "resources/MaterialLibrary.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "tests/ContentFolder.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

TEST(MaterialFile, MissingElementsAndAttributesTakeTheirDefaults) {
    const std::string xml = R"(<Materials>
        <Material name="bare"/>
        <Material name="half">
          <Color r="0.5"/><Glass value="yes"/><UseSkyShader value="True"/>
          <ColorMap texture="wood.png"/><NormalMap/><Shadeless value="dull"/>
        </Material>
        <Material name="twin"><UseSkyShader value="false"/><Glass value="0" refraction="0.25"/></Material>
        <Other name="twin"/>
        <Material name="twin"><NormalStrength value=" 2.5e0"/></Material>
      </Materials>)";
    StdoutCapture quiet;
    auto set = MaterialSet::Parse(xml.data(), xml.size());
    ASSERT_TRUE(set);
    ASSERT_EQ(set->byHash.size(), 3u);

    const Material& bare = *set->Find(NameHash("bare"));
    EXPECT_EQ(bare.nameHash, NameHash("bare"));
    EXPECT_EQ(bare.colorMap + bare.normalMap + bare.reflectionMap + bare.blurrinessMap, 0u);
    EXPECT_FALSE(bare.useSkyShader);
    EXPECT_EQ(bare.shadeless, 0.0f);
    EXPECT_EQ(bare.reflectionAmount, 1.0f);
    EXPECT_EQ(bare.normalStrength, 0.5f);
    EXPECT_EQ(bare.color, glm::vec3(0, 0, 0));
    EXPECT_EQ(bare.blurrinessMultiplier, 1.0f);
    EXPECT_FALSE(bare.glass);
    EXPECT_EQ(bare.refraction, 0.0f);

    // A present "Color" lacking components gives 1 for each of them.
    const Material& half = *set->Find(NameHash("half"));
    EXPECT_EQ(half.color, glm::vec3(0.5f, 1.0f, 1.0f));
    EXPECT_TRUE(half.glass);
    EXPECT_EQ(half.refraction, 0.0f);
    EXPECT_TRUE(half.useSkyShader);
    EXPECT_EQ(half.colorMap, NameHash("wood.png"));
    EXPECT_EQ(half.normalMap, 0u);
    EXPECT_EQ(half.shadeless, 0.0f);

    // The later of two materials named alike is the one kept, whole.
    const Material& twin = *set->Find(NameHash("twin"));
    EXPECT_EQ(twin.normalStrength, 2.5f);
    EXPECT_EQ(twin.refraction, 0.0f);
}

using MaterialReload = ContentTest;

TEST_F(MaterialReload, ReplacesEveryMaterialAndKeepsThemOnBadFiles) {
    ResourceManager manager;
    auto reload = [&] {
        StdoutCapture capture;
        manager.ReloadMaterials();
        return capture.Text();
    };
    Write("data/materials.xml",
          "<Materials><Material name='wood'><Shadeless value='1'/></Material><Material name='steel'/></Materials>");
    EXPECT_EQ(reload(), "Reloading materials.xml\nLoading material : wood\nLoading material : steel\n");
    std::shared_ptr<const Material> held = manager.FindMaterial(NameHash("wood"));
    ASSERT_TRUE(held);

    // Malformed, no library element, empty: the previous set stays, silently.
    for (const char* bad : {"<Materials><Material name='glass'>", "<Scene/>", ""}) {
        Write("data/materials.xml", bad);
        EXPECT_EQ(reload(), "") << bad;
        EXPECT_TRUE(manager.FindMaterial(NameHash("steel"))) << bad;
    }

    Write("data/materials.xml", "<Materials><Material name='glass'><Glass value='y'/></Material></Materials>");
    EXPECT_EQ(reload(), "Reloading materials.xml\nLoading material : glass\n");
    EXPECT_FALSE(manager.FindMaterial(NameHash("wood")));
    EXPECT_FALSE(manager.FindMaterial(NameHash("steel")));
    EXPECT_TRUE(manager.FindMaterial(NameHash("glass"))->glass);
    // What a draw held across the reload is still the old material.
    EXPECT_EQ(held->name, "wood");
    EXPECT_EQ(held->shadeless, 1.0f);
}

}  // namespace
