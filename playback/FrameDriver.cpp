#include "playback/FrameDriver.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "particles/ObjectParticles.h"
#include "platform/Music.h"
#include "playback/ApplyMaterial.h"
#include "playback/Show.h"
#include "playback/Timeline.h"
#include "resources/Material.h"
#include "resources/Mesh.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "scene/Camera.h"
#include "scene/FrameState.h"
#include "scene/Scene.h"

namespace caldera {

namespace {

// Truncation toward zero; an authored "nan" or "1e400" must not turn into
// undefined behaviour, so such values saturate (NaN reads as 0).
int TruncateToInt(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return std::numeric_limits<int>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

constexpr float kDefaultSpotSize = 45.0f;

// The shadow camera's field of view. A spot size whose half angle has no
// usable tangent (infinite, NaN, or too near zero to divide by) would poison
// every shadow lookup; it takes the scene default. A negative tangent only
// turns the projection half a turn, and the same matrix builds and reads the
// map, so such a size shadows like its positive twin.
float ShadowFieldOfView(float spotSize) {
    const float tanHalf = std::tan(spotSize * 0.5f);
    if (!std::isfinite(tanHalf) || std::fabs(tanHalf) < 1e-4f) return kDefaultSpotSize;
    return spotSize;
}

// The shadow camera's view. A source on its own target (as in a scene that
// sets neither) looks straight down; a view along the up axis takes -Z as up,
// so the matrix is never NaN.
glm::mat4 ShadowView(const glm::vec3& eye, glm::vec3 target) {
    if (!(glm::length(target - eye) > 1e-5f)) target = eye + glm::vec3(0, -1, 0);
    const glm::vec3 direction = glm::normalize(target - eye);
    glm::vec3 up(0, 1, 0);
    if (glm::length(glm::cross(direction, up)) < 1e-5f) up = glm::vec3(0, 0, -1);
    return glm::lookAt(eye, target, up);
}

// Clip space -1..1 to texture space 0..1.
const glm::mat4 kBiasMatrix{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0.5f, 0.5f, 1.0f};

PreparedFrame::Range AddInstances(PreparedFrame& frame, const std::vector<ArrayInstance>& copies) {
    PreparedFrame::Range range{static_cast<uint32_t>(frame.instances.size()), static_cast<uint32_t>(copies.size())};
    for (const ArrayInstance& copy : copies) frame.instances.push_back({copy.matrix, copy.modelScale});
    return range;
}

// One object and, after it, its children, as every pass draws them. `parent`
// is where the parent stands (its own position under its parent), null for a
// top-level object.
void AddObject(PreparedFrame& frame, const Scene& scene, Object& object, int depth, const glm::vec3* parent,
               std::vector<ArrayInstance>& arrayCopies) {
    const size_t index = frame.drawables.size();
    frame.drawables.emplace_back();
    PreparedFrame::Drawable& d = frame.drawables.back();
    d.objectId = object.id;
    d.depth = depth;

    // The object's render state keeps what an evaluation cannot give again:
    // the material values while no material resolves, and the place while a
    // copy source is missing.
    ObjectRenderState& state = object.renderState;
    state.mesh = object.model.Evaluate();
    // A mesh whose file changed is read again before the frame draws it; its
    // buffers follow at the draw.
    if (state.mesh) state.mesh->ReloadIfRequested();
    object.appliedMaterial = object.materialProperty.Evaluate();
    if (object.appliedMaterial) ApplyMaterial(state, *object.appliedMaterial, object.color.Evaluate());
    d.glass = object.appliedMaterial && object.appliedMaterial->glass;
    d.castShadow = object.castShadow.Evaluate();
    d.renderToCubemap = object.renderToCubemap.Evaluate();
    d.renderModel = object.renderModel.Evaluate();
    d.cullFace = object.cullFace.Evaluate();
    d.uvAdd = object.uvAdd.Evaluate();
    d.generateUv = object.generateUv.Evaluate();
    d.uvGenScale = object.uvGenScale.Evaluate();
    d.uvGenWorldSpace = object.uvGenWorldSpace.Evaluate();
    d.alphaThreshold = object.alphaThreshold.Evaluate();
    d.shadowReceive = object.shadowReceive.Evaluate();
    d.glow = object.glow.Evaluate();

    const glm::vec3 placed = parent ? PositionUnder(object, *parent) : object.position.Evaluate();
    state.position = object.DrawPosition(&scene, placed, state.position);
    state.scale = object.scale.Evaluate();
    state.rotation = object.rotation.Evaluate();
    state.modelMatrix = DrawMatrix(state.position, state.rotation);
    d.state = state;

    // Particle copies follow the object's own place, not its copy source.
    if (state.mesh && object.particles && object.particles->drawMode == DrawModeModel &&
        object.particles->count != 0) {
        d.particleModels = true;
        ObjectRenderState& copyState = d.particleState;
        copyState = state;
        copyState.position = placed;
        copyState.modelMatrix = DrawMatrix(copyState.position, copyState.rotation);
        d.particleCopies.first = static_cast<uint32_t>(frame.instances.size());
        object.particles->ForEachModelInstance(copyState.position, copyState.rotation, copyState.scale,
                                               [&](const ParticleModelInstance& instance) {
                                                   frame.instances.push_back({instance.matrix, instance.modelScale});
                                               });
        d.particleCopies.count = static_cast<uint32_t>(frame.instances.size()) - d.particleCopies.first;
    }
    if (!object.arrays.empty()) {
        d.arrays = true;
        ArrayInstances(*object.arrays.front(), placed, arrayCopies);
        d.arrayCopies = AddInstances(frame, arrayCopies);
    }

    for (auto& child : object.children) AddObject(frame, scene, *child, depth + 1, &placed, arrayCopies);
    frame.drawables[index].subtreeEnd = static_cast<uint32_t>(frame.drawables.size());
}

// The particle pass's quads: every object's, each before its children's.
void AddQuads(PreparedFrame& frame, Object& object) {
    if (ObjectParticles* system = object.particles.get()) {
        const int count = system->count;
        if (system->updated && system->drawMode == DrawModeQuads && count != 0 &&
            system->quadPositions.size() >= static_cast<size_t>(count) * 12) {
            PreparedFrame::ParticleQuads quads;
            quads.system = system;
            quads.objectId = object.id;
            const glm::vec3 ownerPosition = object.position.Evaluate();
            quads.quads = system->BuildQuads(frame.cameraRotation, ownerPosition);
            // Sprites take the owner's colour texture where its material has one.
            quads.state = object.renderState;
            quads.state.position = ownerPosition;
            quads.state.rotation = object.rotation.Evaluate();
            quads.state.scale = object.scale.Evaluate();
            quads.state.modelMatrix = DrawMatrix(quads.state.position, quads.state.rotation);
            frame.particleQuads.push_back(quads);
        }
    }
    for (auto& child : object.children) AddQuads(frame, *child);
}

void GatherLights(const Scene& scene, PreparedFrame::Lights& lights) {
    lights = {};
    for (const auto& object : scene.objects) {
        if (lights.count == PreparedFrame::kMaxLights) break;
        if (!object->lightSource.Evaluate()) continue;
        lights.positions[static_cast<size_t>(lights.count)] = glm::vec4(object->position.Evaluate(), 1.0f);
        lights.colors[static_cast<size_t>(lights.count)] = glm::vec4(object->color.Evaluate(), 1.0f);
        ++lights.count;
    }
}

}  // namespace

FrameDriver& FrameDriver::Instance() {
    static FrameDriver instance;
    return instance;
}

bool BeginFrame() {
    FrameDriver& driver = FrameDriver::Instance();
    FrameState& frame = FrameState::Current();
    // Frame time in microseconds from the tick clock. The first played frame
    // has no predecessor: it counts as one nominal frame.
    FrameClock& clock = driver.frameClock ? *driver.frameClock : driver.steadyClock;
    int64_t now = clock.NowMicroseconds();
    if (driver.previousTicks == 0) driver.previousTicks = now - FrameDriver::kNominalFrameMicroseconds;
    frame.frameDelta = static_cast<float>(static_cast<double>(now - driver.previousTicks)) * 1e-6f;
    driver.previousTicks = now;

    // A music that failed to open reads negative: no entry covers it.
    double t = driver.musicClock ? driver.musicClock->PositionSeconds() : -1.0;
    Timeline& timeline = Timeline::Instance();
    TimelineEntry* entry = timeline.FindEntry(t, &frame.scheduledScene);
    // The scene the running order asks for polls its file whether or not it
    // can be drawn: a save without the entry's camera (empty, malformed,
    // caught half-written) leaves it undrawable, and only its own poll can
    // read the fix. A drawn scene polls in PrepareFrame instead. A reload
    // here comes before anything of this frame is drawn, so the shot it
    // brings back is looked up again and shown in this very frame.
    if (frame.scheduledScene && (!entry || entry->scene != frame.scheduledScene) && frame.scheduledScene->PollFile())
        entry = timeline.FindEntry(t, &frame.scheduledScene);
    if (!entry) {
        // The camera of the previous frame may be gone with a reload.
        frame.currentCamera = nullptr;
        return false;
    }

    frame.currentScene = entry->scene;
    frame.currentCamera = entry->camera;
    const ShotPosition position = PositionIn(*entry, t);
    frame.frameStart = position.frameStart;
    frame.frameEnd = position.frameEnd;
    frame.progress = position.progress;
    return frame.currentScene != nullptr;
}

ShotPosition PositionIn(const TimelineEntry& entry, double t) {
    ShotPosition position;
    position.frameStart = TruncateToInt(entry.frameStart);
    position.frameEnd = TruncateToInt(entry.frameEnd);
    position.progress = static_cast<float>((t - static_cast<double>(entry.timeStart)) /
                                           static_cast<double>(entry.duration)) * 100.0f;
    return position;
}

float KeyFrameAt(const TimelineEntry& entry, double t) {
    const ShotPosition position = PositionIn(entry, t);
    return KeyFrame(position.frameStart, position.frameEnd, position.progress);
}

bool StepFrame(float seconds) {
    if (!BeginFrame()) return false;
    FrameState& state = FrameState::Current();
    state.frameDelta = seconds;
    UpdateParticles(*state.currentScene, seconds);
    return true;
}

void SetUpView(PreparedFrame& frame, float aspect) {
    const Camera* camera = frame.currentCamera;
    if (!camera) return;
    if (const CameraView* view = FrameDriver::Instance().viewOverride) {
        frame.cameraPosition = view->position;
        frame.cameraRotation = view->rotation;
        frame.fov = view->fov;
    } else {
        frame.cameraPosition = camera->position.Evaluate();
        frame.cameraRotation = camera->rotation.Evaluate();
        frame.fov = camera->fov.Evaluate();
    }
    BuildCameraMatrices(frame.cameraRotation, frame.cameraPosition, frame.fov, aspect, frame.projection, frame.view,
                        frame.model);
    frame.model = glm::mat4(1.0f);
    frame.mvp = frame.projection * frame.view * frame.model;
}

void PrepareFrame(PreparedFrame& frame, float aspect) {
    FrameDriver& driver = FrameDriver::Instance();
    FrameState& state = FrameState::Current();
    frame.Clear();
    frame.currentScene = state.currentScene;
    frame.currentCamera = state.currentCamera;
    frame.time = Show::Instance().inputState->time;
    if (!state.currentScene) return;
    Scene& scene = *state.currentScene;

    // Particles move once a frame, before anything of it is evaluated.
    UpdateParticles(scene, state.frameDelta);
    // Objects a reload replaces stay alive until the frame ends.
    scene.PollFile();

    SetUpView(frame, aspect);

    // The shadow camera at the scene's spot light. It is worked out even
    // when nothing casts: the lookups of every pass stay consistent with an
    // empty map.
    frame.shadow.projection = glm::perspective(ShadowFieldOfView(scene.shadowSpotSize.Evaluate()), 1.0f, 1.0f, 200.0f);
    frame.shadow.view = ShadowView(scene.shadowSourcePos.Evaluate(), scene.shadowLookAt.Evaluate());
    frame.shadow.biasMvp = kBiasMatrix * (frame.shadow.projection * frame.shadow.view * glm::mat4(1.0f));
    ResourceManager& resources = ResourceManager::Instance();
    frame.shadowMask = scene.shadowMaskEnabled && scene.shadowMaskHash != 0
                           ? resources.FindTexture(scene.shadowMaskHash)
                           : nullptr;

    GatherLights(scene, frame.lights);

    frame.cubeEye = glm::vec3(0, 5, 0);
    for (const auto& object : scene.objects) {
        if (object->cubeMapOrigin) {
            frame.cubeEye = object->position.Evaluate();
            break;
        }
    }
    frame.renderCubemap = scene.renderCubemap.Evaluate();

    for (auto& object : scene.objects) AddObject(frame, scene, *object, 0, nullptr, driver.arrayCopies);
    for (auto& object : scene.objects) AddQuads(frame, *object);

    // The post levels come from the shot's camera when the scene has any
    // camera at all; the glow levels else from the scene.
    PreparedFrame::Post& post = frame.post;
    post = {};
    post.anamorphicGlow = scene.anamorphicGlow.Evaluate();
    post.lensFlare = scene.lensFlare.Evaluate();
    post.lensReflect = scene.lensReflect.Evaluate();
    Camera* camera = state.currentCamera && !scene.cameras.empty() ? state.currentCamera : nullptr;
    if (camera) {
        post.anamorphicGlow = camera->anamorphicGlow.Evaluate();
        post.lensFlare = camera->lensFlare.Evaluate();
        post.lensReflect = camera->lensReflect.Evaluate();
        post.lensDirt = camera->lensDirtIntensity.Evaluate();
        post.lensDirtClean = camera->lensDirtCleanIntensity.Evaluate();
        post.fadeBlack = camera->fadeBlack.Evaluate();
        post.fadeWhite = camera->fadeWhite.Evaluate();
        post.colorFilter = camera->colorFilterIntensity.Evaluate();
        post.colorFilterColor = camera->colorFilterColor.Evaluate();
        // A camera's own lens dirt, looked up until it is found.
        if (!camera->lensDirtTexture) camera->lensDirtTexture = resources.FindTexture(camera->lensDirtHash);
        post.lensDirtTexture = camera->lensDirtTexture;
    }
    if (!post.lensDirtTexture) {
        // The production's default, kept once found.
        static const uint32_t defaultHash = NameHash("lensdirt.jpg");
        if (!driver.defaultLensDirt) driver.defaultLensDirt = resources.FindTexture(defaultHash);
        post.lensDirtTexture = driver.defaultLensDirt;
    }
}

void EndFrame() {
    // A reload during this frame kept the old objects and cameras alive for
    // it; nothing can reach them any more.
    FrameState& frame = FrameState::Current();
    if (Scene* scene = frame.currentScene) scene->ReleaseRetired();
    if (Scene* scene = frame.scheduledScene; scene && scene != frame.currentScene) scene->ReleaseRetired();
}

}  // namespace caldera
