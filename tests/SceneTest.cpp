#include "scene/Scene.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>

#include "particles/ObjectParticles.h"
#include "playback/FrameDriver.h"
#include "scene/FrameState.h"
#include "resources/NameHash.h"
#include "tests/ContentFolder.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

class SceneTest : public ContentTest {
protected:
    // Writes data/scenes/<name>.xml and loads it as a scene.
    std::unique_ptr<Scene> Make(const std::string& name, const std::string& xml) {
        Write("data/scenes/" + name + ".xml", xml);
        return std::make_unique<Scene>(name + ".xml");
    }
};

int Depth(const Object& top) {
    int depth = 1;
    for (const Object* o = &top; !o->children.empty(); o = o->children[0].get()) ++depth;
    return depth;
}

}  // namespace

TEST_F(SceneTest, BareSceneTakesTheDefaults) {
    auto scene = Make("plain", "<Scene/>");
    EXPECT_EQ(scene->name, "plain");
    EXPECT_EQ(scene->path, "data/scenes/plain.xml");
    EXPECT_EQ(scene->shadowSpotSize.EvaluateAt(0), 45.0f);
    EXPECT_EQ(scene->shadowSourcePos.EvaluateAt(0), glm::vec3(0.0f));
    EXPECT_EQ(scene->shadowLookAt.EvaluateAt(0), glm::vec3(0.0f));
    EXPECT_FALSE(scene->shadowMaskEnabled);
    EXPECT_EQ(scene->shadowMaskHash, 0u);
    EXPECT_TRUE(scene->renderCubemap.EvaluateAt(0));
    EXPECT_EQ(scene->anamorphicGlow.baseValue, 0.7f);
    EXPECT_EQ(scene->lensFlare.baseValue, 0.8f);
    EXPECT_EQ(scene->lensReflect.baseValue, 0.35f);
    EXPECT_NE(scene->fileStamp, 0u);
    EXPECT_TRUE(scene->objects.empty());
    EXPECT_EQ(scene->properties.size(), 7u);

    auto masked = Make("masked", R"(<Scene><ShadowMap enabled="yes" texture="Mask.PNG">
        <SpotSize value="0.5"/><Position x="1"/><RenderCubemap value="0"/></ShadowMap>
        <ShadowMap enabled="0"/><PostEffects><LensFlare value="2"/></PostEffects></Scene>)");
    EXPECT_TRUE(masked->shadowMaskEnabled);  // only the first element counts
    EXPECT_EQ(masked->shadowMaskName, "mask.png");
    EXPECT_EQ(masked->shadowMaskHash, NameHash("mask.png"));
    EXPECT_EQ(masked->shadowSpotSize.baseValue, 0.5f);
    EXPECT_EQ(masked->shadowSourcePos.baseValue, glm::vec3(1, 0, 0));
    EXPECT_FALSE(masked->renderCubemap.baseValue);
    EXPECT_EQ(masked->lensFlare.baseValue, 2.0f);
    EXPECT_EQ(masked->anamorphicGlow.baseValue, 0.7f);
}

TEST_F(SceneTest, CamerasByNameLaterWins) {
    auto scene = Make("cams", R"(<Scene><Camera name="main"><Object name="hidden"/></Camera>
        <Camera name="main"><FOV value="60"/></Camera><Camera name="Other"/><camera name="x"/></Scene>)");
    ASSERT_EQ(scene->cameras.size(), 3u);
    EXPECT_EQ(scene->FindCamera(NameHash("main")), scene->cameras[1].get());
    EXPECT_EQ(scene->FindCamera(NameHash("other")), nullptr);
    EXPECT_EQ(scene->FindCamera(NameHash("x")), nullptr);
    EXPECT_TRUE(scene->objects.empty());  // an object inside a camera is not loaded
}

TEST_F(SceneTest, ObjectDefaultsIdsAndMaterialFallback) {
    auto scene = Make("objs", R"(<Scene>
        <Object name="a"><RenderObj model="rock.obj" material="stone"/><Object name="a1"/><Object name="a2"/></Object>
        <Object name="b" isCubeMap="t"><Material value="gold"/><RenderObj material="stone"/>
          <Particles/><CopyTransform from="a"/></Object></Scene>)");
    ASSERT_EQ(scene->objects.size(), 2u);
    const Object& a = *scene->objects[0];
    const Object& b = *scene->objects[1];
    EXPECT_EQ(a.scale.EvaluateAt(0), glm::vec3(0.0f));  // a mesh without "Scale" collapses
    EXPECT_EQ(a.color.EvaluateAt(0), glm::vec3(0.0f));  // black without "Color"
    EXPECT_TRUE(a.castShadow.baseValue && a.renderToCubemap.baseValue && a.renderModel.baseValue);
    EXPECT_FALSE(a.generateUv.baseValue);
    EXPECT_EQ(a.uvGenScale.baseValue, 0.5f);
    EXPECT_EQ(a.shadowReceive.baseValue, 1.0f);
    EXPECT_FALSE(a.cubeMapOrigin);
    EXPECT_TRUE(b.cubeMapOrigin);

    // Ids in construction order: a parent before what it holds.
    ASSERT_EQ(a.children.size(), 2u);
    EXPECT_EQ(a.children[0]->id, a.id + 1);
    EXPECT_EQ(a.children[1]->id, a.id + 2);
    EXPECT_EQ(b.id, a.id + 3);
    EXPECT_EQ(a.children[0]->parent, &a);
    EXPECT_EQ(a.children[1]->name, "a2");

    EXPECT_EQ(a.model.baseValue, NameHash("rock.obj"));
    EXPECT_EQ(a.materialProperty.baseValue, NameHash("stone"));  // from "RenderObj"
    EXPECT_EQ(b.materialProperty.baseValue, NameHash("gold"));   // "Material" comes first
    EXPECT_NE(b.particles, nullptr);
    EXPECT_EQ(b.copyFromHash, NameHash("a"));
    EXPECT_EQ(b.CopySource(scene.get()), &a);
    EXPECT_EQ(a.CopySource(scene.get()), nullptr);
}

TEST_F(SceneTest, CopyTransformAndChildOffset) {
    auto scene = Make("follow", R"(<Scene><Object name="target"><Position x="5"/></Object>
        <Object name="follower"><Position y="1"/><CopyTransform from="target"/></Object>
        <Object name="lost"><Position y="1"/><CopyTransform from="nobody"/></Object>
        <Object name="parent"><Position x="10"/><Object><Position x="1"/></Object></Object></Scene>)");
    ASSERT_EQ(scene->objects.size(), 4u);
    auto placed = [](const Object& object) { return object.position.Evaluate(); };
    for (int i : {0, 1, 2}) {
        const Object& object = *scene->objects[static_cast<size_t>(i)];
        const glm::vec3 expected[] = {{5, 0, 0}, {5, 1, 0}, {7, 7, 7}};
        EXPECT_EQ(object.DrawPosition(scene.get(), placed(object), {7, 7, 7}), expected[i]) << object.name;
    }

    // A child follows its parent without its own values changing.
    Object& parent = *scene->objects[3];
    Object& child = *parent.children[0];
    EXPECT_EQ(PositionUnder(child, parent.position.Evaluate()), glm::vec3(11, 0, 0));
    EXPECT_EQ(child.position.baseValue, glm::vec3(1, 0, 0));
}

TEST_F(SceneTest, ReloadFollowsTheFileAndMalformedFilesEmptyTheScene) {
    auto scene = Make("live", R"(<Scene><Object/><Camera name="old"/></Scene>)");
    int firstId = scene->objects[0]->id;
    scene->CheckReload();  // unchanged: nothing happens
    EXPECT_EQ(scene->RetiredCount(), 0u);

    Write("data/scenes/live.xml", R"(<Scene><Object/><Camera name="new"/></Scene>)");
    Touch("data/scenes/live.xml");
    {
        StdoutCapture capture;
        scene->CheckReload();
        EXPECT_NE(capture.Text().find("Reloading scene : data/scenes/live.xml"), std::string::npos);
    }
    scene->ReleaseRetired();
    EXPECT_EQ(scene->FindCamera(NameHash("old")), nullptr);
    EXPECT_NE(scene->FindCamera(NameHash("new")), nullptr);
    EXPECT_GT(scene->objects[0]->id, firstId);  // fresh ids

    Write("data/scenes/live.xml", R"(<Scene><Object name="cut)");
    Touch("data/scenes/live.xml", 20);
    StdoutCapture capture;
    scene->CheckReload();
    scene->CheckReload();  // the stamp stays old, so every poll tries again
    std::string log = capture.Text();
    EXPECT_TRUE(scene->objects.empty());
    EXPECT_TRUE(scene->cameras.empty());
    EXPECT_EQ(scene->FindCamera(NameHash("new")), nullptr);
    size_t first = log.find("Reloading scene");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("Reloading scene", first + 1), std::string::npos);
    scene->ReleaseRetired();
}

TEST_F(SceneTest, ReloadInTheMiddleOfAFrameKeepsTheFramesContentAlive) {
    auto scene = Make("midframe", R"(<Scene><Object name="o"><Position x="3"/><Object/></Object>
        <Camera name="main"><Position z="5"/></Camera></Scene>)");
    FrameState& r = FrameState::Current();
    r.currentScene = scene.get();
    r.currentCamera = scene->FindCamera(NameHash("main"));
    Object* old = scene->objects[0].get();
    Object* oldChild = old->children[0].get();

    Write("data/scenes/midframe.xml", R"(<Scene><Camera name="main"/></Scene>)");
    Touch("data/scenes/midframe.xml");
    scene->CheckReload();  // as the frame's poll does
    ASSERT_TRUE(scene->objects.empty());
    EXPECT_NE(scene->RetiredCount(), 0u);

    // What the frame was given stays readable until it ends.
    PreparedFrame frame;
    frame.currentCamera = r.currentCamera;
    SetUpView(frame, 1.0f);
    EXPECT_EQ(frame.cameraPosition, glm::vec3(0, 0, 5));
    EXPECT_EQ(old->position.Evaluate(), glm::vec3(3, 0, 0));
    EXPECT_EQ(oldChild->parent, old);

    scene->ReleaseRetired();  // the frame has ended
    EXPECT_EQ(scene->RetiredCount(), 0u);
    frame.currentCamera = scene->FindCamera(NameHash("main"));
    SetUpView(frame, 1.0f);
    EXPECT_EQ(frame.cameraPosition, glm::vec3(0, 0, 0));
    r.currentScene = nullptr;
    r.currentCamera = nullptr;
}

TEST_F(SceneTest, DeepNestingIsCutAtTheLimit) {
    constexpr int kNesting = 100000;
    std::string xml = "<Scene>";
    for (int i = 0; i < kNesting; ++i) xml += "<Object>";
    for (int i = 0; i < kNesting; ++i) xml += "</Object>";
    xml += "</Scene>";
    StdoutCapture capture;
    auto scene = Make("deep", xml);
    std::string log = capture.Text();
    ASSERT_EQ(scene->objects.size(), 1u);
    EXPECT_EQ(Depth(*scene->objects[0]), ObjectLoadLimits::kMaxDepth);
    EXPECT_NE(log.find("nested deeper than"), std::string::npos);
    UpdateParticles(*scene, 1.0f / 60);
    scene->Clear();
    scene->ReleaseRetired();
}

TEST_F(SceneTest, UnreadableFilesGiveAnEmptyScene) {
    for (const char* text : {"", "<Scene>", "<Other><Object/></Other>", "\xff\xfe garbage", "<scene><Object/></scene>"}) {
        auto scene = Make("bad", text);
        EXPECT_TRUE(scene->objects.empty()) << text;
        EXPECT_EQ(scene->fileStamp, 0u) << text;
        EXPECT_EQ(scene->shadowSpotSize.baseValue, 0.0f) << text;  // never loaded
    }
    Scene missing("missing.xml");
    EXPECT_TRUE(missing.objects.empty());
    missing.CheckReload();  // no file: no reload
    EXPECT_EQ(missing.RetiredCount(), 0u);
}
