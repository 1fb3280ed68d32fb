// Child processes for the fork and multi-process tests: started with a body
// whose result is the exit code, waited for with a limit so that a hung child
// fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace krtest {

// Forks; the child runs body and ends with _exit(its result). -1 when fork failed.
inline pid_t StartChild(const std::function<int()>& body)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

// The child's exit code; -1 when it had not ended within the limit (it is
// killed, and the test fails), -2 when it ended otherwise.
inline int WaitForChild(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(60))
{
    if (pid <= 0) return -1;
    int status = 0;
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > giveUp) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "child " << pid << " hung";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

inline int RunInChild(const std::function<int()>& body, std::chrono::seconds limit = std::chrono::seconds(60))
{
    return WaitForChild(StartChild(body), limit);
}

}  // namespace krtest
