#include "shell/Application.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include "shell/Gui.h"
#include "shell/Input.h"
#include "shell/RunProgress.h"
#include "shell/TitleBar.h"
#include "assets/assets.h"
#include "core/globals.h"
#include "platform/platform.h"

void onFocusChanged(GLFWwindow* window, int focused) {
    if (!focused) {
        glfwRestoreWindow(window);
        glfwFocusWindow(window);
    }
}

Application::Application(const StageFactory& makeStages, FinishAction finishAction)
    : finish(std::move(finishAction)) {
    if (!glfwInit()) fatalError("Cannot load GLFW!");

    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_SCALE_TO_MONITOR, GLFW_TRUE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    // The X window class the desktop entry's StartupWMClass names (ignored elsewhere).
    glfwWindowHintString(GLFW_X11_CLASS_NAME, "tallyforge-benchmark");
    glfwWindowHintString(GLFW_X11_INSTANCE_NAME, "tallyforge-benchmark");

    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    if (!monitor) fatalError("Cannot get primary monitor!");
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    if (!mode) fatalError("Cannot get video mode!");
    monitorWidth = mode->width;
    monitorHeight = mode->height;
    if (mode->refreshRate > 0) refreshRate = mode->refreshRate;

    window = glfwCreateWindow(monitorWidth, monitorHeight, "Tallyforge Benchmark", monitor, nullptr);
    if (!window) fatalError("Cannot create window!");

    float scaleY = 1.0f;
    glfwGetWindowContentScale(window, &contentScaleX, &scaleY);
    glfwMakeContextCurrent(window);
    glfwSetWindowFocusCallback(window, onFocusChanged);
    installInputCallbacks(window);  // before the GUI backend, which chains to them

    if (gladLoadGL(glfwGetProcAddress) == 0) fatalError("ERROR: Cannot load OpenGL extensions!");

    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;

    // The atlas takes ownership of the block and frees it with its own allocator.
    void* fontData = ImGui::MemAlloc(uiFontSize);
    std::memcpy(fontData, uiFont, uiFontSize);
    io.Fonts->AddFontFromMemoryTTF(fontData, static_cast<int>(uiFontSize), 18.0f * contentScaleX);

    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 0.0f;
    style.WindowBorderSize = 0.0f;
    style.ScrollbarRounding = 0.0f;
    style.TabRounding = 0.0f;
    style.Colors[ImGuiCol_WindowBg].w = 0.85f;
    style.Colors[ImGuiCol_PlotHistogram] = ImVec4(0.086f, 0.686f, 0.965f, 1.0f);
    // Paddings, spacings and frames grow with the font; at scale 1 the style stays untouched.
    if (contentScaleX != 1.0f) style.ScaleAllSizes(contentScaleX);

    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init(nullptr);

    stages = makeStages();
    stepCount = stages.size();
}

Application::~Application() {
    // Stages own GL objects; release them while the context is still current.
    stages.clear();
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwDestroyWindow(window);
    glfwTerminate();
}

void Application::applySwapInterval(Stage& stage) { glfwSwapInterval(stage.wantsVsync() ? 1 : 0); }

void Application::mainLoop() {
    StageResults results;
    if (stages.empty()) return;
    std::shared_ptr<Stage> head = stages.front();
    head->start();
    applySwapInterval(*head);

    while (!glfwWindowShouldClose(window)) {
        const double frameStart = glfwGetTime();
        renderFrame();
        head->update();
        if (head->isFinished(results)) {
            if (stages.size() == 1) {
                renderFrame();
                if (finish) finish(results);
                break;
            }
            stages.pop_front();
            head = stages.front();
            applySwapInterval(*head);
            head->start();
        }
        waitForNextFrame(*head, frameStart);
    }
}

// The swap interval alone does not pace the loop wherever it is not honoured (a driver set
// to "vsync off", a software renderer, a virtual display), and then an interface drawing as
// fast as it can takes processor time from the CPU test it shows. So stages that want
// vertical sync are paced here too; the GPU stages, which are what is measured, never are.
void Application::waitForNextFrame(Stage& head, double frameStart) {
    if (!head.wantsVsync() || glfwWindowShouldClose(window)) {
        glfwPollEvents();
        return;
    }
    const double stageRate = head.maxFrameRate() > 0 ? head.maxFrameRate() : refreshRate;
    const double rate = followUps.next() ? std::max(stageRate, refreshRate) : stageRate;
    const double deadline = frameStart + 1.0 / rate;
    const double before = glfwGetTime();
    if (before < deadline) {
        glfwWaitEventsTimeout(deadline - before);
        if (glfwGetTime() < deadline - 0.001) followUps.wokenEarly();
    } else {
        glfwPollEvents();
    }
    followUps.afterWait();
}

void Application::updateRunProgress(Stage& head) {
    const double now = glfwGetTime();
    if (&head != progressHead) {
        progressHead = &head;
        progressHeadSince = now;
    }
    double left = std::max(0.0, head.expectedSeconds - (now - progressHeadSince));
    for (std::size_t i = 1; i < stages.size(); ++i) left += stages[i]->expectedSeconds;
    head.runProgress = runProgressText(stepCount - stages.size() + 1, stepCount, left);
}

void Application::renderFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    latchFrameKeys();

    // Keys answer the popup that was open when the frame began, so one press never both
    // opens a popup and answers it; Esc in a stage's popup is that popup's.
    const bool popupWasOpen = anyPopupOpen();

    std::shared_ptr<Stage> head = stages.front();
    updateRunProgress(*head);
    head->drawGui();

    if (drawTitleBar(frameKeys(), popupWasOpen)) {
        head->abort();
        glfwSetWindowShouldClose(window, GLFW_TRUE);
    }

    ImGui::Render();
    glViewport(0, 0, monitorWidth, monitorHeight);
    glClearColor(0.09f, 0.09f, 0.09f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    head->drawScene();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
}
