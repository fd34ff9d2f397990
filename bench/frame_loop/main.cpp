// Frame-loop overhead of the GPU stage: for each scene, the frame rate that the stage's own
// sampling reports when the real Application runs it (GUI windows, title bar, per-frame uniform
// look-ups) against a bare GL loop that draws the same program on the same quad in a window of
// the same size, with no GUI. Both loops take their samples with the same code, so the ratio
// shows only what the shell and the stage add. Prints figures; passes or fails nothing.
//
// The resolution is the screen's video mode: under Xvfb, pick it with
//   xvfb-run -a -s "-screen 0 640x360x24" frame_loop [--seconds N] [--scenes a,b] [--rounds R]
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shell/Application.h"
#include "assets/assets.h"
#include "core/globals.h"
#include "core/protocol.h"
#include "render/Model.h"
#include "stages/GpuBenchmark.h"

namespace {

// The scenes of the run (core/protocol.h), with their durations unless --seconds is given.
using Scene = SceneInfo;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The stage's sampling plus a plain count of the frames it measured, for figures that do not
// depend on how the samples are averaged. The process's CPU time per frame is the figure least
// disturbed by other work on a shared machine: with a software renderer the whole frame is
// CPU work of this process (its rasteriser threads included).
class CountingStage : public GpuBenchmark {
public:
    using GpuBenchmark::GpuBenchmark;
    void update() override {
        const bool wasMeasuring = measuring;
        GpuBenchmark::update();
        if (!measuring) return;
        const double now = glfwGetTime();
        const double cpu = processCpuSeconds();
        if (!wasMeasuring) {
            firstTime = now;
            firstCpu = cpu;
        } else {
            ++frames;
            lastTime = now;
            lastCpu = cpu;
        }
    }
    double framesPerSecond() const { return lastTime > firstTime ? frames / (lastTime - firstTime) : 0; }
    double cpuMillisecondsPerFrame() const { return frames ? (lastCpu - firstCpu) * 1000 / frames : 0; }

    double firstTime = 0, lastTime = 0;
    double firstCpu = 0, lastCpu = 0;
    std::uint64_t frames = 0;
};

struct Figures {
    double sampledMean = 0;  // what the stage reports, before truncation
    double overall = 0;      // frames measured / seconds measured
    double cpuPerFrame = 0;  // milliseconds of process CPU time per frame
    std::size_t samples = 0;
};

Figures figuresOf(const CountingStage& stage) {
    return {frameRateStats(stage.samples).average, stage.framesPerSecond(), stage.cpuMillisecondsPerFrame(),
            stage.samples.size()};
}

double ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

Figures runStage(const Scene& scene, std::int64_t seconds) {
    std::shared_ptr<CountingStage> stage;
    Application app(
        [&] {
            stage = std::make_shared<CountingStage>(sceneShader(scene.key), seconds, scene.title, 1);
            return StageQueue{stage};
        },
        nullptr);
    app.mainLoop();
    return figuresOf(*stage);
}

std::string rendererName;

// The same program on the same quad, full-screen, swap interval 0, with nothing else per frame
// but the clear, the "inTime" uniform, the swap and the event poll.
Figures runBare(const Scene& scene, std::int64_t seconds) {
    if (!glfwInit()) {
        std::fprintf(stderr, "frame_loop: cannot initialise GLFW\n");
        std::exit(1);
    }
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    GLFWwindow* window = mode ? glfwCreateWindow(mode->width, mode->height, "bare loop", monitor, nullptr) : nullptr;
    if (!window) {
        std::fprintf(stderr, "frame_loop: cannot create the window\n");
        std::exit(1);
    }
    glfwMakeContextCurrent(window);
    gladLoadGL(glfwGetProcAddress);
    rendererName = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    glfwSwapInterval(0);

    Figures figures;
    {
        auto program = buildShaderProgram(sceneShader(scene.key), modelVertexShader);
        auto quad = makeQuadModel(program);
        const GLint inTime = glGetUniformLocation(program->handle, "inTime");
        const Mesh& mesh = quad->meshes.front();
        // A stage that never builds anything: only its clocks and sampling are used.
        CountingStage sampler("", seconds, scene.title, 1);
        sampler.startClocks();
        const auto start = std::chrono::steady_clock::now();
        StageResults ignored;
        while (!sampler.isFinished(ignored)) {
            glViewport(0, 0, mode->width, mode->height);
            glClearColor(0.09f, 0.09f, 0.09f, 1.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glUseProgram(program->handle);
            const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
            glUniform1f(inTime, static_cast<float>(t.count()));
            glBindVertexArray(mesh.vao);
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh.indices.size()), GL_UNSIGNED_INT, nullptr);
            glfwSwapBuffers(window);
            sampler.update();
            glfwPollEvents();
        }
        figures = figuresOf(sampler);
    }
    glfwDestroyWindow(window);
    glfwTerminate();
    return figures;
}

// On stdout with exit 0 when asked for, else on stderr with exit 2.
[[noreturn]] void usage(bool asked = false) {
    std::fputs("usage: frame_loop [--seconds N] [--scenes flux_core,electron,city,clouds] [--rounds R]\n"
               "Frame rate of each GPU scene in the real shell against a bare GL loop of the same size.\n"
               "  --seconds  measured duration of each run, whole seconds >= 2 (default: the scene's own)\n"
               "  --scenes   the scenes to run, comma-separated (default: all four)\n"
               "  --rounds   stage and bare runs alternate this many times per scene (default 1)\n"
               "The resolution is the screen's; under Xvfb set it with -s \"-screen 0 WxHx24\".\n",
               asked ? stdout : stderr);
    std::exit(asked ? 0 : 2);
}

}  // namespace

int main(int argc, char** argv) {
    std::int64_t seconds = 0;
    int rounds = 1;
    std::string selection;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") usage(true);
        if (i + 1 >= argc) usage();
        if (arg == "--seconds") seconds = std::atoll(argv[++i]);
        else if (arg == "--rounds") rounds = std::atoi(argv[++i]);
        else if (arg == "--scenes") selection = "," + std::string(argv[++i]) + ",";
        else usage();
    }
    if ((seconds != 0 && seconds < 2) || rounds < 1) usage();

    std::vector<const Scene*> scenes;
    for (const Scene& s : kScenes)
        if (selection.empty() || selection.find("," + std::string(s.key) + ",") != std::string::npos) scenes.push_back(&s);
    if (scenes.empty()) usage();

    std::vector<std::string> lines;
    for (const Scene* scene : scenes) {
        const std::int64_t duration = seconds ? seconds : scene->durationSeconds;
        for (int round = 1; round <= rounds; ++round) {
            const Figures stage = runStage(*scene, duration);
            const Figures bare = runBare(*scene, duration);
            char line[256];
            std::snprintf(line, sizeof line, "%-10s %5d | %8.2f %8.2f %6.3f | %8.2f %8.2f %6.3f | %8.2f %8.2f %6.3f | %6zu %6zu",
                          scene->title, round, stage.sampledMean, bare.sampledMean,
                          ratio(stage.sampledMean, bare.sampledMean), stage.overall, bare.overall,
                          ratio(stage.overall, bare.overall), stage.cpuPerFrame, bare.cpuPerFrame,
                          ratio(bare.cpuPerFrame, stage.cpuPerFrame), stage.samples, bare.samples);
            lines.push_back(line);
            std::fprintf(stderr, "%s\n", line);  // progress while the runs go on
        }
    }

    std::printf("frame_loop: %dx%d, renderer %s, %s per run, vsync off, 1 s warm-up\n", monitorWidth, monitorHeight,
                rendererName.c_str(), seconds ? (std::to_string(seconds) + " s").c_str() : "scene duration");
    std::printf("%-16s | %-24s | %-24s | %-24s | %s\n", "", "mean of samples, fps", "frames / seconds",
                "CPU ms / frame", "samples");
    std::printf("%-10s %5s | %8s %8s %6s | %8s %8s %6s | %8s %8s %6s | %6s %6s\n", "scene", "round", "stage", "bare",
                "ratio", "stage", "bare", "ratio", "stage", "bare", "ratio", "stage", "bare");
    std::printf("(each ratio is stage / bare as a frame rate: for CPU time, bare ms / stage ms)\n");
    for (const auto& line : lines) std::printf("%s\n", line.c_str());
    return 0;
}
