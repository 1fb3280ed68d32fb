// A host program of the logging library: it attaches the console, a rolling
// error log and an audit log to the process-wide logger, switches on a file
// trace and the in-memory trace from the shipped configuration file
// (krerrlog_demo_trace.cfg), logs and traces from several threads for a few
// seconds, and then shows what it wrote.
//
//   krerrlog_demo <output folder>
#include <krerrlog/krerrlog.h>

#include "component/KrDemoServerMessages.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 10000;
constexpr int kBatch = 40;                 // lines between two pauses
constexpr int kPauseMs = 12;               // about three seconds in all
constexpr int kAuditEvery = 20;            // one audit line per so many error lines
constexpr int kErrorLogMegabytes = 1;
constexpr int kErrorLogBackups = 5;

// One line through the process-wide logger's error log.
void Say(CKrLogger& logger, const std::string& text)
{
    CKrErrLogMessage message;
    message.FormatLogProlog(__FILE__, __LINE__, 0);
    message.FormatLogMessage(demo::kPlainText, text.c_str());
    logger.LogErrMsg(message);
}

// A translated line: the component's key, its text in the administrator's locale.
template <typename... Args>
void SayTranslated(CKrLogger& logger, CKrErrLogMessage& message, unsigned int id, const Args&... args)
{
    message.FormatLogProlog(__FILE__, __LINE__, 0);
    message.ClearArguments();
    (message.AddArgument(args), ...);
    message.FormatMessageA(id);
    logger.LogErrMsg(message);
}

// ---- Traced functions ----
// The configuration traces the two sub-components, not the server itself, and
// drops calls for the realm "partners" from the file trace.
constexpr unsigned int kTraceSessions = KrMakeComponentId(demo::kServerComponent, 1);  // Server/Sessions
constexpr unsigned int kTracePolicy = KrMakeComponentId(demo::kServerComponent, 2);    // Server/Policy
constexpr unsigned int kTraceServer = KrMakeComponentId(demo::kServerComponent);       // Server
constexpr const char* kPartners = "partners";
constexpr int kPolicyEvery = 4;
std::atomic<int> g_expectedSessionLines{0};
std::atomic<int> g_expectedPolicyLines{0};

void LookUpSession(const std::string& user, const char* realm, int i)
{
    KR_TRACE_SCOPE(trace, kTraceSessions);
    trace.Set(9u, user.c_str()).Set(12u, realm).Set(46u, 500 + i % 700).Msg("session %s found", i);
}

void CheckPolicy(const char* realm, int i)
{
    KR_TRACE_SCOPE(trace, kTracePolicy);
    trace.Set(12u, realm).Msg("rule %s of policy %s allowed", i % 17, "payroll");
}

void ServeRequest(int i)
{
    KR_TRACE_SCOPE(trace, kTraceServer);  // not selected: nothing is written
    trace.Msg("request %s", i);
}

void TracedWork(int worker, int i)
{
    static const char* const kRealms[] = {"corp", kPartners, "admin"};
    const char* realm = kRealms[i % 3];
    const std::string user = "demo" + std::to_string(worker);
    const bool dropped = std::strcmp(realm, kPartners) == 0;
    ServeRequest(i);
    LookUpSession(user, realm, i);
    if (!dropped) g_expectedSessionLines.fetch_add(1, std::memory_order_relaxed);
    if (i % kPolicyEvery == 0) {
        CheckPolicy(realm, i);
        if (!dropped) g_expectedPolicyLines.fetch_add(1, std::memory_order_relaxed);
    }
}

// The trace file and the in-memory trace, both from the shipped configuration.
bool StartTracing(CKrLogger& logger, const fs::path& folder)
{
    std::error_code error;
    const fs::path config = fs::read_symlink("/proc/self/exe", error).parent_path() / "krerrlog_demo_trace.cfg";
    const std::string traceLog = (folder / "trace.log").string();
    CKrLogOutput* file = logger.NewLogOutput(1, traceLog.c_str(), 3, 4, 3);
    if (!file || !logger.EnableTrace(file, 2, "|", config.c_str(), true, false, false)) {
        std::fprintf(stderr, "cannot trace into %s with %s\n", traceLog.c_str(), config.c_str());
        delete file;
        return false;
    }
    CKrLogOutput* area = logger.NewLogOutput(0, 8);  // megabytes
    if (!logger.EnableInMemoryTrace(area, config.c_str(), false, true)) {
        std::fprintf(stderr, "no in-memory trace\n");
        return false;
    }
    logger.SetInMemoryTraceFilePath((folder.string() + "/").c_str());
    return true;
}

void Worker(CKrLogger& logger, int worker)
{
    static const char* const kProblems[] = {
        "token verification failed",
        "agent heartbeat missed",
        "policy evaluation took the slow path",
    };
    static const char* const kRealms[] = {"corp", "partners", "admin"};
    CKrErrLogMessage message;
    CKrErrLogMessage audit;
    const std::string w = std::to_string(worker);
    for (int i = 0; i < kLinesPerThread; ++i) {
        const std::string line = std::to_string(i);
        switch (i % 4) {
        case 0:
            SayTranslated(logger, message, demo::kDirectoryUnreachable, w.c_str(), line.c_str(), "ldap-1.corp:636");
            break;
        case 1:
            SayTranslated(logger, message, demo::kSessionSlow, w.c_str(), line.c_str(),
                          std::to_string(500 + i % 700).c_str(), kRealms[i % 3]);
            break;
        default:
            message.FormatLogProlog(__FILE__, __LINE__, 0);
            message.FormatLogMessage(demo::kWorkerProblem, worker, i, kProblems[(i + worker) % 3]);
            logger.LogErrMsg(message);
            break;
        }
        if (i % kAuditEvery == 0) {
            audit.FormatLogProlog(__FILE__, __LINE__, 0);
            audit.FormatAuditMessage(" user=%s action=%s resource=%s result=%s seq=%s\n",
                                     ("demo" + w).c_str(), "login", "/apps/payroll", "allowed", i);
            logger.LogAuditMsg(audit);
        }
        TracedWork(worker, i);
        if (i % kBatch == kBatch - 1) std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));
    }
}

struct FileReport {
    std::string name;
    uintmax_t bytes = 0;
    size_t lines = 0;
};

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The locale of translated lines, as the process's environment names it.
const char* KrDemoLocale()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "en (default)";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "cannot create %s: %s\n", folder.c_str(), error.message().c_str());
        return 1;
    }
    // Each run starts clean, so the summary shows this run only.
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("error", 0) == 0 || name.rfind("audit", 0) == 0 || name.rfind("trace", 0) == 0 ||
            name.rfind("dump.", 0) == 0) {
            fs::remove(entry.path(), error);
        }
    }

    CKrLogger& logger = *theLogger();
    logger.UseLocalTime(true);

    // The console first, for the greeting.
    if (!logger.SetLogOutput(logger.NewLogOutput(0))) {
        std::fprintf(stderr, "no console\n");
        return 1;
    }
    Say(logger, "krerrlog demo: " + std::to_string(kThreads) + " threads log into " + folder.string());
    const char* components = logger.GetAvailableComponents();
    Say(logger, std::string("components: ") + (components ? components : "(none)"));
    Say(logger, std::string("message locale: ") + KrDemoLocale());

    // Then the rolling error log replaces the console, and the audit log starts.
    const std::string errorLog = (folder / "error.log").string();
    const std::string auditLog = (folder / "audit.log").string();
    CKrLogOutput* errorOutput = logger.NewLogOutput(0, errorLog.c_str(), 3, kErrorLogMegabytes, kErrorLogBackups);
    CKrLogOutput* auditOutput = logger.NewLogOutput(0, auditLog.c_str(), 3, kErrorLogMegabytes, 2);
    if (!errorOutput || !auditOutput) return 1;
    CKrErrLogMessage firstHeader;
    CKrErrLogMessage secondHeader;
    firstHeader.SetFormattedMessage(("# krerrlog demo error log, process " + std::to_string(getpid()) + "\n").c_str());
    secondHeader.SetFormattedMessage("# [process/thread][date time.ms][file:line][severity][key] text\n");
    errorOutput->SetHeaders(firstHeader, secondHeader);  // every rolled-over file starts with them
    if (!logger.SetLogOutput(errorOutput)) {
        std::fprintf(stderr, "cannot open %s (return code %d)\n", errorLog.c_str(), errorOutput->GetReturnCode());
        logger.DeleteLogOutput(errorOutput);
        return 1;
    }
    logger.LogErrMsg(firstHeader);  // the first file gets them as any other line
    logger.LogErrMsg(secondHeader);
    if (!logger.EnableAuditLogRollover(auditOutput)) {
        logger.DeleteLogOutput(auditOutput);
        return 1;
    }

    if (!StartTracing(logger, folder)) return 1;

    {
        CKrErrLogMessage message;
        SayTranslated(logger, message, demo::kServerStarted, std::to_string(kThreads).c_str());
        SayTranslated(logger, message, demo::kPolicyRefreshed, "412", "corp");
    }

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int w = 0; w < kThreads; ++w) workers.emplace_back(Worker, std::ref(logger), w);
    for (auto& worker : workers) worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    logger.DumpTrace();  // the in-memory trace to a dump file, on request
    logger.DisableInMemoryTrace();
    logger.DisableTrace(false);
    logger.DisableAuditLog();
    logger.SetLogOutput(logger.NewLogOutput(0));  // back to the console
    Say(logger, "krerrlog demo: done in " + std::to_string(seconds).substr(0, 4) + " s");

    // What is on disk.
    std::vector<FileReport> files;
    std::map<std::string, int> seen;
    size_t backups = 0;
    size_t translated = 0;
    std::map<std::string, int> traceLines = {{"Server/Sessions", 0}, {"Server/Policy", 0}, {"Server", 0}};
    std::string dump;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("error", 0) != 0 && name.rfind("audit", 0) != 0 && name.rfind("trace", 0) != 0 &&
            name.rfind("dump.", 0) != 0) {
            continue;
        }
        FileReport report;
        report.name = name;
        report.bytes = fs::file_size(entry.path(), error);
        const std::vector<std::string> lines = ReadLines(entry.path());
        report.lines = lines.size();
        files.push_back(report);
        if (name.rfind("dump.", 0) == 0) dump = entry.path().string();
        if (name.rfind("trace", 0) == 0) {
            for (const std::string& line : lines) {
                if (line.find("|LookUpSession|") != std::string::npos) ++traceLines["Server/Sessions"];
                if (line.find("|CheckPolicy|") != std::string::npos) ++traceLines["Server/Policy"];
                if (line.find("|ServeRequest|") != std::string::npos) ++traceLines["Server"];
                if (line.find("|partners|") != std::string::npos) ++traceLines["(realm partners)"];
            }
        }
        if (name.rfind("error", 0) != 0) continue;
        if (name != "error.log") ++backups;
        for (const std::string& line : lines) {
            const size_t at = line.find("] worker ");
            if (at == std::string::npos) continue;
            ++seen[line.substr(at + 2, line.find(':', at) - at - 2)];
            if (line.find("][krserver-") != std::string::npos) ++translated;
        }
    }
    std::sort(files.begin(), files.end(), [](const FileReport& a, const FileReport& b) { return a.name < b.name; });

    std::printf("\nFiles in %s:\n", folder.c_str());
    std::printf("  %-40s %12s %10s\n", "file", "bytes", "lines");
    for (const FileReport& file : files) {
        std::printf("  %-40s %12ju %10zu\n", file.name.c_str(), file.bytes, file.lines);
    }
    size_t once = 0;
    size_t more = 0;
    for (const auto& [line, times] : seen) (times == 1 ? once : more) += 1;
    const size_t written = static_cast<size_t>(kThreads) * kLinesPerThread;
    std::printf("\nError log: mode 3, limit %d MB, at most %d backups: %zu backups on disk.\n", kErrorLogMegabytes,
                kErrorLogBackups, backups);
    std::printf("Error lines: %zu written by %d threads, %zu found exactly once, %zu more than once, %zu missing.\n",
                written, kThreads, once, more, written - once - more);
    std::printf("  of them %zu translated from the component's bundle, %zu filled from its format texts.\n",
                translated, once + more - translated);
    std::printf("Audit lines: %d written.\n", kThreads * ((kLinesPerThread + kAuditEvery - 1) / kAuditEvery));
    std::printf("Trace lines per component (Server is not selected, realm partners is filtered out):\n");
    for (const auto& [component, count] : traceLines) std::printf("  %-20s %8d\n", component.c_str(), count);
    const bool traceComplete = traceLines["Server/Sessions"] == g_expectedSessionLines.load() &&
                               traceLines["Server/Policy"] == g_expectedPolicyLines.load() &&
                               traceLines["Server"] == 0 && traceLines["(realm partners)"] == 0;
    std::printf("  %s: %d and %d lines expected.\n", traceComplete ? "complete" : "WRONG",
                g_expectedSessionLines.load(), g_expectedPolicyLines.load());
    std::printf("In-memory trace dumped on request to %s\n", dump.empty() ? "(no dump file!)" : dump.c_str());
    logger.DisableLog();
    return once == written && traceComplete && !dump.empty() ? 0 : 1;
}
