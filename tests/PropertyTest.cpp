#include "scene/Property.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>
#include <string>

#include "render/Renderer.h"
#include "resources/MaterialLibrary.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"

using namespace caldera;

// Expected values are worked out by hand from the evaluation rules.

namespace {

// The root element of `xml`, which stays valid as long as `document`.
pugi::xml_node Root(pugi::xml_document& document, const char* xml) {
    EXPECT_TRUE(document.load_string(xml)) << xml;
    return document.first_child();
}

void ExpectVec3(const glm::vec3& actual, float x, float y, float z) {
    EXPECT_NEAR(actual.x, x, 1e-5f);
    EXPECT_NEAR(actual.y, y, 1e-5f);
    EXPECT_NEAR(actual.z, z, 1e-5f);
}

}  // namespace

TEST(PropertyVec3, BaseIsAddedOnlyStrictlyBetweenKeys) {
    PropertyVec3 p;
    p.AddKey(0);  // the first key clears the base, so set it afterwards
    p.keys[10] = {10, 0, 0};
    p.baseValue = {1, 1, 1};
    // c = 5: P1 = key 0, P2 = key 10, P0 = P3 = key 10, t = 0.5. For x:
    // 0.5 (0 + 0 + (20 - 0 + 40 - 10) 0.25 + (-10 + 0 - 30 + 10) 0.125) = 4.375.
    ExpectVec3(p.EvaluateAt(5), 1 + 4.375f, 1, 1);
    for (float c : {0.0f, -3.0f}) ExpectVec3(p.EvaluateAt(c), 0, 0, 0);
    for (float c : {10.0f, 20.0f}) ExpectVec3(p.EvaluateAt(c), 10, 0, 0);
}

TEST(PropertyVec3, SegmentEndTangentUsesTheSegmentsOwnEnd) {
    PropertyVec3 p;
    p.keys = {{0, {0, 0, 0}}, {10, {10, 0, 0}}, {20, {30, 0, 0}}};
    // c = 15: P0 = 0, P1 = 10, P2 = 30, P3 = 30 (not a later key), t = 0.5:
    // 0.5 (20 + 30 * 0.5 + (0 - 50 + 120 - 30) 0.25 + (0 + 30 - 90 + 30) 0.125) = 20.625.
    ExpectVec3(p.EvaluateAt(15), 20.625f, 0, 0);
    // c = 12.5, t = 0.25: 0.5 (20 + 7.5 + 40 / 16 - 30 / 64) = 14.765625.
    ExpectVec3(p.EvaluateAt(12.5f), 14.765625f, 0, 0);
    // c = 5 in the first segment: P0 = next key after P1 (10), P3 = 10, t = 0.5:
    // 0.5 (0 + 0 + (20 + 40 - 10) 0.25 + (-10 - 30 + 10) 0.125) = 4.375.
    ExpectVec3(p.EvaluateAt(5), 4.375f, 0, 0);
}

TEST(PropertyVec3, SingleKeyIgnoresBaseAndEditWins) {
    PropertyVec3 p;
    p.baseValue = {1, 2, 3};
    p.keys[4] = {5, 5, 5};
    ExpectVec3(p.EvaluateAt(-100), 5, 5, 5);
    p.editActive = true;
    ExpectVec3(p.EvaluateAt(4), 0, 0, 0);
}

TEST(PropertyVec3, ExtremeFramesStayFinite) {
    PropertyVec3 p;
    p.keys = {{INT32_MIN, {0, 0, 0}}, {INT32_MAX, {1, 0, 0}}};
    glm::vec3 v = p.EvaluateAt(0);
    EXPECT_TRUE(std::isfinite(v.x));
    EXPECT_NO_FATAL_FAILURE(p.EvaluateAt(NAN));
}

TEST(PropertyFloat, InterpolatesLinearlyAndHoldsOutside) {
    PropertyFloat p;
    p.keys = {{0, 0.0f}, {10, 1.0f}};
    p.baseValue = 100;  // never added
    EXPECT_FLOAT_EQ(p.EvaluateAt(5), 0.5f);
    EXPECT_FLOAT_EQ(p.EvaluateAt(-1), 0.0f);
    EXPECT_FLOAT_EQ(p.EvaluateAt(11), 1.0f);
    EXPECT_FLOAT_EQ(p.EvaluateAt(10), 1.0f);
}

TEST(PropertyBool, StepRuleIncludingTheZeroBeforeTheFirstKey) {
    PropertyBool p;
    p.keys = {{10, true}, {20, false}};
    EXPECT_TRUE(p.EvaluateAt(15));
    EXPECT_FALSE(p.EvaluateAt(20));
    EXPECT_FALSE(p.EvaluateAt(25));
    EXPECT_FALSE(p.EvaluateAt(5));   // before stays (0, false) and c > 0
    EXPECT_TRUE(p.EvaluateAt(-5));   // c <= 0: the first key's value
    EXPECT_TRUE(p.EvaluateAt(10));   // on a key
}

TEST(PropertyEditing, FirstKeyClearsTheBaseAndRemovingTheLastFoldsItBack) {
    PropertyVec3 v;
    v.baseValue = {1, 1, 1};
    v.editValue = {1, 2, 3};
    v.AddKey(3);
    ExpectVec3(v.baseValue, 0, 0, 0);
    ExpectVec3(v.editValue, 0, 0, 0);
    v.baseValue = {1, 1, 1};
    v.RemoveKey(3);
    ExpectVec3(v.baseValue, 2, 3, 4);
    EXPECT_EQ(v.KeyCount(), 0);
}

TEST(CurrentFrame, FollowsTheRenderersFrameState) {
    Renderer& r = Renderer::Instance();
    r.frame.frameStart = 100;
    r.frame.frameEnd = 200;
    r.frame.progress = 25;
    EXPECT_EQ(CurrentFrame(), 125.0f);
    PropertyFloat p;
    p.keys = {{100, 0.0f}, {200, 4.0f}};
    EXPECT_FLOAT_EQ(p.Evaluate(), 1.0f);
    r.frame.frameStart = r.frame.frameEnd = 0;
    r.frame.progress = 0;
}

TEST(PropertyLine, EvaluatesPiecewiseLinearAndSortsStably) {
    PropertyLine line;
    EXPECT_EQ(line.Evaluate(0.3f), 0.0f);
    line.AddPoint(1, 2);
    line.AddPoint(0, 0);
    EXPECT_FLOAT_EQ(line.Evaluate(0.5f), 1.0f);
    EXPECT_FLOAT_EQ(line.Evaluate(1.5f), 2.0f);
    EXPECT_FLOAT_EQ(line.Evaluate(-1.0f), 0.0f);

    line.AddPoint(0.5f, 7);
    line.AddPoint(0.5f, 8);  // equal times keep insertion order
    ASSERT_EQ(line.points.size(), 4u);
    EXPECT_EQ(line.points[1], std::make_pair(0.5f, 7.0f));
    EXPECT_EQ(line.points[2], std::make_pair(0.5f, 8.0f));

    PropertyLine same;
    same.AddPoint(0, 3);
    same.AddPoint(0, 5);
    EXPECT_EQ(same.Evaluate(-1), 3.0f);  // no division by zero before the points
}

TEST(PropertyLoad, LineDefaultsAndPoints) {
    pugi::xml_document doc;
    pugi::xml_node parent = Root(doc, R"(<A><Curve><Point time="1" value="2"/><Point/></Curve><Empty/></A>)");
    PropertyLine line;
    line.LoadXml("Missing", parent, 0.25f);
    ASSERT_EQ(line.points.size(), 1u);
    EXPECT_EQ(line.Evaluate(0.7f), 0.25f);
    line.LoadXml("Empty", parent, 0.5f);
    EXPECT_EQ(line.Evaluate(3), 0.5f);
    line.LoadXml("Curve", parent, 0.5f);
    ASSERT_EQ(line.points.size(), 2u);  // (0, 1) from the bare point, then (1, 2)
    EXPECT_FLOAT_EQ(line.Evaluate(0.5f), 1.5f);
    line.LoadXml("Curve", pugi::xml_node(), 0.75f);
    EXPECT_EQ(line.Evaluate(0), 0.75f);
}

TEST(PropertyLoad, NumbersBooleansAndKeys) {
    pugi::xml_document doc;
    pugi::xml_node parent = Root(doc, R"(<A>
        <F value="2.5e1xyz"><Key frame="0x10" value="nan"/><Key frame="99999999999" value="1e400"/>
           <Key frame="3"/><Key frame="3" value="4"/><key frame="8" value="1"/></F>
        <B value="Yes"><Key frame="1" value="false"/><Key frame="2" value=""/><Key frame="3"/></B>
        <V x="1" z="abc"><Key frame="1" y="2"/></V>
        <C g="0.5"><Key frame="1" r="2"/></C></A>)");
    PropertyFloat f;
    f.LoadXml("F", parent, 7);
    EXPECT_EQ(f.baseValue, 25.0f);
    ASSERT_EQ(f.keys.size(), 3u);  // "key" is not "Key"
    EXPECT_TRUE(std::isnan(f.keys.at(16)));
    EXPECT_TRUE(std::isinf(f.keys.at(INT32_MAX)));  // the frame clamps, the value overflows to infinity
    EXPECT_EQ(f.keys.at(3), 4.0f);                   // later key at a frame wins
    f.LoadXml("Missing", parent, 7);
    EXPECT_EQ(f.baseValue, 7.0f);
    EXPECT_TRUE(f.keys.empty());

    PropertyBool b;
    b.LoadXml("B", parent, true);
    EXPECT_TRUE(b.baseValue);
    EXPECT_FALSE(b.keys.at(1));
    EXPECT_FALSE(b.keys.at(2));  // empty text is false
    EXPECT_TRUE(b.keys.at(3));   // absent takes the default

    PropertyVec3 v;
    v.baseValue = {5, 5, 5};
    v.LoadXml("V", parent);
    ExpectVec3(v.baseValue, 1, 0, 0);
    ExpectVec3(v.keys.at(1), 0, 2, 0);
    v.LoadXml("Missing", parent);
    ExpectVec3(v.baseValue, 0, 0, 0);  // a constructor base does not survive a load

    PropertyVec3 c;
    c.isColor = true;
    c.LoadXml("C", parent);
    ExpectVec3(c.baseValue, 1, 0.5f, 1);  // absent colour components are 1
    ExpectVec3(c.keys.at(1), 2, 0, 0);     // but 0 in keys
}

TEST(PropertyLoad, EmitterAndDrawModeNamesAreCaseSensitive) {
    pugi::xml_document doc;
    pugi::xml_node parent = Root(doc, R"(<A><EmitterType type="Sphere.Volume">
        <Key frame="5" value="model.face"/><Key frame="6" value="nothing"/></EmitterType>
        <DrawMode type="draw.quads"/></A>)");
    PropertyEmitterType e;
    e.LoadXml(parent);
    EXPECT_EQ(e.baseValue, 0);
    EXPECT_EQ(e.keys.at(5), 5);
    EXPECT_EQ(e.keys.at(6), 0);
    PropertyDrawMode d;
    d.LoadXml(parent);
    EXPECT_EQ(d.baseValue, 1);
    EXPECT_EQ(d.EvaluateAt(100), 1);
}

TEST(PropertyLoad, MaterialsAndModelsResolveThroughTheRegistries) {
    ResourceManager& manager = ResourceManager::Instance();
    auto set = std::make_shared<MaterialSet>();
    set->byHash[NameHash("prop-steel")] = Material{"prop-steel", NameHash("prop-steel")};
    manager.materials.Publish(set);
    auto mesh = std::make_unique<Mesh>();
    const uint32_t rockHash = NameHash("prop-rock.obj");
    mesh->hash = rockHash;
    Mesh* rock = manager.models.Insert(rockHash, std::move(mesh));

    pugi::xml_document doc;
    pugi::xml_node parent = Root(doc, R"(<A>
        <Material><Key frame="0" value="prop-missing"/><Key frame="10" value="prop-steel"/></Material>
        <Model model="Prop-Rock.obj"><Key frame="0" value="prop-rock.obj"/><Key frame="5" value="PROP-ROCK.OBJ"/></Model>
        <Lower model="prop-rock.obj"/></A>)");
    PropertyMaterial m;
    m.LoadXml(parent);
    // No base: the first key names it even though no such material exists;
    // keys naming unregistered materials are dropped.
    EXPECT_EQ(m.baseValue, NameHash("prop-missing"));
    ASSERT_EQ(m.keys.size(), 1u);
    EXPECT_EQ(m.keys.at(10), NameHash("prop-steel"));
    std::shared_ptr<const Material> steel = m.Evaluate();  // one key: steel at every frame
    ASSERT_TRUE(steel);
    EXPECT_EQ(steel->name, "prop-steel");

    PropertyModel p;
    p.LoadXml("Model", parent);
    EXPECT_EQ(p.baseValue, NameHash("Prop-Rock.obj"));  // hashed as written
    EXPECT_EQ(p.keys.at(0), rock->hash);
    EXPECT_EQ(p.keys.at(5), 0u);  // names nothing registered
    p.keys.clear();
    EXPECT_EQ(p.Evaluate(), nullptr);  // capitals never find the lower-case file
    p.LoadXml("Lower", parent);
    EXPECT_EQ(p.Evaluate(), rock);
    p.LoadXml("Missing", parent);
    EXPECT_EQ(p.Evaluate(), nullptr);

    manager.materials.Publish(std::make_shared<MaterialSet>());
    EXPECT_EQ(m.Evaluate(), nullptr);  // resolved again on every call

    // A material saved without a name lives under hash 0, which is also what
    // a property naming no material holds: it dresses those objects.
    PropertyMaterial none;
    none.LoadXml(Root(doc, "<B/>"));
    EXPECT_EQ(none.Evaluate(), nullptr);
    auto nameless = std::make_shared<MaterialSet>();
    nameless->byHash[0] = Material{"", 0};
    manager.materials.Publish(nameless);
    ASSERT_TRUE(none.Evaluate());
    EXPECT_EQ(none.Evaluate()->nameHash, 0u);
    manager.materials.Publish(std::make_shared<MaterialSet>());
}
