// libFuzzer target for the scene loader: any bytes give either a refusal
// that adds nothing or a consistent scene whose every property, array chain
// and camera evaluates without a memory error or undefined behaviour.

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "particles/ObjectParticles.h"
#include "playback/FrameDriver.h"
#include "playback/Production.h"
#include "resources/ResourceManager.h"
#include "scene/Array.h"
#include "scene/Camera.h"
#include "scene/FrameState.h"
#include "scene/Scene.h"

using namespace caldera;

namespace {

void EvaluateAll(const std::vector<Property*>& properties) {
    for (Property* p : properties) {
        switch (p->type) {
            case TypeVec3: static_cast<PropertyVec3*>(p)->Evaluate(); break;
            case TypeBool: static_cast<PropertyBool*>(p)->Evaluate(); break;
            case TypeFloat: static_cast<PropertyFloat*>(p)->Evaluate(); break;
            case TypeMaterial: static_cast<PropertyMaterial*>(p)->Evaluate(); break;
            case TypeModel: static_cast<PropertyModel*>(p)->Evaluate(); break;
            case TypeLine: static_cast<PropertyLine*>(p)->Evaluate(0.5f); break;
            case TypeEmitterType: static_cast<PropertyEmitterType*>(p)->Evaluate(); break;
            case TypeDrawMode: static_cast<PropertyDrawMode*>(p)->Evaluate(); break;
        }
    }
}

void Check(bool condition) {
    if (!condition) std::abort();
}

void Exercise(Scene& scene) {
    EvaluateAll(scene.properties);
    // Without recursion, so that the walk itself cannot be what overflows.
    std::vector<std::pair<const Object*, int>> pending;
    for (const auto& object : scene.objects) pending.emplace_back(object.get(), 1);
    while (!pending.empty()) {
        auto [object, depth] = pending.back();
        pending.pop_back();
        Check(depth <= ObjectLoadLimits::kMaxDepth);
        Check(object->arrays.size() <= ObjectLoadLimits::kMaxArrays);
        EvaluateAll(object->properties);
        object->shadowReceive.Evaluate();
        object->DrawPosition(&scene, object->position.Evaluate(), glm::vec3(0.0f));
        if (!object->arrays.empty()) Check(ArrayInstances(*object->arrays[0]).size() <= kMaxArrayInstances);
        for (const auto& child : object->children) {
            Check(child->parent == object);
            pending.emplace_back(child.get(), depth + 1);
        }
    }
    for (const auto& [hash, camera] : scene.camerasByName) {
        bool member = false;
        for (const auto& owned : scene.cameras) member |= owned.get() == camera;
        Check(member && camera->nameHash == hash);
    }
    for (const auto& camera : scene.cameras) EvaluateAll(camera->properties);

    // The frame's front end through every camera: the update step and the
    // whole evaluation the back end would draw.
    static PreparedFrame prepared;
    FrameState& state = FrameState::Current();
    state.currentScene = &scene;
    state.currentCamera = nullptr;
    for (size_t i = 0; i <= scene.cameras.size(); ++i) {
        if (i < scene.cameras.size()) state.currentCamera = scene.cameras[i].get();
        PrepareFrame(prepared, ScreenAspect(1920, 1080));
        Check(prepared.drawables.size() >= scene.objects.size());
        for (const PreparedFrame::Drawable& d : prepared.drawables) Check(d.subtreeEnd <= prepared.drawables.size());
    }
    state.currentScene = nullptr;
    state.currentCamera = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scene* scene = [] {
        ConnectProduction(ResourceManager::Instance());
        return new Scene("fuzz-scene-that-does-not-exist.xml");
    }();
    FrameState& frame = FrameState::Current();

    scene->Clear();
    bool loaded = scene->LoadDocument(reinterpret_cast<const char*>(data), size);
    if (!loaded) Check(scene->objects.empty() && scene->cameras.empty());

    // Before, on, between and after typical keys, and far out.
    const int frames[][2] = {{0, 0}, {-10, 10}, {5, 100}, {-2147483647 - 1, 2147483647}};
    for (const auto& [start, end] : frames) {
        frame.frameStart = start;
        frame.frameEnd = end;
        frame.progress = 37.5f;
        Exercise(*scene);
    }
    scene->ReleaseRetired();
    return 0;
}
