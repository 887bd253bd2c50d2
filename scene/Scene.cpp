#include "scene/Scene.h"

#include <pugixml.hpp>

#include <GL/glew.h>

#include <chrono>
#include <optional>

#include "platform/Log.h"
#include "resources/AsciiCase.h"
#include "resources/FileBuffer.h"
#include "resources/NameHash.h"
#include "render/Renderer.h"
#include "resources/Material.h"
#include "resources/ResourceManager.h"
#include "resources/ShaderProgram.h"
#include "resources/XmlValue.h"

namespace {
constexpr size_t kExtensionLength = 4;  // ".xml"
constexpr std::chrono::milliseconds kReloadPollInterval{500};

// The glass flag of the material the object draws with now. Asking the
// object's material property rather than the material of its previous draw
// keeps glass out of the opaque passes on the first frame it is drawn and on
// the frame its material key changes.
bool IsGlass(const Object& object) {
    std::shared_ptr<const Material> material = object.materialProperty.Evaluate();
    return material && material->glass;
}
}

Scene::Scene(const std::string& fileName)
    : path(ResourceManager::scenesFolder + fileName),
      name(fileName.substr(0, fileName.size() >= kExtensionLength ? fileName.size() - kExtensionLength : 0)) {
    shadowSourcePos.label = "Shadow Source Pos.";
    shadowLookAt.label = "Shadow Look-at";
    shadowSpotSize.label = "Shadow Spot Size";
    anamorphicGlow.label = "Anamorphic Glow";
    lensFlare.label = "Lens Flare";
    lensReflect.label = "Lens Reflect";
    renderCubemap.label = "Render Cubemap";
    properties = {&shadowSourcePos, &shadowLookAt, &shadowSpotSize, &anamorphicGlow,
                  &lensFlare,       &lensReflect,  &renderCubemap};
    LoadXml();
}

Scene::~Scene() = default;

void Scene::LoadXml() {
    std::unique_ptr<FileBuffer> buffer = LoadFile(path);
    if (!buffer || buffer->size == 0) return;
    if (!LoadDocument(buffer->data.data(), buffer->size)) return;
    fileStamp = ResourceManager::Instance().GetFileStamp(path).value_or(0);
}

bool Scene::LoadDocument(const char* text, size_t size) {
    pugi::xml_document document;
    if (!document.load_buffer(text, size)) return false;
    pugi::xml_node root = document.child("Scene");
    if (!root) return false;

    ObjectLoadLimits limits;
    for (pugi::xml_node element : root.children("Object")) {
        if (limits.objects >= ObjectLoadLimits::kMaxObjects) {
            if (!limits.objectsReported) Log(3, "Objects beyond %zu are skipped", ObjectLoadLimits::kMaxObjects);
            limits.objectsReported = true;
            break;
        }
        ++limits.objects;
        auto object = std::make_unique<Object>();
        object->LoadXml(element, limits);
        objects.push_back(std::move(object));
    }
    for (pugi::xml_node element : root.children("Camera")) {
        auto camera = std::make_unique<Camera>();
        camera->LoadXml(element);
        AddCamera(std::move(camera));
    }

    // An absent element reads as an empty one: every value takes its default.
    pugi::xml_node shadowMap = root.child("ShadowMap");
    shadowMaskEnabled = ParseBool(shadowMap.attribute("enabled").value());
    shadowMaskName = LowerCaseAscii(shadowMap.attribute("texture").value());
    shadowMaskHash = NameHash(shadowMaskName);
    shadowSpotSize.LoadXml("SpotSize", shadowMap, 45.0f);
    shadowSourcePos.LoadXml("Position", shadowMap);
    shadowLookAt.LoadXml("LookAt", shadowMap);
    renderCubemap.LoadXml("RenderCubemap", shadowMap, true);

    pugi::xml_node postEffects = root.child("PostEffects");
    anamorphicGlow.LoadXml("Anamorphic", postEffects, 0.7f);
    lensFlare.LoadXml("LensFlare", postEffects, 0.8f);
    lensReflect.LoadXml("LensReflect", postEffects, 0.35f);
    return true;
}

void Scene::CheckReload() {
    std::optional<FileTime> time = ResourceManager::Instance().GetFileStamp(path);
    if (!time || *time == fileStamp) return;
    Log(3, "Reloading scene : %s", path.c_str());
    Clear();
    LoadXml();
}

void Scene::Clear() {
    for (auto& object : objects) retiredObjects.push_back(std::move(object));
    objects.clear();
    for (auto& camera : cameras) retiredCameras.push_back(std::move(camera));
    cameras.clear();
    camerasByName.clear();
}

void Scene::ReleaseRetired() {
    // Children go with their parents, depth-first.
    retiredObjects.clear();
    retiredCameras.clear();
}

void Scene::Update() {
    for (auto& object : objects) object->UpdateParticles();
}

Camera* Scene::AddCamera(std::unique_ptr<Camera> camera) {
    Camera* raw = camera.get();
    // The name is hashed here too, so that a camera made in code is found.
    raw->nameHash = NameHash(raw->name);
    camerasByName[raw->nameHash] = raw;
    cameras.push_back(std::move(camera));
    return raw;
}

Camera* Scene::FindCamera(uint32_t hash) const {
    auto it = camerasByName.find(hash);
    return it == camerasByName.end() ? nullptr : it->second;
}

void Scene::DrawObjects(ShaderProgram* program, const glm::mat4& projection, const glm::mat4& view, bool allObjects,
                        bool glassWanted, bool onlyShadowCasters, bool invertFaces) {
    Object::drawAllObjects = allObjects;
    Renderer::Instance().primitiveMode = GL_TRIANGLES;
    this->projection = projection;
    this->view = view;

    // The first poll starts the clock. Objects a reload replaces stay alive
    // until the frame ends.
    if (!allObjects) {
        using Clock = std::chrono::steady_clock;
        static Clock::time_point lastPoll = Clock::now();
        const Clock::time_point now = Clock::now();
        if (now - lastPoll >= kReloadPollInterval) {
            lastPoll = now;
            CheckReload();
        }
    }

    glFrontFace(invertFaces ? GL_CCW : GL_CW);
    const GLuint name = program ? program->program : 0;
    for (auto& object : objects) {
        glUseProgram(name);
        if (!allObjects && IsGlass(*object) != glassWanted) continue;
        if (onlyShadowCasters && !object->castShadow.Evaluate()) continue;
        object->Draw(program, projection, view);
    }
}

void Scene::UploadLights(ShaderProgram* program) {
    lightCount = 0;
    for (int i = 0; i < kMaxLights; ++i) {
        lightPositions[i] = glm::vec4(0.0f);
        lightColors[i] = glm::vec4(0.0f, 0.0f, 0.0f, lightColors[i].w);
    }
    for (auto& object : objects) {
        if (lightCount == kMaxLights) break;
        if (!object->lightSource.Evaluate()) continue;
        lightPositions[lightCount] = glm::vec4(object->position.Evaluate(), 1.0f);
        lightColors[lightCount] = glm::vec4(object->color.Evaluate(), 1.0f);
        ++lightCount;
    }
    // A program that did not build takes no uniforms.
    if (!program || program->program == 0) return;
    glUseProgram(program->program);
    glUniform1i(program->UniformLocation("usedLights"), lightCount);
    glUniform4fv(program->UniformLocation("lightsPos"), kMaxLights, &lightPositions[0][0]);
    glUniform4fv(program->UniformLocation("lightsCol"), kMaxLights, &lightColors[0][0]);
}
