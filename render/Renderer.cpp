#include "render/Renderer.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <glm/gtc/matrix_transform.hpp>

#include "platform/Log.h"
#include "scene/Scene.h"
#include "render/FullScreenQuad.h"
#include "render/ParticleDraw.h"
#include "render/PassProfiler.h"
#include "render/RenderTarget.h"
#include "render/SceneDraw.h"
#include "render/ShadowMask.h"
#include "render/SolidTexture.h"
#include "resources/NameHash.h"
#include "resources/ResourceManager.h"
#include "resources/Texture.h"
#include "scene/Camera.h"

namespace {

const GLenum kFiveBuffers[5] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2,
                                GL_COLOR_ATTACHMENT3, GL_COLOR_ATTACHMENT4};

std::unique_ptr<ShaderProgram> BuildProgram(const char* vertexFile, const char* fragmentFile) {
    auto program = std::make_unique<ShaderProgram>();
    program->Load(std::string("data/shaders/") + vertexFile, std::string("data/shaders/") + fragmentFile);
    return program;
}

GLuint NewFramebuffer() {
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return framebuffer;
}

void AttachColor(int index, GLuint texture) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + index, GL_TEXTURE_2D, texture, 0);
}

void AttachDepth(GLuint texture) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, texture, 0);
}

// A framebuffer with one colour texture and no depth, checked.
GLuint NewColorTarget(GLuint texture, const char* message) {
    GLuint framebuffer = NewFramebuffer();
    AttachColor(0, texture);
    CheckTarget(1, kFiveBuffers, message);
    return framebuffer;
}

// The five colour attachments of a G-buffer layer over `depth`, unchecked.
GLuint NewGBufferLayer(GLuint depth, const GLuint (&colors)[5]) {
    GLuint framebuffer = NewFramebuffer();
    AttachDepth(depth);
    for (int i = 0; i < 5; ++i) AttachColor(i, colors[i]);
    glDrawBuffers(5, kFiveBuffers);
    return framebuffer;
}

// Puts `program` in use. A program whose files are missing or broken is 0:
// its pass is skipped, so that no uniform call fails on every frame.
bool Use(ShaderProgram* program) {
    if (!program || program->program == 0) return false;
    glUseProgram(program->program);
    return true;
}

void UploadMatrix(ShaderProgram& program, const char* name, const glm::mat4& matrix) {
    glUniformMatrix4fv(program.UniformLocation(name), 1, GL_FALSE, &matrix[0][0]);
}

void BindCube(ShaderProgram& program, const char* name, GLuint texture, int unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glUniform1i(program.UniformLocation(name), unit);
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture);
}

// The six faces of an environment cube in render order, each with the
// direction it looks along and its up vector (the cube-map convention puts
// -Y up on the side faces).
struct CubeFace {
    GLenum target;
    glm::vec3 direction;
    glm::vec3 up;
};
const CubeFace kCubeFaces[6] = {
    {GL_TEXTURE_CUBE_MAP_POSITIVE_Y, {0, 1, 0}, {0, 0, 1}},
    {GL_TEXTURE_CUBE_MAP_NEGATIVE_Y, {0, -1, 0}, {0, 0, -1}},
    {GL_TEXTURE_CUBE_MAP_POSITIVE_X, {1, 0, 0}, {0, -1, 0}},
    {GL_TEXTURE_CUBE_MAP_NEGATIVE_X, {-1, 0, 0}, {0, -1, 0}},
    {GL_TEXTURE_CUBE_MAP_POSITIVE_Z, {0, 0, 1}, {0, -1, 0}},
    {GL_TEXTURE_CUBE_MAP_NEGATIVE_Z, {0, 0, -1}, {0, -1, 0}},
};

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

// The active camera for the effect levels: the shot's camera, when the
// scene has any camera at all.
const Camera* EffectCamera(const Renderer& renderer) {
    if (!renderer.frame.currentCamera || !renderer.frame.currentScene || renderer.frame.currentScene->cameras.empty()) return nullptr;
    return renderer.frame.currentCamera;
}

// The intermediate targets start every frame from black with alpha 1
// whatever clear colour an earlier pass left behind.
void ClearToBlack(GLbitfield buffers) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(buffers);
}

}  // namespace

Renderer& Renderer::Instance() {
    static Renderer instance;
    return instance;
}

void Renderer::SetScreenSize(int width, int height) {
    screenWidth = width;
    screenHeight = height;
    glowWidth = width / kGlowDivisor;
    glowHeight = height / kGlowDivisor;
}

void Renderer::Init() {
    const int W = screenWidth, H = screenHeight;
    using enum TargetFormat;

    // The scene list is usually empty here: content loads after the first frame.
    ResourceManager& resources = ResourceManager::Instance();
    std::vector<Scene*> scenes = resources.scenes.Snapshot();
    frame.currentScene = scenes.empty() ? nullptr : scenes.front();

    // Programs, in the order the rebuild sweep visits them.
    programs.ssaoProgram = BuildProgram("Passthrough.vs", "ssao.fs");
    programs.copyProgram = BuildProgram("Passthrough.vs", "copyframebuffer.fs");
    programs.deferredProgram = BuildProgram("deferred.vs", "deferred.fs");
    programs.ssaoBlurProgram = BuildProgram("Passthrough.vs", "ssao_blur.fs");
    programs.reflectProgram = BuildProgram("Passthrough.vs", "ss_reflect.fs");
    programs.cubeBlurProgram = BuildProgram("Passthrough.vs", "blurCubeMap.fs");
    programs.geometryProgram = BuildProgram("TransformVertexShader.vs", "ColorFragmentShader.fs");
    programs.particleProgram = BuildProgram("TransparentParticle2.vs", "TransparentParticle2.fs");
    programs.debugProgram = BuildProgram("TransformVertexShader.vs", "Debug.fs");
    programs.simpleProgram = BuildProgram("Passthrough.vs", "simple.fs");
    programs.refractionProgram = BuildProgram("TransformVertexShader.vs", "refraction.fs");
    programs.lensDirtThresholdProgram = BuildProgram("Passthrough.vs", "pp_lens_dirt_threshold.fs");
    programs.lensDirtBlurProgram = BuildProgram("Passthrough.vs", "pp_lens_dirt_blur.fs");
    programs.lensDirtMixProgram = BuildProgram("Passthrough.vs", "pp_lens_dirt_mix.fs");
    programs.shadowProgram = BuildProgram("shadowmap_depth.vs", "shadowmap_depth.fs");
    programs.glowBlurProgram = BuildProgram("Passthrough.vs", "glow_blur.fs");

    // Environment cubes: the rendered scene and its blur chain.
    cubes.cube256 = CreateCubeMap(cubes.cubeSize);
    cubes.cube128a = CreateCubeMap(cubes.cubeSize / 2);
    cubes.cube128b = CreateCubeMap(cubes.cubeSize / 2);
    cubes.cube85b = CreateCubeMap(cubes.cubeSize / 3);
    cubes.cube85a = CreateCubeMap(cubes.cubeSize / 3);

    // Stand-ins for material textures that are not there.
    defaultNormalTex = CreateSolidTexture(128, 128, 255);
    whiteTex = CreateSolidTexture(255, 255, 255);

    glHint(GL_GENERATE_MIPMAP_HINT, GL_NICEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glClearColor(1.1f, 0.9f, 0.81f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);

    // G-buffer textures, the glass pass's saved copies and the final layer.
    gbuffer.glassColorTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalColorTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.gBuffer = NewFramebuffer();
    gbuffer.colorTex = CreateTargetTexture(RGBA16F, W, H);
    gbuffer.positionTex = CreateTargetTexture(RGBA16F, W, H);
    gbuffer.normalTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.propertiesTex = CreateTargetTexture(RGBA16F, W, H);
    gbuffer.tangentTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedPositionTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedTangentTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedColorTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedNormalTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedPropertiesTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalPositionTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalTangentTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalNormalTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.finalPropertiesTex = CreateTargetTexture(RGB16F, W, H);
    gbuffer.savedDepthTex = CreateTargetTexture(Depth24, W, H);
    gbuffer.finalDepthTex = CreateTargetTexture(Depth24, W, H);
    gbuffer.depthTex = CreateTargetTexture(Depth24, W, H);

    // The geometry pass writes attachment i from fragment output i.
    glBindFramebuffer(GL_FRAMEBUFFER, gbuffer.gBuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, gbuffer.depthTex, 0);
    const GLuint gBufferColors[5] = {gbuffer.colorTex, gbuffer.normalTex, gbuffer.tangentTex, gbuffer.positionTex, gbuffer.propertiesTex};
    for (int i = 0; i < 5; ++i) glFramebufferTexture(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i, gBufferColors[i], 0);
    CheckTarget(5, kFiveBuffers, "DrawBuffers");

    quadBuffer = CreateFullScreenQuad();

    // Occlusion, blurred across and back into targets.ssaoTex.
    targets.ssaoTex = CreateTargetTexture(RGB8, W, H);
    targets.ssaoTarget = NewColorTarget(targets.ssaoTex, "DrawBuffersSSAO");
    targets.ssaoBlurTex = CreateTargetTexture(RGB8, W, H);
    targets.ssaoBlurTarget = NewColorTarget(targets.ssaoBlurTex, "DrawBuffersSSAOBlur");
    targets.ssaoBlur2Target = NewColorTarget(targets.ssaoTex, "DrawBuffersSSAOBlur2");

    // The lit picture and the glow chain at a sixth of the size.
    targets.combinedTex = CreateTargetTexture(RGB16F, W, H);
    targets.combinedTarget = NewColorTarget(targets.combinedTex, "DrawBuffersCombined");
    targets.lensDirtTex = CreateTargetTexture(RGB16F, glowWidth, glowHeight);
    targets.lensDirtTarget = NewColorTarget(targets.lensDirtTex, "DrawBuffersLensDirt");
    targets.lensDirtTmpTex = CreateTargetTexture(RGB16F, glowWidth, glowHeight);
    targets.lensDirtTmpTarget = NewColorTarget(targets.lensDirtTmpTex, "DrawBuffersLensDirtTmp");

    // The shown picture shares the scene's depth, so particles are hidden by it.
    targets.combined2Tex = CreateTargetTexture(RGB16F, W, H);
    targets.combined2Target = NewFramebuffer();
    AttachDepth(gbuffer.depthTex);
    AttachColor(0, targets.combined2Tex);
    CheckTarget(1, kFiveBuffers, "DrawBuffersCombined2");
    targets.combinedGlassTarget = NewColorTarget(gbuffer.glassColorTex, "DrawBuffersCombinedGlass");
    targets.mixTex = CreateTargetTexture(RGB16F, W, H);
    targets.mixTarget = NewColorTarget(targets.mixTex, "DrawBuffersLensDirtMix");
    targets.shownTex = targets.combined2Tex;

    // The two glass layers.
    gbuffer.glassGBuffer = NewGBufferLayer(gbuffer.depthTex, {gbuffer.glassColorTex, gbuffer.normalTex, gbuffer.tangentTex, gbuffer.savedPositionTex, gbuffer.savedPropertiesTex});
    gbuffer.finalGBuffer = NewGBufferLayer(gbuffer.finalDepthTex,
                                   {gbuffer.finalColorTex, gbuffer.finalNormalTex, gbuffer.finalTangentTex, gbuffer.finalPositionTex, gbuffer.finalPropertiesTex});

    // Depth only, seen from the scene's spot light.
    targets.shadowDepthTex = CreateShadowDepthTexture(targets.shadowSize);
    targets.shadowTarget = NewFramebuffer();
    glFramebufferTexture(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, targets.shadowDepthTex, 0);
    glDrawBuffer(GL_NONE);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        Log(0, " Error: glCheckFramebufferStatus / _ShadowFramebufferDepth");
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    shaderWatch = true;
}

void Renderer::DrawFullScreenQuad() { ::DrawFullScreenQuad(quadBuffer); }

void Renderer::CopyTexture(GLuint source, GLuint destination) {
    if (!programs.copyProgram) return;  // before Init
    if (!copyFramebuffers[0]) glGenFramebuffers(2, copyFramebuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, copyFramebuffers[0]);
    AttachColor(0, source);
    glDisable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, copyFramebuffers[1]);
    AttachColor(0, destination);
    glDrawBuffers(1, kFiveBuffers);
    ShaderProgram& program = *programs.copyProgram;
    glUseProgram(program.program);
    // Program 0 has no uniforms to ask for; the draw still runs.
    if (program.program) {
        glUniformMatrix4fv(program.UniformLocation("MVP"), 1, GL_FALSE, &mvp[0][0]);
        glUniformMatrix4fv(program.UniformLocation("M"), 1, GL_FALSE, &model[0][0]);
        glUniformMatrix4fv(program.UniformLocation("P"), 1, GL_FALSE, &projection[0][0]);
        glUniform1i(program.UniformLocation("inTexture1"), 0);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, source);
    DrawFullScreenQuad();
}

void Renderer::CopyDepth(GLuint source, GLuint destination) {
    if (!depthCopyFramebuffers[0]) glGenFramebuffers(2, depthCopyFramebuffers);
    glBindFramebuffer(GL_FRAMEBUFFER, depthCopyFramebuffers[0]);
    AttachDepth(source);
    glBindFramebuffer(GL_FRAMEBUFFER, depthCopyFramebuffers[1]);
    AttachDepth(destination);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, depthCopyFramebuffers[0]);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, depthCopyFramebuffers[1]);
    glBlitFramebuffer(0, 0, screenWidth, screenHeight, 0, 0, screenWidth, screenHeight, GL_DEPTH_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
}

void Renderer::ClearFrame() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    SetViewport(screenWidth, screenHeight);
    ClearToBlack(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void Renderer::SetUpView(glm::mat4& viewMatrix, glm::mat4& modelMatrix) {
    const Camera* camera = frame.currentCamera;
    if (!camera) return;
    glm::vec3 p = camera->position.Evaluate();
    glm::vec3 r = camera->rotation.Evaluate();
    cameraRotation = r;
    cameraPosition = p;
    float f = camera->fov.Evaluate();
    BuildCameraMatrices(r, p, f, ScreenAspect(screenWidth, screenHeight), projection, viewMatrix, modelMatrix);
}

void Renderer::DrawFrame() {
    if (!frame.currentScene) return;
    Scene& scene = *frame.currentScene;
    const int W = screenWidth, H = screenHeight;

    // Every pass relies on depth and scissor tests unless it turns them off.
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_SCISSOR_TEST);
    // Edited shaders take effect before anything is drawn with them.
    if (shaderWatch) {
        ProfileScope scope(profiler, "shader check");
        RebuildPrograms();
    }
    // Particles move once a frame, before any pass draws them.
    {
        ProfileScope scope(profiler, "update");
        UpdateScene(scene, frame.frameDelta);
    }
    // The geometry and lighting passes read this frame's shadow map.
    {
        ProfileScope scope(profiler, "shadow");
        ShadowPass(&scene, targets.shadowTarget);
    }
    glDisable(GL_CULL_FACE);
    glColor4f(1, 1, 1, 1);
    // The cube render sets its own projection and view, so it runs before the camera's.
    UpdateCubeMaps(&scene);
    // The camera's matrices serve every pass from here on.
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, gbuffer.gBuffer);
    SetViewport(W, H);
    SetUpView(view, model);
    model = glm::mat4(1.0f);
    mvp = projection * view * model;
    // Opaque objects into the G-buffer, which every screen-space pass reads.
    {
        ProfileScope scope(profiler, "geometry");
        GeometryPass(scene);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    SetViewport(W, H);
    glDisable(GL_DEPTH_TEST);
    // Occlusion first: the lighting darkens its ambient term by it.
    {
        ProfileScope scope(profiler, "ssao");
        SsaoPass();
    }
    // Across into targets.ssaoBlurTex, then down back into targets.ssaoTex.
    {
        ProfileScope scope(profiler, "ssao blur");
        SsaoBlurPass(targets.ssaoBlurTarget, true, targets.ssaoTex);
        SsaoBlurPass(targets.ssaoBlur2Target, false, targets.ssaoBlurTex);
    }
    // The lit opaque picture, which glass refracts.
    {
        ProfileScope scope(profiler, "lighting");
        LightingPass(targets.combinedTarget);
    }
    // Glass over the lit picture; leaves the final G-buffer for the reflections.
    {
        ProfileScope scope(profiler, "glass");
        GlassPass(gbuffer.glassGBuffer, gbuffer.finalGBuffer, targets.combinedTex);
    }
    // Reflections see the glass too; their result is the picture shown.
    {
        ProfileScope scope(profiler, "reflection");
        ReflectionPass(targets.combined2Target, gbuffer.finalColorTex);
    }
    // Particles over the reflected picture, hidden by the scene's depth.
    {
        ProfileScope scope(profiler, "particles");
        ParticlePass(scene);
    }
    // Glow is gathered at a sixth of the size from the finished picture.
    SetViewport(glowWidth, glowHeight);
    glDisable(GL_DEPTH_TEST);
    {
        ProfileScope scope(profiler, "glow");
        GlowPass(scene, programs.glowBlurProgram.get(), targets.lensDirtTmpTarget, targets.combined2Tex, targets.lensDirtTarget, targets.lensDirtTmpTex,
                 gbuffer.positionTex);
    }
    // Lens dirt, fades and colour filter come last, over everything.
    SetViewport(W, H);
    targets.shownTex = targets.combined2Tex;
    if (Texture* dirt = LensDirtTexture()) {
        ProfileScope scope(profiler, "lens dirt");
        if (LensDirtPass(programs.lensDirtMixProgram.get(), targets.mixTarget, targets.lensDirtTex, targets.combined2Tex, dirt)) targets.shownTex = targets.mixTex;
    }
    // The composed picture on screen.
    {
        ProfileScope scope(profiler, "final");
        FinalBlit();
    }
    // The next frame, and whatever the loop draws, start from plain state.
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
}

void Renderer::SetViewport(int width, int height) {
    glViewport(0, 0, width, height);
    glScissor(0, 0, width, height);
}

void Renderer::RebuildPrograms() {
    // Unchanged files return at once.
    for (ShaderProgram* program : ShaderProgram::allPrograms)
        program->Build(program->vertexPath, program->fragmentPath);
}

void Renderer::ShadowPass(Scene* scene, GLuint target) {
    // The depth map from the scene's spot light. Cleared to the far plane,
    // it shadows nothing until the casters are drawn into it.
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    SetViewport(targets.shadowSize, targets.shadowSize);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene) {
        // The matrices are kept even when the program is missing: the
        // lookups of the other passes stay consistent with an empty map.
        scene->depthProjection =
            glm::perspective(ShadowFieldOfView(scene->shadowSpotSize.Evaluate()), 1.0f, 1.0f, 200.0f);
        scene->depthView = ShadowView(scene->shadowSourcePos.Evaluate(), scene->shadowLookAt.Evaluate());
        const glm::mat4 identity(1.0f);
        scene->depthBiasMvp = scene->biasMatrix * (scene->depthProjection * scene->depthView * identity);
        ShaderProgram* program = programs.shadowProgram.get();
        if (Use(program)) {
            // Opaque casters first, then glass, which casts like any other.
            DrawObjects(*scene, program, scene->depthProjection, scene->depthView, false, false, true, false);
            DrawObjects(*scene, program, scene->depthProjection, scene->depthView, false, true, true, false);
        }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderer::UpdateCubeMaps(Scene* scene) {
    if (scene == lastCubeScene && !scene->renderCubemap.Evaluate()) return;
    lastCubeScene = scene;
    {
        ProfileScope scope(profiler, "cube render");
        RenderCubeMap(scene, cubes.cube256);
    }
    glColor4f(1, 1, 1, 1);
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    ProfileScope scope(profiler, "cube blur");
    // Sharp, then ever wider blurs for rougher surfaces.
    BlurCubeMap(cubes.cube128a, cubes.cube256, cubes.cubeSize / 2, 2.0f, false);
    BlurCubeMap(cubes.cube128b, cubes.cube128a, cubes.cubeSize / 2, 2.0f, true);
    BlurCubeMap(cubes.cube85a, cubes.cube128b, cubes.cubeSize / 3, 6.5f, false);
    BlurCubeMap(cubes.cube85b, cubes.cube85a, cubes.cubeSize / 3, 6.5f, true);
    BlurCubeMap(cubes.cube85a, cubes.cube85b, cubes.cubeSize / 3, 6.5f, false);
    BlurCubeMap(cubes.cube128a, cubes.cube85a, cubes.cubeSize / 2, 6.5f, true);
    BlurCubeMap(cubes.cube85a, cubes.cube128a, cubes.cubeSize / 3, 10.0f, false);
    BlurCubeMap(cubes.cube128a, cubes.cube85a, cubes.cubeSize / 2, 10.0f, true);
}

void Renderer::RenderCubeMap(Scene* scene, CubeMap& cube) {
    // The scene seen from its cube-map origin, face by face.
    if (!scene) return;
    ++cubeRenders;
    glm::vec3 eye(0, 5, 0);
    for (const auto& object : scene->objects) {
        if (object->cubeMapOrigin) {
            eye = object->position.Evaluate();
            break;
        }
    }
    glBindFramebuffer(GL_FRAMEBUFFER, cube.framebuffer);
    ShaderProgram* program = programs.geometryProgram.get();
    if (Use(program)) {
        UploadLights(*scene, program);
        glUniform1i(program->UniformLocation("useCubemap"), 1);
        // The cube shading reads neither, but a shadow sampler must never
        // see a colour texture left on its unit.
        program->SetTextureName("shadowMap", targets.shadowDepthTex, 4);
        BindShadowMask(*program, scene, 6);
        glActiveTexture(GL_TEXTURE0);
        glEnable(GL_DEPTH_TEST);
        projection = glm::perspective(1.5707964f, 1.0f, 0.1f, 1000.0f);
        SetViewport(cube.edge, cube.edge);
        for (const CubeFace& face : kCubeFaces) {
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, face.target, cube.texture, 0);
            // The clear colour is whatever was set last: the set-up colour on
            // the very first cube render, the glow chain's black after that.
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            view = glm::lookAt(eye, eye + face.direction, face.up);
            mvp = projection * view * model;
            DrawObjects(*scene, program, projection, view, true, true, false, false);
        }
        SetViewport(screenWidth, screenHeight);
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube.texture);
    glGenerateMipmap(GL_TEXTURE_CUBE_MAP);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderer::BlurCubeMap(CubeMap& destination, const CubeMap& source, int edge, float strength, bool horizontal) {
    // One separable blur step of the environment chain. Source and
    // destination are always different cubes, so no face reads itself.
    ShaderProgram* program = programs.cubeBlurProgram.get();
    if (!Use(program) || &destination == &source) return;
    glBindFramebuffer(GL_FRAMEBUFFER, destination.framebuffer);
    glUniform1i(program->UniformLocation("horizontal"), horizontal ? 1 : 0);
    glUniform1f(program->UniformLocation("blurStrength"), strength);
    glClearColor(1.0f, 0.0f, 0.0f, 0.0f);
    glActiveTexture(GL_TEXTURE0);
    glUniform1i(program->UniformLocation("cubeMap"), 0);
    glBindTexture(GL_TEXTURE_CUBE_MAP, source.texture);
    SetViewport(edge, edge);
    const GLint faceLocation = program->UniformLocation("face");
    for (int step = 0; step < 6; ++step) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, kCubeFaces[step].target, destination.texture, 0);
        glUniform1i(faceLocation, step);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        DrawFullScreenQuad();
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, destination.texture);
    glGenerateMipmap(GL_TEXTURE_CUBE_MAP);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderer::GeometryPass(Scene& scene) {
    ClearToBlack(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShaderProgram* program = programs.geometryProgram.get();
    if (!Use(program)) return;
    glUniform1i(program->UniformLocation("useCubemap"), 0);
    BindCube(*program, "cubeMap", cubes.cube256.texture, 3);
    program->SetTextureName("shadowMap", targets.shadowDepthTex, 4);
    BindShadowMask(*program, &scene, 6);
    DrawObjects(scene, program, projection, view, false, false, false, false);
}

void Renderer::SsaoPass() {
    glBindFramebuffer(GL_FRAMEBUFFER, targets.ssaoTarget);
    ClearToBlack(GL_COLOR_BUFFER_BIT);
    ShaderProgram* program = programs.ssaoProgram.get();
    if (!Use(program)) return;
    UploadMatrix(*program, "MVP", mvp);
    UploadMatrix(*program, "M", model);
    UploadMatrix(*program, "P", projection);
    program->SetTextureName("colorMap", gbuffer.colorTex, 0);
    program->SetTextureName("normalMap", gbuffer.normalTex, 1);
    program->SetTextureName("tangentMap", gbuffer.tangentTex, 2);
    program->SetTextureName("depthMap", gbuffer.depthTex, 3);
    program->SetTextureName("positionMap", gbuffer.positionTex, 4);
    program->SetTextureName("propertiesMap", gbuffer.propertiesTex, 5);
    glActiveTexture(GL_TEXTURE0);
    DrawFullScreenQuad();
}

void Renderer::SsaoBlurPass(GLuint target, bool horizontal, GLuint input) {
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    ShaderProgram* program = programs.ssaoBlurProgram.get();
    if (!Use(program)) return;
    const GLfloat resolution[2] = {static_cast<GLfloat>(screenWidth), static_cast<GLfloat>(screenHeight)};
    glUniform2fv(program->UniformLocation("resolution"), 1, resolution);
    glUniform1i(program->UniformLocation("horizontal"), horizontal ? 1 : 0);
    program->SetTextureName("ssaoMap", input, 0);
    program->SetTextureName("normalMap", gbuffer.normalTex, 1);
    program->SetTextureName("tangentMap", gbuffer.tangentTex, 2);
    program->SetTextureName("depthMap", gbuffer.depthTex, 3);
    program->SetTextureName("positionMap", gbuffer.positionTex, 4);
    glActiveTexture(GL_TEXTURE0);
    DrawFullScreenQuad();
}

void Renderer::LightingPass(GLuint target) {
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    ShaderProgram* program = programs.deferredProgram.get();
    if (!Use(program)) return;
    if (frame.currentScene) UploadLights(*frame.currentScene, program);
    BindShadowMask(*program, frame.currentScene, 11);
    const glm::mat4 depthBias = frame.currentScene ? frame.currentScene->depthBiasMvp : glm::mat4(1.0f);
    UploadMatrix(*program, "MVP", mvp);
    UploadMatrix(*program, "V", view);
    UploadMatrix(*program, "M", model);
    UploadMatrix(*program, "P", projection);
    UploadMatrix(*program, "DepthBiasMVP", depthBias);
    program->SetTextureName("colorMap", gbuffer.colorTex, 0);
    program->SetTextureName("normalMap", gbuffer.normalTex, 1);
    program->SetTextureName("tangentMap", gbuffer.tangentTex, 2);
    program->SetTextureName("depthMap", gbuffer.depthTex, 3);
    program->SetTextureName("positionMap", gbuffer.positionTex, 4);
    program->SetTextureName("ssaoMap", targets.ssaoTex, 5);
    program->SetTextureName("propertiesMap", gbuffer.propertiesTex, 6);
    BindCube(*program, "cubeMap", cubes.cube256.texture, 7);
    BindCube(*program, "cubeMapBlur", cubes.cube128b.texture, 8);
    BindCube(*program, "cubeMapBlur2", cubes.cube85b.texture, 9);
    BindCube(*program, "cubeMapBlur3", cubes.cube128a.texture, 10);
    DrawFullScreenQuad();
}

void Renderer::GlassPass(GLuint glassTarget, GLuint finalTarget, GLuint litImage) {
    // Glass samples copies, never the targets its two layers write.
    CopyTexture(gbuffer.propertiesTex, gbuffer.savedPropertiesTex);
    CopyTexture(gbuffer.tangentTex, gbuffer.savedTangentTex);
    CopyTexture(gbuffer.colorTex, gbuffer.savedColorTex);
    CopyTexture(gbuffer.normalTex, gbuffer.savedNormalTex);
    CopyDepth(gbuffer.depthTex, gbuffer.savedDepthTex);
    CopyTexture(gbuffer.positionTex, gbuffer.savedPositionTex);

    ShaderProgram* simple = programs.simpleProgram.get();
    ShaderProgram* refraction = programs.refractionProgram.get();
    const GLfloat resolution[2] = {static_cast<GLfloat>(screenWidth), static_cast<GLfloat>(screenHeight)};

    // Back faces over the lit picture, in gbuffer.glassColorTex.
    glBindFramebuffer(GL_FRAMEBUFFER, glassTarget);
    glDrawBuffers(1, kFiveBuffers);
    if (Use(simple)) {
        simple->SetTextureName("renderedTexture", litImage, 0);
        DrawFullScreenQuad();
    }
    glEnable(GL_DEPTH_TEST);
    glDrawBuffers(5, kFiveBuffers);
    if (Use(refraction) && frame.currentScene) {
        glUniform1i(refraction->UniformLocation("useCubemap"), 0);
        BindCube(*refraction, "cubeMap", cubes.cube256.texture, 3);
        UploadLights(*frame.currentScene, refraction);
        glUniform2fv(refraction->UniformLocation("viewportResolution"), 1, resolution);
        // "backgroundImage" (2D) and "cubeMapBlur" (cube) share unit 5; the
        // shader samples only the first.
        refraction->SetTextureName("backgroundImage", litImage, 5);
        BindCube(*refraction, "cubeMapBlur", cubes.cube128b.texture, 5);
        BindCube(*refraction, "cubeMapBlur2", cubes.cube85b.texture, 6);
        BindCube(*refraction, "cubeMapBlur3", cubes.cube128a.texture, 7);
        refraction->SetTextureName("shadowMap", targets.shadowDepthTex, 8);
        glUniform1i(refraction->UniformLocation("isFaceInverted"), 0);
        BindShadowMask(*refraction, frame.currentScene, 9);
        DrawObjects(*frame.currentScene, refraction, projection, view, false, true, false, true);
    }

    // The final layer starts as the opaque scene under the lit picture.
    glBindFramebuffer(GL_FRAMEBUFFER, finalTarget);
    glDrawBuffers(1, kFiveBuffers);
    glDisable(GL_DEPTH_TEST);
    if (Use(simple)) {
        simple->SetTextureName("renderedTexture", litImage, 0);
        DrawFullScreenQuad();
    }
    CopyTexture(gbuffer.savedTangentTex, gbuffer.finalTangentTex);
    CopyTexture(gbuffer.savedNormalTex, gbuffer.finalNormalTex);
    CopyTexture(gbuffer.propertiesTex, gbuffer.finalPropertiesTex);
    CopyDepth(gbuffer.savedDepthTex, gbuffer.finalDepthTex);
    // The back faces wrote gbuffer.savedPositionTex; gbuffer.positionTex still holds the
    // opaque positions.
    CopyTexture(gbuffer.positionTex, gbuffer.finalPositionTex);

    // Front faces over the back-face picture, depth-tested against the opaque scene.
    glBindFramebuffer(GL_FRAMEBUFFER, finalTarget);
    glEnable(GL_DEPTH_TEST);
    glDrawBuffers(5, kFiveBuffers);
    if (Use(refraction) && frame.currentScene) {
        UploadLights(*frame.currentScene, refraction);
        glUniform1i(refraction->UniformLocation("isFaceInverted"), 1);
        refraction->SetTextureName("backgroundImage", gbuffer.glassColorTex, 4);
        DrawObjects(*frame.currentScene, refraction, projection, view, false, true, false, false);
    }
    glDisable(GL_DEPTH_TEST);
}

void Renderer::ReflectionPass(GLuint target, GLuint colorInput) {
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    ShaderProgram* program = programs.reflectProgram.get();
    if (!Use(program)) return;
    program->SetTextureName("colorMap", colorInput, 0);
    program->SetTextureName("normalMap", gbuffer.finalNormalTex, 1);
    program->SetTextureName("depthMap", gbuffer.finalDepthTex, 2);
    program->SetTextureName("positionMap", gbuffer.finalPositionTex, 3);
    program->SetTextureName("propertiesMap", gbuffer.finalPropertiesTex, 4);
    program->SetTextureName("colorMapUnshaded", colorInput, 9);
    program->SetTextureName("shadowMap", targets.shadowDepthTex, 5);
    program->SetTextureName("positionMapGlass", gbuffer.finalPositionTex, 6);
    UploadMatrix(*program, "DepthBiasMVP", frame.currentScene ? frame.currentScene->depthBiasMvp : glm::mat4(1.0f));
    UploadMatrix(*program, "MVP", mvp);
    UploadMatrix(*program, "M", model);
    UploadMatrix(*program, "V", view);
    UploadMatrix(*program, "P", projection);
    DrawFullScreenQuad();
}

void Renderer::ParticlePass(Scene& scene) {
    // targets.combined2Target shares the G-buffer's depth, so the scene hides the
    // particles behind it. The quads write depth too: a system drawn later
    // stays behind the sprites of one drawn before it.
    if (!programs.particleProgram || programs.particleProgram->program == 0) return;
    glBindFramebuffer(GL_FRAMEBUFFER, targets.combined2Target);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDepthMask(GL_TRUE);
    glDisable(GL_CULL_FACE);
    glUseProgram(programs.particleProgram->program);
    for (const auto& object : scene.objects) DrawParticles(*object, programs.particleProgram.get(), projection, view);
    glDisable(GL_BLEND);
}

void Renderer::GlowPass(Scene& scene, ShaderProgram* program, GLuint tmpTarget, GLuint sceneImage, GLuint target,
                        GLuint tmpImage, GLuint positionImage) {
    // Anamorphic streaks, flares and lens reflections of the bright parts.
    float anamorphic = scene.anamorphicGlow.Evaluate();
    float flare = scene.lensFlare.Evaluate();
    float reflect = scene.lensReflect.Evaluate();
    if (const Camera* camera = EffectCamera(*this)) {
        anamorphic = camera->anamorphicGlow.Evaluate();
        flare = camera->lensFlare.Evaluate();
        reflect = camera->lensReflect.Evaluate();
    }
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    // Both targets are cleared first: without the program the mix adds no
    // glow rather than last frame's.
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, tmpTarget);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!Use(program)) return;
    glUniform1f(program->UniformLocation("uAnamorphicIntensity"), anamorphic);
    glUniform1f(program->UniformLocation("uLensFlareIntensity"), flare);
    glUniform1f(program->UniformLocation("uRadialReflectIntensity"), reflect);
    glUniform1i(program->UniformLocation("isHorizontal"), 1);
    program->SetTextureName("texture", sceneImage, 0);
    program->SetTextureName("texturePosition", positionImage, 1);
    // Each pixel's glow amount, for the halo of glowing objects.
    program->SetTextureName("textureProperties", gbuffer.finalPropertiesTex, 2);
    DrawFullScreenQuad();

    glBindFramebuffer(GL_FRAMEBUFFER, target);
    glUniform1i(program->UniformLocation("isHorizontal"), 0);
    program->SetTextureName("texture", tmpImage, 0);
    program->SetTextureName("texturePosition", positionImage, 1);
    DrawFullScreenQuad();
    glActiveTexture(GL_TEXTURE0);
}

bool Renderer::LensDirtPass(ShaderProgram* program, GLuint target, GLuint glowImage, GLuint sceneImage,
                            Texture* dirtTexture) {
    // The glow through the lens dirt, the fades and the colour filter.
    glBindFramebuffer(GL_FRAMEBUFFER, target);
    float dirt = 1.0f, clean = 1.0f, black = 0.0f, white = 0.0f, filter = 0.0f;
    glm::vec3 filterColor(1.0f);
    if (const Camera* camera = EffectCamera(*this)) {
        dirt = camera->lensDirtIntensity.Evaluate();
        clean = camera->lensDirtCleanIntensity.Evaluate();
        black = camera->fadeBlack.Evaluate();
        white = camera->fadeWhite.Evaluate();
        filter = camera->colorFilterIntensity.Evaluate();
        filterColor = camera->colorFilterColor.Evaluate();
    }
    if (!Use(program) || !dirtTexture) return false;
    glUniform1f(program->UniformLocation("uLensDirtIntensity"), dirt);
    glUniform1f(program->UniformLocation("uLensDirtIntensityClean"), clean);
    glUniform1f(program->UniformLocation("uFadeToBlack"), black);
    glUniform1f(program->UniformLocation("uFadeToWhite"), white);
    glUniform1f(program->UniformLocation("uColorFilterIntensity"), filter);
    glUniform3f(program->UniformLocation("uColorFilterColor"), filterColor.x, filterColor.y, filterColor.z);
    program->SetTextureName("texLensDirtIntensity", glowImage, 0);
    program->SetTextureName("texScene", sceneImage, 1);
    program->SetTexture("texLensDirt", dirtTexture, 2);
    DrawFullScreenQuad();
    glActiveTexture(GL_TEXTURE0);
    return true;
}

void Renderer::FinalBlit() {
    SetViewport(screenWidth, screenHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    ClearToBlack(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ShaderProgram* program = programs.simpleProgram.get();
    if (!Use(program)) return;
    program->SetTextureName("renderedTexture", targets.shownTex ? targets.shownTex : targets.combined2Tex, 0);
    DrawFullScreenQuad();
}

Texture* Renderer::LensDirtTexture() {
    ResourceManager& resources = ResourceManager::Instance();
    if (frame.currentCamera && frame.currentScene && !frame.currentScene->cameras.empty()) {
        if (!frame.currentCamera->lensDirtTexture)
            frame.currentCamera->lensDirtTexture = resources.FindTexture(frame.currentCamera->lensDirtHash);
        if (frame.currentCamera->lensDirtTexture) return frame.currentCamera->lensDirtTexture;
    }
    static const uint32_t defaultHash = NameHash("lensdirt.jpg");
    if (!defaultLensDirt) defaultLensDirt = resources.FindTexture(defaultHash);
    return defaultLensDirt;
}
