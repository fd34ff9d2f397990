#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Starts a program found on PATH with the given arguments, never through a shell.
pid_t spawnProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

}  // namespace

void fatalError(const std::string& text) {
    std::fprintf(stderr, "Error: %s\n", text.c_str());
    std::fflush(stderr);
    if (haveDisplay()) {
        // The first dialog program that exists gets the message; a missing one fails to spawn.
        const std::vector<std::vector<std::string>> dialogs = {
            {"zenity", "--error", "--no-markup", "--title=Error", "--text=" + text},
            {"kdialog", "--title", "Error", "--error", text},
            {"xmessage", "-center", "-title", "Error", text},
        };
        for (const auto& args : dialogs) {
            pid_t pid = spawnProgram(args);
            if (pid > 0) {
                waitExit(pid);
                break;
            }
        }
    }
    std::exit(1);
}

bool openUrl(const std::string& url) {
    pid_t pid = spawnProgram({"xdg-open", url});
    if (pid <= 0) return false;
    // xdg-open normally hands the address over and exits; on a bare X session it may run
    // the browser in the foreground, so stop waiting after a while and leave it running.
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0 && errno != EINTR) return false;
        struct timespec ts {0, 100'000'000};
        nanosleep(&ts, nullptr);
    }
    return true;
}

void raiseProcessPriority() {
    // Unprivileged users may not raise priority; running at normal priority is fine.
    (void)setpriority(PRIO_PROCESS, 0, -10);
}

bool waitPrecise(std::chrono::nanoseconds duration) {
    struct timespec deadline {};
    if (clock_gettime(CLOCK_MONOTONIC, &deadline) != 0) return false;
    const long long total = static_cast<long long>(deadline.tv_nsec) + duration.count() % 1'000'000'000LL;
    deadline.tv_sec += static_cast<time_t>(duration.count() / 1'000'000'000LL + total / 1'000'000'000LL);
    deadline.tv_nsec = static_cast<long>(total % 1'000'000'000LL);
    for (;;) {
        int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        if (rc == 0) return true;
        if (rc != EINTR) return false;
    }
}
