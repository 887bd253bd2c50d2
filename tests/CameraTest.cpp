#include "scene/Camera.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>

#include "playback/FrameDriver.h"
#include "scene/FrameState.h"
#include "resources/NameHash.h"

using namespace caldera;

namespace {

void ExpectNear(const glm::vec4& actual, const glm::vec4& expected) {
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-5f) << "component " << i;
}

}  // namespace

TEST(CameraMatrices, UnturnedCameraLooksDownMinusZWithYUp) {
    glm::mat4 projection, view, model(5.0f);
    BuildCameraMatrices({0, 0, 0}, {0, 0, 5}, 60, 1.0f, projection, view, model);
    EXPECT_EQ(model, glm::mat4(1.0f));
    // The origin lies 5 units straight ahead; +Y stays up, +X right.
    ExpectNear(view * glm::vec4(0, 0, 0, 1), {0, 0, -5, 1});
    ExpectNear(view * glm::vec4(0, 1, 5, 1), {0, 1, 0, 1});
    ExpectNear(view * glm::vec4(1, 0, 5, 1), {1, 0, 0, 1});
}

TEST(CameraMatrices, QuarterTurnAboutYLooksDownMinusX) {
    glm::mat4 projection, view, model;
    BuildCameraMatrices({0, 1.5707964f, 0}, {0, 0, 0}, 60, 1.0f, projection, view, model);
    // A point on -X is straight ahead; Ry(90) takes "right" to -Z.
    ExpectNear(view * glm::vec4(-3, 0, 0, 1), {0, 0, -3, 1});
    ExpectNear(view * glm::vec4(0, 0, -1, 1), {1, 0, 0, 1});
}

TEST(CameraMatrices, PerspectiveFromDegreesAndAspect) {
    glm::mat4 projection, view, model;
    float aspect = ScreenAspect(1920, 1080);
    EXPECT_FLOAT_EQ(aspect, 1.7777778f);
    EXPECT_EQ(ScreenAspect(0, 0), 1.0f);
    BuildCameraMatrices({0, 0, 0}, {0, 0, 0}, 60, aspect, projection, view, model);
    float t = std::tan(30.0f * 3.14159265f / 180.0f);  // half of 60 degrees
    EXPECT_NEAR(projection[1][1], 1.0f / t, 1e-4f);
    EXPECT_NEAR(projection[0][0], 1.0f / (1.7777778f * t), 1e-4f);
    EXPECT_NEAR(projection[2][2], -1000.05f / 999.95f, 1e-6f);
    EXPECT_EQ(projection[2][3], -1.0f);
    EXPECT_NEAR(projection[3][2], -100.0f / 999.95f, 1e-6f);
    EXPECT_EQ(projection[3][3], 0.0f);
    // The near plane maps to depth -1, the far one to +1.
    glm::vec4 nearPoint = projection * glm::vec4(0, 0, -0.05f, 1);
    EXPECT_NEAR(nearPoint.z / nearPoint.w, -1.0f, 1e-4f);
}

TEST(Camera, LoadDefaultsAndSharedColourFilterElement) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(R"(<Camera name="Main" lensDirt="Dirt.JPG">
        <Position x="1" y="2" z="3"/>
        <ColorFilterIntensity value="0.5" r="1"><Key frame="4" x="2"/></ColorFilterIntensity></Camera>)"));
    Camera camera;
    camera.LoadXml(doc.child("Camera"));
    EXPECT_EQ(camera.name, "Main");
    EXPECT_EQ(camera.nameHash, NameHash("Main"));
    EXPECT_EQ(camera.lensDirtHash, NameHash("Dirt.JPG"));  // not lower-cased
    EXPECT_EQ(camera.fov.EvaluateAt(0), 0.5f);             // degrees, without "FOV"
    EXPECT_EQ(camera.anamorphicGlow.baseValue, 0.7f);
    EXPECT_EQ(camera.lensFlare.baseValue, 0.8f);
    EXPECT_EQ(camera.lensReflect.baseValue, 0.35f);
    EXPECT_EQ(camera.lensDirtIntensity.baseValue, 1.0f);
    EXPECT_EQ(camera.lensDirtCleanIntensity.baseValue, 1.0f);
    EXPECT_EQ(camera.fadeBlack.baseValue, 0.0f);
    EXPECT_EQ(camera.colorFilterIntensity.baseValue, 0.5f);
    EXPECT_EQ(camera.colorFilterColor.baseValue, glm::vec3(0.0f));  // "r" is not read
    EXPECT_EQ(camera.colorFilterIntensity.keys.at(4), 0.0f);
    EXPECT_EQ(camera.colorFilterColor.keys.at(4), glm::vec3(2, 0, 0));
    ASSERT_EQ(camera.properties.size(), 12u);
    EXPECT_EQ(camera.properties[8], &camera.fadeBlack);

    Camera bare;
    bare.LoadXml(pugi::xml_node());
    EXPECT_EQ(bare.lensDirtHash, NameHash("lensdirt.jpg"));
}

TEST(Camera, SetUpViewUsesTheCurrentCameraAtTheCurrentFrame) {
    Camera camera;
    camera.position.keys = {{0, {0, 0, 0}}, {10, {0, 0, 10}}};
    camera.fov.baseValue = 90;
    FrameState& state = FrameState::Current();
    state.frameStart = 0;
    state.frameEnd = 10;
    state.progress = 100;
    PreparedFrame frame;
    frame.currentCamera = &camera;
    SetUpView(frame, ScreenAspect(200, 100));
    EXPECT_EQ(frame.cameraPosition, glm::vec3(0, 0, 10));
    EXPECT_NEAR(frame.projection[1][1], 1.0f, 1e-5f);  // tan(45 degrees) = 1
    EXPECT_NEAR(frame.projection[0][0], 0.5f, 1e-5f);
    ExpectNear(frame.view * glm::vec4(0, 0, 0, 1), {0, 0, -10, 1});
    state.frameEnd = 0;
    state.progress = 0;
}
