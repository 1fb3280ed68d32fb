// Running crash scenarios in child processes and reading what they left.
#include "CrashTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <cctype>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace krtest {

namespace {

std::string SelfPath()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace

bool CrashRun::Signalled(int signal) const { return finished && WIFSIGNALED(status) && WTERMSIG(status) == signal; }

std::string CrashRun::Describe() const
{
    std::string text = !finished            ? "killed by the watchdog"
                       : WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                             : "exited with " + std::to_string(WEXITSTATUS(status));
    return text + "\n--- stdout:\n" + out + "\n--- stderr:\n" + err;
}

CrashRun RunCrashScenario(const std::string& scenario, const std::string& folder, std::chrono::seconds limit)
{
    CrashRun run;
    const std::string self = SelfPath();
    const std::string outPath = folder + "/child.stdout", errPath = folder + "/child.stderr";
    // The sanitizers' own fault handlers would report the crash and exit
    // instead of letting it through. Everything the child needs is made
    // before the fork: it only redirects its output and starts the program.
    const std::string quiet = "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
                              "detect_leaks=0:allow_user_segv_handler=1";
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (text.rfind("ASAN_OPTIONS=", 0) != 0 && text.rfind("TSAN_OPTIONS=", 0) != 0 &&
            text.rfind("UBSAN_OPTIONS=", 0) != 0)
            environment.push_back(text);
    }
    for (const char* name : {"ASAN_OPTIONS=", "TSAN_OPTIONS=", "UBSAN_OPTIONS="}) environment.push_back(name + quiet);
    std::vector<char*> envp;
    for (std::string& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    const std::string childFlag = kChildFlag;
    std::vector<char*> argv = {const_cast<char*>(self.c_str()), const_cast<char*>(childFlag.c_str()),
                               const_cast<char*>(scenario.c_str()), const_cast<char*>(folder.c_str()), nullptr};

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execve(self.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return run;
    }
    run.pid = child;
    while (std::chrono::steady_clock::now() - start < limit) {
        const pid_t done = waitpid(child, &run.status, WNOHANG);
        if (done == child) {
            run.finished = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!run.finished) {
        kill(child, SIGKILL);
        waitpid(child, &run.status, 0);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

std::string ReadOnlyFileStartingWith(const ScratchDir& folder, const std::string& prefix, std::string* name)
{
    std::vector<std::string> found;
    for (const std::string& entry : folder.List()) {
        if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
    }
    if (found.size() != 1) {
        ADD_FAILURE() << found.size() << " files start with " << prefix;
        return "";
    }
    if (name) *name = found[0];
    return ReadFile(folder.File(found[0]));
}

bool AnyFileStartsWith(const ScratchDir& folder, const std::string& prefix)
{
    for (const std::string& entry : folder.List()) {
        if (entry.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool IsCrashFileName(const std::string& name, const std::string& prefix, int pid)
{
    const std::string start = prefix + "_" + std::to_string(pid) + "__";
    if (name.rfind(start, 0) != 0) return false;
    const std::string stamp = name.substr(start.size());  // yyyymmdd_hhmmss.txt
    if (stamp.size() != 19 || stamp[8] != '_' || stamp.substr(15) != ".txt") return false;
    for (size_t i = 0; i < 15; ++i) {
        if (i != 8 && !std::isdigit(static_cast<unsigned char>(stamp[i]))) return false;
    }
    return true;
}

std::vector<ListedFrame> ParseListing(const std::string& listing)
{
    std::vector<ListedFrame> frames;
    for (const std::string& text : SplitLines(listing)) {
        // <name>()-[0x<HEX>] - /<image path>
        const size_t open = text.find("()-[0x");
        const size_t close = text.find("] - /", open);
        bool good = open != std::string::npos && open > 0 && close != std::string::npos && close > open + 6 &&
                    text.find_first_of(" \t()") >= open;
        for (size_t i = open + 6; good && i < close; ++i) {
            good = std::isdigit(static_cast<unsigned char>(text[i])) || (text[i] >= 'A' && text[i] <= 'F');
        }
        if (!good) {
            ADD_FAILURE() << "not a listing line: '" << text << "'";
            continue;
        }
        frames.push_back({text.substr(0, open), std::stoull(text.substr(open + 6, close - open - 6), nullptr, 16),
                          text.substr(close + 4)});
    }
    return frames;
}

unsigned long long PrintedAddress(const CrashRun& run, const std::string& key)
{
    const size_t at = run.out.find(key + "=0x");
    return at == std::string::npos ? 0 : std::stoull(run.out.substr(at + key.size() + 3), nullptr, 16);
}

}  // namespace krtest
