// Shared by the crash tests: the child program's scenarios are started as
// separate processes and watched; what they left behind is read back.
#pragma once

#include "testsupport/TestFiles.h"

#include <chrono>
#include <string>
#include <vector>

namespace krtest {

constexpr char kChildFlag[] = "--crash-child";
constexpr int kInMemoryLines = 50;
constexpr int kDeepFrames = 100;
constexpr int kVeryDeepFrames = 5000;

constexpr int kRingLinesBeforeCrash = 20000;
inline std::string RingLine(int i) { return "ring line " + std::to_string(i) + "\n"; }
inline std::string InMemoryLine(int i) { return "in-memory trace line " + std::to_string(i) + "\n"; }

struct CrashRun {
    bool finished = false;   // false: killed by the watchdog
    int status = 0;          // as waitpid gives it
    std::string out, err;    // the child's standard output and error
    double seconds = 0;      // from start to end
    int pid = 0;

    bool Signalled(int signal) const;
    std::string Describe() const;  // for failure messages
};

// Runs this test program as "--crash-child scenario folder" with its output
// in the folder; a child that has not ended within the limit is killed.
CrashRun RunCrashScenario(const std::string& scenario, const std::string& folder,
                          std::chrono::seconds limit = std::chrono::seconds(60));

// The content of the one file in folder whose name starts with prefix; fails
// the test (and gives "") when there is none or more than one. name gets the
// file's name.
std::string ReadOnlyFileStartingWith(const ScratchDir& folder, const std::string& prefix, std::string* name = nullptr);
bool AnyFileStartsWith(const ScratchDir& folder, const std::string& prefix);

// "<prefix>_<pid>__<yyyymmdd>_<hhmmss>.txt", the names of the crash files.
bool IsCrashFileName(const std::string& name, const std::string& prefix, int pid);

// One line of a stack listing: "<name>()-[0x<START>] - <image path>...".
struct ListedFrame {
    std::string name;
    unsigned long long start = 0;
    std::string image;
};
// The lines of a listing; a line that does not have the form fails the test.
std::vector<ListedFrame> ParseListing(const std::string& listing);

// The value printed by the child as "<key>=0x..." on its standard output.
unsigned long long PrintedAddress(const CrashRun& run, const std::string& key);

}  // namespace krtest
