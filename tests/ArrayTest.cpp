#include "scene/Array.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>

#include "scene/Object.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

// An object loaded from `xml` (an "Object" element).
std::unique_ptr<Object> Load(const std::string& xml) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(xml.c_str())) << xml;
    auto object = std::make_unique<Object>();
    object->LoadXml(doc.child("Object"));
    return object;
}

glm::vec3 Origin(const glm::mat4& m) { return glm::vec3(m * glm::vec4(0, 0, 0, 1)); }

void ExpectNear(const glm::vec3& actual, const glm::vec3& expected) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-5f) << "component " << i;
}

}  // namespace

TEST(Array, CountAndTranslateGiveOneExtraZeroSizedCopy) {
    auto object = Load(R"(<Object><Position x="10"/><Scale x="1" y="2" z="3"/>
        <Array><Count value="4"/><Translate x="2"/><ScaleMultiplier x="1" y="1" z="1"/></Array></Object>)");
    ASSERT_EQ(object->arrays.size(), 1u);
    std::vector<ArrayInstance> copies = ArrayInstances(*object->arrays[0]);
    ASSERT_EQ(copies.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        ExpectNear(Origin(copies[i].local), {2.0f * i, 0, 0});
        ExpectNear(Origin(copies[i].matrix), {10 + 2.0f * i, 0, 0});  // owner transform outside
        float weight = i < 4 ? 1.0f : 0.0f;
        EXPECT_EQ(copies[i].weight, weight);
        ExpectNear(copies[i].modelScale, glm::vec3(1, 2, 3) * weight);
    }
}

TEST(Array, SwingAboutTheOriginAndSpinBySquaredIndex) {
    auto swing = Load(R"(<Object><Array><Rotate y="90"/><Translate x="1"/></Array></Object>)");
    const Array& a = *swing->arrays[0];
    ExpectNear(Origin(a.InstanceMatrix(0)), {0, 0, 0});
    ExpectNear(Origin(a.InstanceMatrix(1)), {0, 0, -1});  // a quarter turn about Y
    ExpectNear(Origin(a.InstanceMatrix(2)), {-2, 0, 0});

    auto spin = Load(R"(<Object><Array><RotateInstance y="10"/></Array></Object>)");
    const Array& s = *spin->arrays[0];
    // 3 x 3 x 10 = 90 degrees: +X turns to -Z; instance 1 only by 10 degrees.
    ExpectNear(glm::vec3(s.InstanceMatrix(3) * glm::vec4(1, 0, 0, 0)), {0, 0, -1});
    ExpectNear(glm::vec3(s.InstanceMatrix(1) * glm::vec4(1, 0, 0, 0)), {0.98480775f, 0, -0.17364818f});
}

TEST(Array, ChainedArraysMultiplyTheirInstances) {
    auto object = Load(R"(<Object><Scale x="1" y="1" z="1"/>
        <Array><Count value="2"/><Translate x="1"/><ScaleMultiplier x="5" y="5" z="5"/></Array>
        <Array><Count value="3"/><Translate y="1"/><ScaleMultiplier x="2" y="2" z="2"/></Array></Object>)");
    ASSERT_EQ(object->arrays.size(), 2u);
    EXPECT_EQ(object->arrays[0]->next, object->arrays[1].get());
    EXPECT_EQ(object->arrays[1]->next, nullptr);
    std::vector<ArrayInstance> copies = ArrayInstances(*object->arrays[0]);
    ASSERT_EQ(copies.size(), 12u);  // (2 + 1) x (3 + 1)
    int sized = 0;
    for (size_t k = 0; k < copies.size(); ++k) {
        int i = static_cast<int>(k / 4), j = static_cast<int>(k % 4);
        ExpectNear(Origin(copies[k].local), {static_cast<float>(i), static_cast<float>(j), 0});
        bool full = i < 2 && j < 3;
        EXPECT_EQ(copies[k].weight, full ? 1.0f : 0.0f) << i << "," << j;
        if (full) ExpectNear(copies[k].modelScale, {2, 2, 2});  // the last multiplier only
        sized += full;
    }
    EXPECT_EQ(sized, 6);
}

TEST(Array, ScaleCurveOverTheNormalisedIndex) {
    auto object = Load(R"(<Object><Array><Count value="4"/>
        <ScaleOverIndex><Point time="0" value="1"/><Point time="1" value="0"/></ScaleOverIndex></Array></Object>)");
    std::vector<ArrayInstance> copies = ArrayInstances(*object->arrays[0]);
    ASSERT_EQ(copies.size(), 5u);
    const float expected[] = {1.0f, 0.75f, 0.5f, 0.25f, 0.0f};
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(copies[i].weight, expected[i]) << i;
}

TEST(Array, FractionalNegativeAndAbsurdCounts) {
    auto half = Load(R"(<Object><Array><Count value="3.5"/></Array></Object>)");
    std::vector<ArrayInstance> copies = ArrayInstances(*half->arrays[0]);
    ASSERT_EQ(copies.size(), 4u);
    EXPECT_FLOAT_EQ(copies[3].weight, 0.5f);

    for (const char* count : {"-1", "nan"})
        EXPECT_TRUE(ArrayInstances(*Load(std::string(R"(<Object><Array><Count value=")") + count +
                                         R"("/></Array></Object>)")->arrays[0]).empty()) << count;

    auto zero = Load(R"(<Object><Array><Count value="0"/></Array></Object>)");
    copies = ArrayInstances(*zero->arrays[0]);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].weight, 0.0f);
    // The sizeless copy stays sizeless along a curve too, never NaN.
    auto zeroCurve = Load(R"(<Object><Array><Count value="0"/>
        <ScaleOverIndex><Point time="0" value="1"/><Point time="1" value="0"/></ScaleOverIndex></Array></Object>)");
    copies = ArrayInstances(*zeroCurve->arrays[0]);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].weight, 0.0f);
    EXPECT_EQ(copies[0].modelScale, glm::vec3(0.0f));

    auto bare = Load(R"(<Object><Array/></Object>)");  // count 5 by default
    EXPECT_EQ(ArrayInstances(*bare->arrays[0]).size(), 6u);

    // Huge counts along a long chain stay bounded.
    std::string chain = "<Object>";
    for (int i = 0; i < 40; ++i) chain += R"(<Array><Count value="1e30"/></Array>)";
    auto big = Load(chain + "</Object>");
    EXPECT_EQ(big->arrays.size(), ObjectLoadLimits::kMaxArrays);
    StdoutCapture capture;
    EXPECT_LE(ArrayInstances(*big->arrays[0]).size(), kMaxArrayInstances);
    EXPECT_LE(ArrayInstances(*big->arrays[0]).size(), kMaxArrayInstances);
    const std::string log = capture.Text();
    const size_t said = log.find("the rest are not drawn");
    EXPECT_NE(said, std::string::npos) << log;
    EXPECT_EQ(log.find("the rest are not drawn", said + 1), std::string::npos) << "logged once";
}
