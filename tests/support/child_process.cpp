#include "tests/support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/leak_check.h"
#include "sim/notebook.h"
#include "sim/vkernel.h"

namespace qxtest {

ChildResult RunInChild(const std::function<void()>& body, int timeout_seconds) {
    ChildResult result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    std::fflush(nullptr);
    // The host threads of earlier virtual threads end just after their
    // virtual thread: let them go first, so that the child is forked from a
    // process of one thread (ThreadSanitizer refuses new threads otherwise).
    for (int i = 0; i < 2000 && qxsim::Kernel::HostThreadsRunning() > 0; i++) {
        usleep(1000);
    }
    usleep(2000);
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        body();
        std::fflush(nullptr);
        // A body that returns leaves like ExitProcess(0): leaks fail it too.
        _exit(qxsim::ExitCodeAfterLeakCheck(0));
    }
    close(fds[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    char buf[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        result.out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

ChildResult RunOnFreshNotebook(const std::function<void()>& body) {
    ChildResult result;
    qxsim::Notebook& notebook = qxsim::Notebook::Current();
    notebook.Reset();
    std::fflush(nullptr);
    FILE* capture = std::tmpfile();
    const int saved = dup(1);
    if (capture == nullptr || saved < 0) {
        if (capture != nullptr) std::fclose(capture);
        if (saved >= 0) close(saved);
        return result;
    }
    dup2(fileno(capture), 1);
    body();
    std::fflush(nullptr);
    dup2(saved, 1);
    close(saved);
    result.exit_code = 0;
    const std::vector<std::string> left = notebook.Kernel().RunningThreads();
    if (!left.empty()) {
        std::fprintf(stderr, "virtual threads still running after the scenario:");
        for (const auto& name : left) std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        result.exit_code = 3;
    }
    std::rewind(capture);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, capture)) > 0;) result.out.append(buf, n);
    std::fclose(capture);
    // Leaves no reference into this scenario's notebook behind.
    if (left.empty()) notebook.Reset();
    return result;
}

std::string RunRowOnFreshNotebook(const std::function<std::string()>& body) {
    ChildResult r = RunOnFreshNotebook([&] {
        const std::string out = body();
        Print("%s", out.c_str());
    });
    return r.exit_code == 0 ? r.out : "exit " + std::to_string(r.exit_code) + ": " + r.out;
}

}  // namespace qxtest

#include <cstdarg>

namespace qxtest {
void Print(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n > 0) {
        ssize_t ignored = write(1, buf, static_cast<size_t>(n) < sizeof buf ? n : sizeof buf - 1);
        (void)ignored;
    }
}
}  // namespace qxtest
