#include "platform/platform.h"

#include <cstdlib>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

// Older SDK headers (mingw-w64 10) lack the flag; Windows 10 1803 and later know it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

void fatalError(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    std::exit(1);
}

bool openUrl(const std::string& url) {
    HINSTANCE result = ShellExecuteA(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOW);
    // Values above 32 mean the shell accepted the request.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

void raiseProcessPriority() {
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
}

namespace {

// A manual-reset timer; high resolution where the system offers it, since the plain
// timer follows the scheduler tick (up to 15.6 ms late).
HANDLE createWaitTimer() {
    HANDLE timer = CreateWaitableTimerExW(
        nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET | CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
        TIMER_ALL_ACCESS);
    if (timer == nullptr) timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    return timer;
}

}  // namespace

bool waitPrecise(std::chrono::nanoseconds duration) {
    if (duration.count() <= 0) return true;
    HANDLE timer = createWaitTimer();
    if (timer == nullptr) return false;
    // Relative due times are negative, in 100-nanosecond units; round up so the wait is
    // never shorter than asked.
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>((duration.count() + 99) / 100);
    bool ok = SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) != 0 &&
              WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(timer);
    return ok;
}
