// Rendering support against the real GL (Mesa under Xvfb). GL calls are observed by swapping
// the loader's function pointers for counting wrappers, which leaves the product code as it is.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include "shell/Stage.h"
#include "assets/assets.h"
#include "core/globals.h"
#include "render/Model.h"
#include "tests/support/display.h"
#include "tests/support/gl_context.h"

namespace {

struct GlCalls {
    int useProgram = 0;
    int deleteProgram = 0;
    int drawArrays = 0;
    int drawElements = 0;
    std::map<std::string, int> uniformLookups;
};
GlCalls calls;
PFNGLUSEPROGRAMPROC realUseProgram;
PFNGLDELETEPROGRAMPROC realDeleteProgram;
PFNGLDRAWARRAYSPROC realDrawArrays;
PFNGLDRAWELEMENTSPROC realDrawElements;
PFNGLGETUNIFORMLOCATIONPROC realGetUniformLocation;

void countUseProgram(GLuint p) { ++calls.useProgram; realUseProgram(p); }
void countDeleteProgram(GLuint p) { ++calls.deleteProgram; realDeleteProgram(p); }
void countDrawArrays(GLenum m, GLint f, GLsizei c) { ++calls.drawArrays; realDrawArrays(m, f, c); }
void countDrawElements(GLenum m, GLsizei c, GLenum t, const void* o) { ++calls.drawElements; realDrawElements(m, c, t, o); }
GLint countGetUniformLocation(GLuint p, const GLchar* name) {
    ++calls.uniformLookups[name];
    return realGetUniformLocation(p, name);
}

constexpr int kWidth = 64;
constexpr int kHeight = 36;

class StageForTest : public Stage {
public:
    void start() override {}
    void abort() override {}
    void update() override {}
    void drawGui() override {}
    bool isFinished(StageResults&) override { return false; }
};

// A small PNG made here, so each test can pick the size and channel count it needs.
std::vector<unsigned char> encodePng(int w, int h, int channels, const std::vector<unsigned char>& pixels) {
    std::vector<unsigned char> out;
    stbi_write_png_to_func(
        [](void* ctx, void* data, int size) {
            auto* v = static_cast<std::vector<unsigned char>*>(ctx);
            v->insert(v->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
        },
        &out, w, h, channels, pixels.data(), w * channels);
    return out;
}

class RenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        window = createHiddenGlContext(kWidth, kHeight, "render test");
        if (!window) return;
        realUseProgram = glad_glUseProgram;
        realDeleteProgram = glad_glDeleteProgram;
        realDrawArrays = glad_glDrawArrays;
        realDrawElements = glad_glDrawElements;
        realGetUniformLocation = glad_glGetUniformLocation;
        glad_glUseProgram = countUseProgram;
        glad_glDeleteProgram = countDeleteProgram;
        glad_glDrawArrays = countDrawArrays;
        glad_glDrawElements = countDrawElements;
        glad_glGetUniformLocation = countGetUniformLocation;
    }
    static void TearDownTestSuite() { destroyHiddenGlContext(window); }
    void SetUp() override {
        TALLYFORGE_REQUIRE_DISPLAY();
        ASSERT_NE(window, nullptr) << "no OpenGL 3.3 core context on this display";
        monitorWidth = kWidth;
        monitorHeight = kHeight;
        calls = {};
        glViewport(0, 0, kWidth, kHeight);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    static std::vector<unsigned char> readPixels() {
        std::vector<unsigned char> rgba(kWidth * kHeight * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        return rgba;
    }
    // GL rows start at the bottom: row kHeight - 1 is the top of the screen.
    static const unsigned char* pixelAt(const std::vector<unsigned char>& rgba, int x, int yFromTop) {
        return &rgba[((kHeight - 1 - yFromTop) * kWidth + x) * 4];
    }
    static std::shared_ptr<ShaderProgram> materialProgram() {
        return buildShaderProgram(materialFragmentShader, modelVertexShader);
    }
    static inline GLFWwindow* window = nullptr;
};

TEST_F(RenderTest, StoredPicturesDecodeToTheirSizeAndChannels) {
    struct Case { const unsigned char* data; std::size_t size; int w, h, channels; };
    for (const Case& c : {Case{backgroundImage, backgroundImageSize, 1280, 720, 3},
                          Case{logoImage, logoImageSize, 283, 50, 4}}) {
        int w = 0, h = 0, channels = 0;
        ASSERT_TRUE(stbi_info_from_memory(c.data, static_cast<int>(c.size), &w, &h, &channels));
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        EXPECT_EQ(channels, c.channels);
        const Texture texture(Diffuse, c.data, static_cast<std::int32_t>(c.size));
        EXPECT_NE(texture.handle, 0u);
        EXPECT_EQ(texture.width, c.w);
        EXPECT_EQ(texture.height, c.h);
    }
}

TEST_F(RenderTest, TexturedQuadPutsImageTopLeftAtScreenTopLeft) {
    // 15 x 9 RGB in 5 x 3 blocks: 45-byte rows, which only upload right with byte alignment.
    // Pixels are read in the middle of the corner blocks, away from filtered edges.
    const int w = 15, h = 9;
    std::vector<unsigned char> pixels(w * h * 3, 0);
    auto block = [&](int bx, int by, unsigned char r, unsigned char g, unsigned char b) {
        for (int y = by * 3; y < by * 3 + 3; ++y)
            for (int x = bx * 5; x < bx * 5 + 5; ++x) {
                unsigned char* p = &pixels[(y * w + x) * 3];
                p[0] = r; p[1] = g; p[2] = b;
            }
    };
    block(0, 0, 255, 0, 0);  // top-left red
    block(2, 0, 0, 255, 0);  // top-right green
    block(0, 2, 0, 0, 255);  // bottom-left blue
    const auto png = encodePng(w, h, 3, pixels);
    StageForTest stage;
    stage.models.push_back(makeTexturedQuadModel(
        materialProgram(), {Texture(Diffuse, png.data(), static_cast<std::int32_t>(png.size()))}));
    stage.drawScene();
    const auto rgba = readPixels();
    const int nearX = kWidth / 6, farX = kWidth - 1 - kWidth / 6;
    const int nearY = kHeight / 6, farY = kHeight - 1 - kHeight / 6;
    const unsigned char* topLeft = pixelAt(rgba, nearX, nearY);
    const unsigned char* topRight = pixelAt(rgba, farX, nearY);
    const unsigned char* bottomLeft = pixelAt(rgba, nearX, farY);
    const unsigned char* bottomRight = pixelAt(rgba, farX, farY);
    EXPECT_GT(topLeft[0], 240); EXPECT_LT(topLeft[1], 15); EXPECT_LT(topLeft[2], 15);
    EXPECT_LT(topRight[0], 15); EXPECT_GT(topRight[1], 240); EXPECT_LT(topRight[2], 15);
    EXPECT_LT(bottomLeft[0], 15); EXPECT_LT(bottomLeft[1], 15); EXPECT_GT(bottomLeft[2], 240);
    EXPECT_LT(bottomRight[0] + bottomRight[1] + bottomRight[2], 15);
}

TEST_F(RenderTest, GreyAlphaImageIsExpandedToRgba) {
    const std::vector<unsigned char> pixels = {200, 255, 100, 255, 50, 255, 10, 255};  // 2 x 2 grey+alpha
    const auto png = encodePng(2, 2, 2, pixels);
    const Texture texture(Diffuse, png.data(), static_cast<std::int32_t>(png.size()));
    ASSERT_NE(texture.handle, 0u);
    GLint internalFormat = 0;
    glBindTexture(GL_TEXTURE_2D, texture.handle);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &internalFormat);
    EXPECT_EQ(internalFormat, GL_RGBA);
}

TEST_F(RenderTest, UndecodableImageGivesNoTexture) {
    const unsigned char garbage[] = {1, 2, 3, 4, 5};
    const Texture texture(Diffuse, garbage, sizeof garbage);
    EXPECT_EQ(texture.handle, 0u);
}

TEST_F(RenderTest, MeshWithoutIndicesIsDrawnWithArrayDraw) {
    StageForTest stage;
    auto model = std::make_shared<Model>(materialProgram());
    model->meshes.emplace_back(std::vector<Vertex>(quadVertices.begin(), quadVertices.begin() + 3),
                               std::vector<std::uint32_t>{});
    stage.models.push_back(model);
    stage.drawScene();
    EXPECT_EQ(calls.drawArrays, 1);
    EXPECT_EQ(calls.drawElements, 0);
}

TEST_F(RenderTest, SharedProgramSwitchesOnceButSetsModelPerModel) {
    StageForTest stage;
    auto program = materialProgram();
    stage.models.push_back(makeQuadModel(program));
    stage.models.push_back(makeQuadModel(program));
    calls = {};
    stage.drawScene();
    EXPECT_EQ(calls.useProgram, 1);
    EXPECT_EQ(calls.uniformLookups["view_pos"], 1);
    EXPECT_EQ(calls.uniformLookups["view"], 1);
    EXPECT_EQ(calls.uniformLookups["projection"], 1);
    EXPECT_EQ(calls.uniformLookups["model"], 2);
    EXPECT_EQ(calls.drawElements, 2);
    // The next frame makes the program current again for its first model.
    stage.drawScene();
    EXPECT_EQ(calls.useProgram, 2);
}

TEST_F(RenderTest, ProjectionAndDefaultView) {
    monitorWidth = 1920;
    monitorHeight = 1080;
    StageForTest stage;
    EXPECT_FLOAT_EQ(stage.camera.aspect, 1.7777778f);
    EXPECT_FLOAT_EQ(stage.projection.at(0, 0), 1.3579951f);
    EXPECT_FLOAT_EQ(stage.projection.at(1, 1), 2.4142135f);
    EXPECT_FLOAT_EQ(stage.projection.at(2, 2), -1.002002f);
    EXPECT_FLOAT_EQ(stage.projection.at(3, 2), -0.2002002f);
    EXPECT_FLOAT_EQ(stage.projection.at(2, 3), -1.0f);
    Mat4 expected = translation({0, 0, -3});
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(stage.camera.view.m[i], expected.m[i], 1e-6f) << i;
}

TEST_F(RenderTest, ModelMatrixIsTranslateRotateScale) {
    Model model(nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(model.modelMatrix.m[i], Mat4::identity().m[i]);
    model.position = {1, 2, 3};
    model.scale = {2, 2, 2};
    model.rotation = {0, 0, 0.70710678f, 0.70710678f};  // 90 degrees about z
    model.updateMatrix();
    // x axis scaled by 2 and turned onto y, then moved.
    EXPECT_NEAR(model.modelMatrix.at(0, 0), 0.0f, 1e-6f);
    EXPECT_NEAR(model.modelMatrix.at(0, 1), 2.0f, 1e-6f);
    EXPECT_NEAR(model.modelMatrix.at(3, 0), 1.0f, 1e-6f);
    EXPECT_NEAR(model.modelMatrix.at(3, 2), 3.0f, 1e-6f);
}

TEST_F(RenderTest, LastProgramReferenceDeletesExactlyOneProgram) {
    auto program = materialProgram();
    auto model = makeQuadModel(program);
    program.reset();
    EXPECT_EQ(calls.deleteProgram, 0);
    model.reset();
    EXPECT_EQ(calls.deleteProgram, 1);
}

TEST_F(RenderTest, BrokenShaderStillGivesAUsableProgram) {
    std::string log;
    auto program = buildShaderProgram("#version 330 core\nthis is not glsl", modelVertexShader, &log);
    ASSERT_TRUE(program);
    EXPECT_NE(program->handle, 0u);
    EXPECT_NE(log.find("fragment shader did not compile"), std::string::npos) << log;
    StageForTest stage;
    stage.models.push_back(makeQuadModel(program));
    stage.drawScene();  // the GL rejects the draw; nothing may crash
    EXPECT_EQ(calls.useProgram, 1);
    std::string okLog = "stale";
    buildShaderProgram(materialFragmentShader, modelVertexShader, &okLog);
    EXPECT_EQ(okLog, "");
}

}  // namespace
