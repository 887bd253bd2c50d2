#pragma once

// A gtest fixture for tests that render small scenes through the frame
// pipeline at 160 x 90 with the production's shaders and read the targets
// back. One working folder per process (ContentRoot) holds the shaders, the
// cube and plane models and the given material library; the renderer is set
// up there once.

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "playback/FrameDriver.h"
#include "playback/Production.h"
#include "render/Renderer.h"
#include "render/SceneDraw.h"
#include "resources/NameHash.h"
#include "scene/Camera.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"
#include "tests/ContentFolder.h"
#include "tests/GlContext.h"

using namespace caldera;

class FrameFixture : public ::testing::Test {
protected:
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 90;

    // Call from SetUpTestSuite; later calls in the same process do nothing.
    static void PrepareRenderer(const char* materials) {
        namespace fs = std::filesystem;
        if (!HaveGlContext()) return;
        static bool ready = false;
        if (ready) return;
        ready = true;
        const fs::path demo = fs::path(DEMO_SOURCE_DIR) / "demo" / "data";
        const fs::path data = fs::path(ContentRoot()) / "data";
        fs::create_directories(data / "models");
        fs::create_directories(data / "scenes");
        fs::create_directories(data / "textures");
        fs::copy(demo / "shaders", data / "shaders", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        ResourceManager& resources = ResourceManager::Instance();
        ConnectProduction(resources);
        for (const char* model : {"cube.obj", "plane.obj"}) {
            fs::copy_file(demo / "models" / model, data / "models" / model, fs::copy_options::overwrite_existing);
            resources.AddModel({NameHash(model), model, 0});
        }
        WriteFile("data/materials.xml", materials);
        resources.ReloadMaterials();

        Renderer& renderer = Renderer::Instance();
        renderer.SetScreenSize(kWidth, kHeight);
        renderer.Init();
    }

    void SetUp() override {
        if (!HaveGlContext()) GTEST_SKIP() << GlContextError();
        while (glGetError() != GL_NO_ERROR) {
        }
        SetFrame(0);
        // An earlier test's scene may have been freed and its address reused.
        Renderer::Instance().lastCubeScene = nullptr;
    }

    static void SetFrame(int frame) {
        Renderer& renderer = Renderer::Instance();
        renderer.frame.frameStart = renderer.frame.frameEnd = frame;
        renderer.frame.progress = 0;
    }

    static void WriteFile(const std::string& relative, const std::string& text) {
        std::ofstream out(std::filesystem::path(ContentRoot()) / relative, std::ios::trunc | std::ios::binary);
        out << text;
    }

    // `objects` seen by camera "cam" (extra elements `camera`) at (0, 0, 8)
    // looking down -Z, 40 degrees; `shadow` is the content of "ShadowMap".
    static std::unique_ptr<Scene> MakeScene(const std::string& objects, const std::string& camera = "",
                                            const std::string& shadow = R"(<RenderCubemap value="0"/>)") {
        auto scene = std::make_unique<Scene>("inline.xml");
        const std::string xml = "<Scene>" + objects +
                                R"(<Camera name="cam"><Position x="0" y="0" z="8"/><FOV value="40"/>)" + camera +
                                "</Camera><ShadowMap>" + shadow + "</ShadowMap></Scene>";
        EXPECT_TRUE(scene->LoadDocument(xml.data(), xml.size()));
        return scene;
    }

    // Prepares and draws one frame of `scene` through its camera "cam".
    static void Draw(Scene& scene) {
        Renderer& renderer = Renderer::Instance();
        renderer.frame.currentScene = &scene;
        renderer.frame.currentCamera = scene.FindCamera(NameHash("cam"));
        PrepareFrame(Prepared(), ScreenAspect(kWidth, kHeight));
        renderer.DrawFrame(Prepared());
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }

    // The frame value of the latest Draw.
    static PreparedFrame& Prepared() { return FrameDriver::Instance().prepared; }
};
