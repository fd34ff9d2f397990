#include "shell/Application.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include "shell/Gui.h"
#include "shell/RunProgress.h"
#include "assets/assets.h"
#include "core/globals.h"
#include "platform/platform.h"

namespace {

constexpr int kFollowUpFrames = 3;

// Set by the input callbacks, which the GUI backend calls before its own; read and cleared
// by the frame pacing. Main thread only.
bool inputSeen = false;

void onMouseButton(GLFWwindow*, int, int, int) { inputSeen = true; }
void onScroll(GLFWwindow*, double, double) { inputSeen = true; }
void onChar(GLFWwindow*, unsigned int) { inputSeen = true; }

// The GUI keeps only whether a key is down when a frame begins, which loses a press and
// release that fall between two frames; the window's key events count every press.
FrameKeys pendingKeys;
FrameKeys currentKeys;

void onKey(GLFWwindow*, int key, int, int action, int) {
    inputSeen = true;
    if (action != GLFW_PRESS) return;
    if (key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER) pendingKeys.enter = true;
    if (key == GLFW_KEY_ESCAPE) pendingKeys.escape = true;
}

}  // namespace

const FrameKeys& frameKeys() { return currentKeys; }

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
    // Set before the GUI backend, which keeps them and calls them from its own.
    glfwSetMouseButtonCallback(window, onMouseButton);
    glfwSetScrollCallback(window, onScroll);
    glfwSetKeyCallback(window, onKey);
    glfwSetCharCallback(window, onChar);

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
    // After input the interface may need a few more frames to show its answer (a popup
    // appears the frame after it opens and is sized on the next), so those come quickly.
    const double rate = followUpFrames > 0 ? std::max(stageRate, refreshRate) : stageRate;
    if (followUpFrames > 0) --followUpFrames;
    const double deadline = frameStart + 1.0 / rate;
    const double before = glfwGetTime();
    if (before < deadline) {
        glfwWaitEventsTimeout(deadline - before);
        // Woken before the deadline, by a stage that has something new to show: a window
        // that sizes itself to new text takes its size a frame later, so one more follows.
        if (glfwGetTime() < deadline - 0.001) followUpFrames = std::max(followUpFrames, 1);
    } else {
        glfwPollEvents();
    }
    if (inputSeen) followUpFrames = kFollowUpFrames;
    inputSeen = false;
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
    currentKeys = std::exchange(pendingKeys, FrameKeys{});

    // Keys answer the popup that was open when the frame began, so one press never both
    // opens a popup and answers it; Esc in a stage's popup is that popup's.
    const bool enter = enterPressed();
    const bool escape = escapePressed();
    const bool popupWasOpen = anyPopupOpen();
    bool quitWasOpen = false;

    std::shared_ptr<Stage> head = stages.front();
    updateRunProgress(*head);
    head->drawGui();

    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(monitorWidth), scaled(36.0f)), ImGuiCond_Always);
    if (ImGui::Begin("Title", nullptr, kFixedWindowFlags)) {
        quitWasOpen = ImGui::IsPopupOpen("Quit?");
        ImGui::Text("%s", "Tallyforge Benchmark");
        ImGui::SameLine(static_cast<float>(monitorWidth) - scaled(25.0f), -1.0f);
        ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, IM_COL32(255, 64, 84, 255));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, IM_COL32(255, 44, 66, 255));
        if (ImGui::Button("X", ImVec2(0, 0)) || (escape && !popupWasOpen)) ImGui::OpenPopup("Quit?");
        ImGui::PopStyleColor(3);
    }
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, scaled(20, 20));
    if (ImGui::BeginPopupModal("Quit?", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::Text("Are you sure you want to quit? The benchmark will close without a result.");
        ImGui::Dummy(scaled(0, 10));
        if (ImGui::Button("Quit", ImVec2(0, 0)) || (quitWasOpen && enter)) {
            stages.front()->abort();
            glfwSetWindowShouldClose(window, GLFW_TRUE);
        }
        ImGui::SameLine(0.0f, -1.0f);
        if (ImGui::Button("Cancel", ImVec2(0, 0)) || (quitWasOpen && escape)) ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
    }
    ImGui::PopStyleVar(1);
    ImGui::End();

    ImGui::Render();
    glViewport(0, 0, monitorWidth, monitorHeight);
    glClearColor(0.09f, 0.09f, 0.09f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    head->drawScene();
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
}
