// fatalError's message box and openUrl's hand-over to the shell, seen from outside: the
// box is found among the child's windows, and Wine's browser launcher runs a stand-in
// xdg-open that run-wine-tests puts first on the path.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

namespace {

struct Box {
    HWND dialog = nullptr;
    std::string caption;
    std::vector<std::string> texts;    // static controls
    std::vector<HWND> buttons;
    std::vector<std::string> buttonTexts;
};

std::string windowText(HWND w) {
    char text[512] = {};
    GetWindowTextA(w, text, sizeof text);
    return text;
}

std::string className(HWND w) {
    char name[64] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

// The dialog window of the process, if it shows one.
HWND findDialog(DWORD pid) {
    struct Search { DWORD pid; HWND found; } search{pid, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == s->pid && IsWindowVisible(w) && className(w) == "#32770") {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Box readBox(HWND dialog) {
    Box box;
    box.dialog = dialog;
    box.caption = windowText(dialog);
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM p) -> BOOL {
            auto* b = reinterpret_cast<Box*>(p);
            const std::string cls = className(w);
            if (_stricmp(cls.c_str(), "Button") == 0 && IsWindowVisible(w)) {
                b->buttons.push_back(w);
                b->buttonTexts.push_back(windowText(w));
            } else if (_stricmp(cls.c_str(), "Static") == 0 && !windowText(w).empty()) {
                b->texts.push_back(windowText(w));
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&box));
    return box;
}

std::string childPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    return p.substr(0, p.find_last_of("\\/") + 1) + "tallyforge_fatal_error_child.exe";
}

}  // namespace

TEST(FatalError, ShowsAnErrorBoxWithOneButtonThenExitsWithCodeOne) {
    const std::string message = "Cannot create window!";
    std::string command = "\"" + childPath() + "\" \"" + message + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));

    HWND dialog = nullptr;
    for (int i = 0; i < 300 && !dialog; ++i) {
        // The box stays until it is answered: the process must still be there.
        ASSERT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        dialog = findDialog(pi.dwProcessId);
        if (!dialog) Sleep(100);
    }
    ASSERT_NE(dialog, nullptr) << "no message box appeared";
    const Box box = readBox(dialog);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_NE(std::find(box.texts.begin(), box.texts.end(), message), box.texts.end());
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttonTexts[0], "OK");

    PostMessageA(box.buttons[0], BM_CLICK, 0, 0);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

TEST(OpenUrl, HandsTheAddressUnchangedToTheDefaultBrowser) {
    const char* record = std::getenv("TALLYFORGE_TEST_OPENED_FILE");
    if (!record || !*record) GTEST_SKIP() << "no browser stand-in: run through tests/windows/run-wine-tests";
    DeleteFileA(record);
    const std::string url = "https://localhost:9443/benchmarks/abc123?x=1&y=%20z";
    ASSERT_TRUE(openUrl(url));
    std::string opened;
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(record);
        opened.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!opened.empty() && opened.back() == '\n') break;
        Sleep(100);
    }
    EXPECT_EQ(opened, url + "\n");
}
