// Helpers shared by the tests: scratch folders, whole-file reads, a watchdog.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace krtest {

// A fresh folder under the system's temporary folder, removed with its content.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> List() const;
    // How often each line stands in the folder's files, all counted together.
    std::map<std::string, int> LineCounts() const;

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::vector<std::string> SplitLines(const std::string& text);
// File permission bits (e.g. 0600), or -1 when the file is missing.
int FileMode(const std::string& path);

// Runs body on another thread and fails the test (instead of hanging) when it
// has not finished within the limit. Returns true when it finished.
bool FinishesWithin(std::chrono::milliseconds limit, const std::function<void()>& body);

// Waits (up to a minute) until count reaches target and fails the test if it
// does not. Concurrency tests call it before they start disturbing the worker
// threads: under a sanitizer on a loaded machine the workers may not have run
// at all yet, and the race under test would never happen.
void WaitUntilCountReaches(const std::atomic<int>& count, int target);

}  // namespace krtest
