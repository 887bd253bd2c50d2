#include "particles/ObjectParticles.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string>
#include <vector>

#include "render/ParticleDraw.h"
#include "scene/Object.h"
#include "tests/GlContext.h"
#include "tests/StdoutCapture.h"

using namespace caldera;

namespace {

GLint BufferSize(GLuint buffer) {
    GLint size = -1;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    return size;
}

std::vector<float> BufferFloats(GLuint buffer, size_t count) {
    std::vector<float> data(count);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count * sizeof(float)), data.data());
    return data;
}

// The frame's quads of the object's system, as the front end prepares them.
PreparedFrame::ParticleQuads Quads(Object& object) {
    PreparedFrame::ParticleQuads quads;
    quads.system = object.particles.get();
    quads.quads = quads.system->BuildQuads(glm::vec3(0.0f), glm::vec3(0.0f));
    quads.objectId = object.id;
    return quads;
}

}  // namespace

TEST(ParticleGl, BuffersFollowThePoolSizeAndReceiveOnlyTheWrittenQuads) {
    if (!HaveGlContext()) GTEST_SKIP() << GlContextError();
    pugi::xml_document doc;
    doc.load_string(R"(<Object><Particles><PCount value="10"/><EmitRate value="180"/>
        <DrawMode type="draw.quads"/><EmitterSize x="4" y="4" z="4"/></Particles></Object>)");
    Object object;
    object.LoadXml(doc.child("Object"));
    ObjectParticles& p = *object.particles;
    StdoutCapture capture;
    p.Update(1.0f / 60);  // three particles; the draw makes buffers for ten
    DrawQuads(Quads(object), nullptr, glm::mat4(1.0f), glm::mat4(1.0f), glm::mat4(1.0f), 0);
    std::string log = capture.Text();
    size_t deleted = log.find("ObjectParticles::deleteGLBuffers()");
    ASSERT_NE(deleted, std::string::npos) << log;
    EXPECT_NE(log.find("ObjectParticles::initGLBuffers()", deleted), std::string::npos) << log;
    EXPECT_EQ(BufferSize(p.glBuffers->quadPositionBuffer), 10 * 48);
    EXPECT_EQ(BufferSize(p.glBuffers->quadUvBuffer), 10 * 32);
    EXPECT_EQ(BufferSize(p.glBuffers->quadColorBuffer), 10 * 64);

    ASSERT_EQ(p.quadCount, 3);
    std::vector<float> positions = BufferFloats(p.glBuffers->quadPositionBuffer, 10 * 12);
    for (size_t i = 0; i < positions.size(); ++i)
        EXPECT_EQ(positions[i], i < 3 * 12 ? p.quadPositions[i] : 0.0f) << i;
    EXPECT_EQ(BufferFloats(p.glBuffers->quadUvBuffer, 8), (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1}));

    // A new count replaces the buffers at the next draw; the same count keeps them.
    const GLuint before = p.glBuffers->quadPositionBuffer;
    StdoutCapture quiet;
    p.Update(1.0f / 60);
    DrawQuads(Quads(object), nullptr, glm::mat4(1.0f), glm::mat4(1.0f), glm::mat4(1.0f), 0);
    EXPECT_EQ(quiet.Text().find("initGLBuffers"), std::string::npos);
    EXPECT_EQ(p.glBuffers->quadPositionBuffer, before);
    p.countProperty.baseValue = 4;
    p.Update(1.0f / 60);
    DrawQuads(Quads(object), nullptr, glm::mat4(1.0f), glm::mat4(1.0f), glm::mat4(1.0f), 0);
    EXPECT_EQ(BufferSize(p.glBuffers->quadPositionBuffer), 4 * 48);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // A retired system gives its buffers back.
    const GLuint last = p.glBuffers->quadPositionBuffer;
    object.particles.reset();
    EXPECT_EQ(glIsBuffer(last), GL_FALSE);
}
