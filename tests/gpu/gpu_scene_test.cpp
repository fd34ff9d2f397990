// The four scenes built and drawn by the real GpuBenchmark stage through the real GL (Mesa under
// Xvfb), into a small off-screen target: each must compile and link, show a picture that is
// neither flat nor still, and a scene that cannot be built must report zeros and say why.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <stb/stb_image_write.h>

#include "assets/assets.h"
#include "core/globals.h"
#include "render/gl.h"
#include "stages/GpuBenchmark.h"
#include "tests/support/display.h"
#include "tests/support/gl_context.h"
#include "tests/support/screenshots.h"

namespace {

struct FakeClocks {
    std::int64_t nanoseconds = 0;
    double seconds = 0;
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
};

// Pixels in which some channel moved by more than a few levels, as a share of all pixels.
double changedShare(const Image& a, const Image& b) {
    std::size_t changed = 0;
    for (std::size_t p = 0; p + 3 < a.rgba.size(); p += 4) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(a.rgba[p + c] - b.rgba[p + c]) > 6) {
                ++changed;
                break;
            }
        }
    }
    return static_cast<double>(changed) / (a.width * a.height);
}

std::size_t distinctColours(const Image& image) {
    std::set<unsigned> colours;
    for (std::size_t p = 0; p + 3 < image.rgba.size(); p += 4)
        colours.insert(image.rgba[p] << 16 | image.rgba[p + 1] << 8 | image.rgba[p + 2]);
    return colours.size();
}

// Difference between the brightest and the darkest pixel, in 8-bit levels of luma.
int lumaRange(const Image& image) {
    int lo = 255, hi = 0;
    for (std::size_t p = 0; p + 3 < image.rgba.size(); p += 4) {
        const int y = (image.rgba[p] * 299 + image.rgba[p + 1] * 587 + image.rgba[p + 2] * 114) / 1000;
        lo = std::min(lo, y);
        hi = std::max(hi, y);
    }
    return hi - lo;
}

// The figures a live scene must reach; the control shaders below show they can fail.
bool looksAlive(const Image& image) { return distinctColours(image) >= 64 && lumaRange(image) >= 24; }
bool moved(const Image& a, const Image& b) { return changedShare(a, b) >= 0.05; }

class SceneTest : public testing::Test {
protected:
    static void SetUpTestSuite() { window = createHiddenGlContext(64, 36, "scene test"); }
    static void TearDownTestSuite() { destroyHiddenGlContext(window); }
    void SetUp() override {
        TALLYFORGE_REQUIRE_DISPLAY();
        ASSERT_NE(window, nullptr) << "no OpenGL 3.3 core context on this display";
        monitorWidth = 1280;
        monitorHeight = 720;
    }

    std::shared_ptr<GpuBenchmark> makeStage(const char* source, const char* title = "Scene", std::int64_t duration = 15) {
        GpuClocks injected{[c = clocks] { return c->nanoseconds; }, [c = clocks] { return c->seconds; }};
        return std::make_shared<GpuBenchmark>(source, duration, title, 1, injected);
    }

    // One frame at the given stage time into a width x height target, the way the shell runs a
    // pass: the program is current from the previous frame, update sets "inTime", the scene draws.
    Image render(GpuBenchmark& stage, double seconds, int width, int height) {
        clocks->nanoseconds = std::llround(seconds * 1e9);
        GLuint texture = 0, framebuffer = 0;
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));

        glUseProgram(stage.program->handle);
        stage.update();
        glViewport(0, 0, width, height);
        glClearColor(0.09f, 0.09f, 0.09f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        stage.drawScene();
        Image image{width, height, std::vector<unsigned char>(static_cast<std::size_t>(width) * height * 4)};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, image.rgba.data());

        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &framebuffer);
        glDeleteTextures(1, &texture);
        return image;
    }

    static inline GLFWwindow* window = nullptr;
    std::shared_ptr<FakeClocks> clocks = std::make_shared<FakeClocks>();
};

using Scene = SceneInfo;

constexpr double kFirstMoment = 3.0;
constexpr double kSecondMoment = 9.5;

TEST_F(SceneTest, EverySceneBuildsAndDrawsAMovingPicture) {
    for (const Scene& scene : kScenes) {
        SCOPED_TRACE(scene.title);
        const char* source = sceneShader(scene.key);
        ASSERT_NE(source, nullptr) << "no shader for " << scene.key;
        EXPECT_GT(std::strlen(source), 0u) << "the scene source is an empty placeholder";

        auto stage = makeStage(source, scene.title);
        testing::internal::CaptureStderr();
        stage->start();
        const std::string complaints = testing::internal::GetCapturedStderr();
        EXPECT_EQ(complaints, "");
        EXPECT_FALSE(stage->buildFailed);
        GLint linked = GL_FALSE;
        glGetProgramiv(stage->program->handle, GL_LINK_STATUS, &linked);
        ASSERT_EQ(linked, GL_TRUE) << complaints;
        ASSERT_EQ(stage->models.size(), 1u);

        const Image first = render(*stage, kFirstMoment, 128, 72);
        const Image second = render(*stage, kSecondMoment, 128, 72);
        EXPECT_TRUE(looksAlive(first)) << distinctColours(first) << " colours, luma range " << lumaRange(first);
        EXPECT_TRUE(looksAlive(second)) << distinctColours(second) << " colours, luma range " << lumaRange(second);
        EXPECT_TRUE(moved(first, second)) << changedShare(first, second) * 100 << " % of the pixels changed";
    }
}

// Larger pictures of each scene at the same two moments, for a person to look at.
TEST_F(SceneTest, SavesScreenshots) {
    const std::filesystem::path dir = screenshotDir();
    std::filesystem::create_directories(dir);
    stbi_flip_vertically_on_write(1);  // GL rows run bottom-up
    for (const Scene& scene : kScenes) {
        SCOPED_TRACE(scene.title);
        auto stage = makeStage(sceneShader(scene.key), scene.title);
        testing::internal::CaptureStderr();
        stage->start();
        testing::internal::GetCapturedStderr();
        for (double moment : {kFirstMoment, kSecondMoment}) {
            const Image image = render(*stage, moment, 640, 360);
            const std::string file =
                (dir / (std::string(scene.key) + "-" + std::to_string(static_cast<int>(moment * 10)) + ".png")).string();
            EXPECT_NE(stbi_write_png(file.c_str(), image.width, image.height, 4, image.rgba.data(), image.width * 4), 0)
                << file;
        }
    }
}

// The picture checks themselves: a flat colour is not alive, a still gradient does not move.
TEST_F(SceneTest, PictureChecksRejectFlatAndStillScenes) {
    const char* flat = "#version 330 core\nuniform float inTime;\nout vec4 fragColor;\n"
                       "void main() { fragColor = vec4(0.2, 0.4, fract(inTime), 1.0); }\n";
    const char* still = "#version 330 core\nin vec2 fragCoord;\nout vec4 fragColor;\n"
                        "void main() { fragColor = vec4(fragCoord, 0.5, 1.0); }\n";
    auto flatStage = makeStage(flat);
    flatStage->start();
    EXPECT_FALSE(looksAlive(render(*flatStage, kFirstMoment, 128, 72)));
    auto stillStage = makeStage(still);
    stillStage->start();
    const Image a = render(*stillStage, kFirstMoment, 128, 72);
    EXPECT_TRUE(looksAlive(a));
    EXPECT_FALSE(moved(a, render(*stillStage, kSecondMoment, 128, 72)));
}

struct BrokenScene {
    const char* name;
    const char* source;
    const char* complaint;
};

// A scene that cannot be built still runs its whole time, then reports zeros (not the frame
// rate of empty frames) after writing the driver's messages to stderr.
TEST_F(SceneTest, BrokenSceneReportsZerosAndTellsWhy) {
    const BrokenScene cases[] = {
        {"compile", "#version 330 core\nout vec4 fragColor;\nvoid main() { fragColor = undeclaredColour; }\n",
         "fragment shader did not compile"},
        {"link", "#version 330 core\nout vec4 fragColor;\nvec4 colourDefinedNowhere();\n"
                 "void main() { fragColor = colourDefinedNowhere(); }\n",
         "program did not link"},
        {"empty placeholder", "", "did not"}};
    for (const BrokenScene& broken : cases) {
        SCOPED_TRACE(broken.name);
        auto stage = makeStage(broken.source, "Broken", 2);
        clocks->nanoseconds = 0;
        clocks->seconds = 0;
        testing::internal::CaptureStderr();
        stage->start();
        const std::string complaints = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(stage->buildFailed);
        EXPECT_NE(complaints.find("\"Broken\""), std::string::npos) << complaints;
        EXPECT_NE(complaints.find(broken.complaint), std::string::npos) << complaints;

        // Fast empty frames of 1/64 s through the whole duration.
        StageResults results;
        while (clocks->nanoseconds < 2'000'000'000) {
            clocks->nanoseconds += 15'625'000;
            clocks->seconds += 0.015625;
            stage->drawScene();
            stage->update();
            EXPECT_FALSE(stage->isFinished(results));
        }
        EXPECT_FALSE(stage->samples.empty());
        clocks->nanoseconds += 1;
        ASSERT_TRUE(stage->isFinished(results));
        ASSERT_EQ(results.gpu.size(), 1u);
        EXPECT_EQ(results.gpu[0], (GpuTestResult{1, 0, 0, 0}));
    }
}

}  // namespace
