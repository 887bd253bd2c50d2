#include "playback/FrameDriver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <glm/glm.hpp>

#include "resources/NameHash.h"
#include "scene/FrameState.h"
#include "scene/Scene.h"
#include "tests/ContentFolder.h"

using namespace caldera;

namespace {

void ExpectNear(const glm::vec4& actual, const glm::vec4& expected) {
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-4f) << "component " << i;
}

class FrameDriverTest : public ContentTest {};

}  // namespace

// The front end without a GL context: a known scene at a known key frame
// gives a known frame value.
TEST_F(FrameDriverTest, AKnownSceneAtAKnownFrameGivesItsCameraLightsDrawablesAndShadowView) {
    Write("data/scenes/known.xml", R"(<Scene>
        <Object name="parent"><Position x="10" y="0" z="0"/>
          <Object name="child"><Position x="1" y="0" z="0"><Key frame="0" x="0" y="0" z="0"/><Key frame="10" x="0" y="2" z="0"/></Position>
            <Array><Count value="2"/><Translate x="1" y="0" z="0"/><ScaleMultiplier x="1" y="1" z="1"/></Array>
          </Object>
        </Object>
        <Object name="lamp"><Position x="0" y="5" z="0"/><Color r="1" g="0" b="0"/><LightSource value="1"/></Object>
        <Object name="dark"><Color r="0" g="1" b="0"/><LightSource value="0"/></Object>
        <Camera name="cam"><Position x="0" y="0" z="8"/><FOV value="90"/><Anamorphic value="0.3"/>
          <FadeToBlack value="0.5"/></Camera>
        <ShadowMap><Position x="0" y="10" z="0"/><LookAt x="0" y="0" z="0"/><SpotSize value="1"/></ShadowMap>
        <PostEffects><Anamorphic value="0.2"/></PostEffects>
      </Scene>)");
    Scene scene("known.xml");
    FrameState& state = FrameState::Current();
    state.currentScene = &scene;
    state.currentCamera = scene.FindCamera(NameHash("cam"));
    state.frameStart = 0;
    state.frameEnd = 10;
    state.progress = 50;  // key frame 5
    state.frameDelta = 0;

    PreparedFrame frame;
    PrepareFrame(frame, 2.0f);

    // The camera at (0, 0, 8) looking down -Z, 90 degrees high, twice as wide.
    EXPECT_EQ(frame.cameraPosition, glm::vec3(0, 0, 8));
    ExpectNear(frame.view * glm::vec4(0, 0, 0, 1), {0, 0, -8, 1});
    EXPECT_NEAR(frame.projection[1][1], 1.0f, 1e-5f);
    EXPECT_NEAR(frame.projection[0][0], 0.5f, 1e-5f);
    EXPECT_EQ(frame.mvp, frame.projection * frame.view);

    // The lights that are on, in document order.
    ASSERT_EQ(frame.lights.count, 1);
    EXPECT_EQ(frame.lights.positions[0], glm::vec4(0, 5, 0, 1));
    EXPECT_EQ(frame.lights.colors[0], glm::vec4(1, 0, 0, 1));

    // Every object, each before its children; the child stands under its
    // parent (whose place moves its base, added between its keys), and its
    // copies follow.
    ASSERT_EQ(frame.drawables.size(), 4u);
    const PreparedFrame::Drawable& parent = frame.drawables[0];
    const PreparedFrame::Drawable& child = frame.drawables[1];
    EXPECT_EQ(parent.subtreeEnd, 2u);
    EXPECT_EQ(child.depth, 1);
    EXPECT_EQ(frame.drawables[2].subtreeEnd, 3u);
    EXPECT_EQ(parent.state.position, glm::vec3(10, 0, 0));
    ExpectNear(glm::vec4(child.state.position, 1), {11, 0.875f, 0, 1});
    ExpectNear(child.state.modelMatrix[3], {11, 0.875f, 0, 1});
    EXPECT_EQ(scene.objects[0]->children[0]->position.baseValue, glm::vec3(1, 0, 0));
    ASSERT_TRUE(child.arrays);
    ASSERT_EQ(child.arrayCopies.count, 3u);  // a count of 2 draws copies 0, 1 and 2
    ExpectNear(frame.instances[child.arrayCopies.first + 1].matrix[3], {12, 0.875f, 0, 1});
    EXPECT_FALSE(parent.arrays);

    // The shadow camera sits at its source and maps its target to the middle
    // of the shadow map.
    ExpectNear(frame.shadow.view * glm::vec4(0, 10, 0, 1), {0, 0, 0, 1});
    const glm::vec4 target = frame.shadow.biasMvp * glm::vec4(0, 0, 0, 1);
    EXPECT_NEAR(target.x / target.w, 0.5f, 1e-5f);
    EXPECT_NEAR(target.y / target.w, 0.5f, 1e-5f);

    // Post levels from the shot's camera, not the scene.
    EXPECT_FLOAT_EQ(frame.post.anamorphicGlow, 0.3f);
    EXPECT_FLOAT_EQ(frame.post.fadeBlack, 0.5f);
    EXPECT_EQ(frame.post.lensDirtTexture, nullptr);  // none registered

    state.currentScene = nullptr;
    state.currentCamera = nullptr;
    state.frameEnd = 0;
    state.progress = 0;
}
