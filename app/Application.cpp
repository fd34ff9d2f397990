#include "app/Application.h"

#include <cstring>

#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl3.h>

#include "app/Gui.h"
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

    window = glfwCreateWindow(monitorWidth, monitorHeight, "Tallyforge Benchmark", monitor, nullptr);
    if (!window) fatalError("Cannot create window!");

    float scaleY = 1.0f;
    glfwGetWindowContentScale(window, &contentScaleX, &scaleY);
    glfwMakeContextCurrent(window);
    glfwSetWindowFocusCallback(window, onFocusChanged);

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

    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL3_Init(nullptr);

    stages = makeStages();
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
        glfwPollEvents();
    }
}

void Application::renderFrame() {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();

    std::shared_ptr<Stage> head = stages.front();
    head->drawGui();

    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(static_cast<float>(monitorWidth), 36.0f), ImGuiCond_Always);
    if (ImGui::Begin("Title", nullptr, kFixedWindowFlags)) {
        ImGui::Text("%s", "Tallyforge Benchmark");
        ImGui::SameLine(static_cast<float>(monitorWidth - 25), -1.0f);
        ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, IM_COL32(255, 64, 84, 255));
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, IM_COL32(255, 44, 66, 255));
        if (ImGui::Button("X", ImVec2(0, 0))) ImGui::OpenPopup("Quit?");
        ImGui::PopStyleColor(3);
    }
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(20, 20));
    if (ImGui::BeginPopupModal("Quit?", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::Text("Are you sure you want to quit? The benchmark will close without a result.");
        ImGui::Dummy(ImVec2(0, 10));
        if (ImGui::Button("Quit", ImVec2(0, 0))) {
            stages.front()->abort();
            glfwSetWindowShouldClose(window, GLFW_TRUE);
        }
        ImGui::SameLine(0.0f, -1.0f);
        if (ImGui::Button("Cancel", ImVec2(0, 0))) ImGui::CloseCurrentPopup();
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
