// Writes numbered lines from several threads into a rolling error log and a
// rolling audit log (mode 3), for the log-shipping test to follow.
//
//   krerrlog_shipping_writer <folder> <threads> <lines per thread> <limit MB> <backups> <pause ms>
//
// Each thread pauses for <pause ms> after every 25 lines, which spaces the
// roll-overs out in time.
// Error lines end in "ship t=<thread> n=<number>", audit lines in
// "ship-audit t=<thread> n=<number>"; a thread writes its numbers in order.
#include <krerrlog/krerrlog.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned int kErrorText = 0x0100C001;  // the built-in component's "%1s" error text
constexpr int kAuditEvery = 4;                   // one audit line per so many error lines
constexpr int kPauseEvery = 25;

void Write(CKrLogger& logger, int thread, int lines, int pauseMs)
{
    CKrErrLogMessage message;
    CKrErrLogMessage audit;
    for (int n = 0; n < lines; ++n) {
        const std::string text = "ship t=" + std::to_string(thread) + " n=" + std::to_string(n);
        message.FormatLogProlog(__FILE__, __LINE__, 0);
        message.FormatLogMessage(kErrorText, text.c_str());
        logger.LogErrMsg(message);
        if (n % kAuditEvery == 0) {
            audit.FormatLogProlog(__FILE__, __LINE__, 0);
            audit.FormatAuditMessage(" ship-audit t=%s n=%s\n", thread, n / kAuditEvery);
            logger.LogAuditMsg(audit);
        }
        if (pauseMs > 0 && n % kPauseEvery == kPauseEvery - 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s <folder> <threads> <lines per thread> <limit MB> <backups> <pause ms>\n",
                     argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int threads = std::atoi(argv[2]);
    const int lines = std::atoi(argv[3]);
    const int limitMB = std::atoi(argv[4]);
    const int backups = std::atoi(argv[5]);
    const int pauseMs = std::atoi(argv[6]);

    CKrLogger& logger = *theLogger();
    CKrLogOutput* error = logger.NewLogOutput(0, (folder + "/error.log").c_str(), 3, limitMB, backups);
    CKrLogOutput* audit = logger.NewLogOutput(0, (folder + "/audit.log").c_str(), 3, limitMB, backups);
    if (!error || !audit || !logger.SetLogOutput(error) || !logger.EnableAuditLogRollover(audit)) {
        std::fprintf(stderr, "cannot open the logs in %s\n", folder.c_str());
        return 1;
    }
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back(Write, std::ref(logger), t, lines, pauseMs);
    for (auto& worker : workers) worker.join();
    logger.DisableAuditLog();
    logger.DisableLog();

    // What a restart of the host does when it opens its logs in mode 4: the
    // previous run's live files roll over at open, so a follower of the
    // backups gets their last lines too.
    CKrLogOutput* errorAgain = logger.NewLogOutput(0, (folder + "/error.log").c_str(), 4, limitMB, backups);
    CKrLogOutput* auditAgain = logger.NewLogOutput(0, (folder + "/audit.log").c_str(), 4, limitMB, backups);
    if (!errorAgain || !auditAgain || !logger.SetLogOutput(errorAgain) || !logger.EnableAuditLogRollover(auditAgain)) {
        std::fprintf(stderr, "cannot roll the logs over at open in %s\n", folder.c_str());
        return 1;
    }
    logger.DisableAuditLog();
    logger.DisableLog();
    return 0;
}
