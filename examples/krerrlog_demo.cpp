// A host program of the logging library: it attaches the console, a rolling
// error log and an audit log to the process-wide logger, logs from several
// threads for a few seconds, and then shows what it wrote.
//
//   krerrlog_demo <output folder>
#include <krerrlog/krerrlog.h>
#include <krerrlog/message/KrMessageBuffer.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

// Until the catalogue's message texts are part of the library, the demo puts
// its text behind the prolog itself.
class CKrErrLogMessageTestPeer {
public:
    static void Append(CKrErrLogMessage& message, const std::string& text)
    {
        message.m_pBuffer->AppendBytes(text.data(), static_cast<int>(text.size()));
    }
};

namespace {

constexpr int kThreads = 4;
constexpr int kLinesPerThread = 10000;
constexpr int kBatch = 40;                 // lines between two pauses
constexpr int kPauseMs = 12;               // about three seconds in all
constexpr int kAuditEvery = 20;            // one audit line per so many error lines
constexpr int kErrorLogMegabytes = 1;
constexpr int kErrorLogBackups = 5;

void FillText(CKrErrLogMessage& message, const std::string& text)
{
    CKrErrLogMessageTestPeer::Append(message, text);
}

// One line to the console through the process-wide logger's error log.
void Say(CKrLogger& logger, const std::string& text)
{
    CKrErrLogMessage message;
    message.FormatLogProlog(__FILE__, __LINE__, 0);
    FillText(message, " [INFO] " + text + "\n");
    logger.LogErrMsg(message);
}

void Worker(CKrLogger& logger, int worker)
{
    static const char* const kProblems[] = {
        "could not reach the directory server",
        "session store answered late",
        "policy cache refreshed with warnings",
        "agent heartbeat missed",
    };
    CKrErrLogMessage message;
    CKrErrLogMessage audit;
    for (int i = 0; i < kLinesPerThread; ++i) {
        message.FormatLogProlog(__FILE__, __LINE__, 0);
        FillText(message, " [ERROR] worker " + std::to_string(worker) + " line " + std::to_string(i) + ": " +
                              kProblems[(i + worker) % 4] + "\n");
        logger.LogErrMsg(message);
        if (i % kAuditEvery == 0) {
            audit.FormatLogProlog(__FILE__, __LINE__, 0);
            FillText(audit, " user=demo" + std::to_string(worker) + " action=login result=ok seq=" +
                                std::to_string(i) + "\n");
            logger.LogAuditMsg(audit);
        }
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
        if (name.rfind("error", 0) == 0 || name.rfind("audit", 0) == 0) fs::remove(entry.path(), error);
    }

    CKrLogger& logger = *theLogger();
    logger.UseLocalTime(true);

    // The console first, for the greeting.
    if (!logger.SetLogOutput(logger.NewLogOutput(0))) {
        std::fprintf(stderr, "no console\n");
        return 1;
    }
    Say(logger, "krerrlog demo: " + std::to_string(kThreads) + " threads log into " + folder.string());

    // Then the rolling error log replaces the console, and the audit log starts.
    const std::string errorLog = (folder / "error.log").string();
    const std::string auditLog = (folder / "audit.log").string();
    CKrLogOutput* errorOutput = logger.NewLogOutput(0, errorLog.c_str(), 3, kErrorLogMegabytes, kErrorLogBackups);
    CKrLogOutput* auditOutput = logger.NewLogOutput(0, auditLog.c_str(), 3, kErrorLogMegabytes, 2);
    if (!errorOutput || !auditOutput) return 1;
    CKrErrLogMessage firstHeader;
    CKrErrLogMessage secondHeader;
    FillText(firstHeader, "# krerrlog demo error log, process " + std::to_string(getpid()) + "\n");
    FillText(secondHeader, "# [process/thread][date time.ms][file:line] [severity] text\n");
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

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int w = 0; w < kThreads; ++w) workers.emplace_back(Worker, std::ref(logger), w);
    for (auto& worker : workers) worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    logger.DisableAuditLog();
    logger.SetLogOutput(logger.NewLogOutput(0));  // back to the console
    Say(logger, "krerrlog demo: done in " + std::to_string(seconds).substr(0, 4) + " s");

    // What is on disk.
    std::vector<FileReport> files;
    std::map<std::string, int> seen;
    size_t backups = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("error", 0) != 0 && name.rfind("audit", 0) != 0) continue;
        FileReport report;
        report.name = name;
        report.bytes = fs::file_size(entry.path(), error);
        const std::vector<std::string> lines = ReadLines(entry.path());
        report.lines = lines.size();
        files.push_back(report);
        if (name.rfind("error", 0) != 0) continue;
        if (name != "error.log") ++backups;
        for (const std::string& line : lines) {
            const size_t at = line.find("[ERROR] worker ");
            if (at != std::string::npos) ++seen[line.substr(at, line.find(':', at) - at)];
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
    std::printf("\nError log: mode 3, limit %d MB, at most %d backups: %zu roll-overs kept as backups.\n",
                kErrorLogMegabytes, kErrorLogBackups, backups);
    std::printf("Error lines: %zu written by %d threads, %zu found exactly once, %zu more than once, %zu missing.\n",
                written, kThreads, once, more, written - once - more);
    std::printf("Audit lines: %d written.\n", kThreads * ((kLinesPerThread + kAuditEvery - 1) / kAuditEvery));
    logger.DisableLog();
    return once == written ? 0 : 1;
}
