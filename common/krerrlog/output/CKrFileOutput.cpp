#include <krerrlog/output/CKrFileOutput.h>

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/internal/CFileRolloverLock.h>
#include <krerrlog/output/internal/KrCrossProcessRollover.h>
#include <krerrlog/output/internal/KrDirectoryListing.h>
#include <krerrlog/output/internal/KrLogFileRecovery.h>
#include <krerrlog/output/internal/KrRolloverCheckLock.h>
#include <krerrlog/output/internal/KrTraceRingBuffer.h>
#include <krerrlog/output/internal/KrTraceWriterThread.h>
#include <krerrlog/support/internal/KrFileOps.h>
#include <krerrlog/support/internal/KrMemoryPolicy.h>
#include <krerrlog/support/platform/KrPlatformClock.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

using krerrlog::CFileRolloverLock;
using krerrlog::TraceRingBuffer;
using krerrlog::TraceWriter;

namespace {

// Standard output of the first process: opened as it is, never tested or rolled.
constexpr const char* kProcessStdout = "/proc/1/fd/1";
// Path parts (folder, path up to the extension, backup name) stay below this.
constexpr size_t kPathLimit = 255;
constexpr size_t kLongestSuffix = sizeof("_yyyymmdd_hhmmss.mmm") - 1;
constexpr uint64_t kCheckEveryMessages = 1000;
constexpr long long kRetryAfterSecondsBuffered = 30;
constexpr long long kRetryAfterSecondsUnbuffered = 300;
constexpr int kOwnerOnly = KR_S_IREAD | KR_S_IWRITE;
// Ring sizes beyond this are a mistake, not a wish for the largest ring.
constexpr int kLargestRingMegabytes = 4096;

// Kinds of OpenFile.
constexpr int kCreateEmpty = 0;     // write-only, append, created exclusively; else appended to
constexpr int kTruncate = 1;        // write-only, create, truncate
constexpr int kAppend = 2;          // write-only, append, create

bool IsProcessStdout(const char* name) { return strcasecmp(name, kProcessStdout) == 0; }

long long NowSeconds() { return krerrlog::NowEpochMilliseconds() / 1000; }

bool AllDigits(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
    }
    return true;
}

// The parts of a log file's path that its backup names are made of.
struct BackupNameParts {
    std::string folder, baseName, stem, extension, pathStem;
};

// False for a name without a folder.
bool SplitForBackups(const std::string& path, BackupNameParts& parts)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    parts.folder = path.substr(0, slash);
    parts.baseName = path.substr(slash + 1);
    // The extension is that of the file name itself, never a dot of a folder.
    const size_t dot = parts.baseName.rfind('.');
    parts.stem = dot == std::string::npos ? parts.baseName : parts.baseName.substr(0, dot);
    parts.extension = dot == std::string::npos ? std::string() : parts.baseName.substr(dot);
    parts.pathStem = path.substr(0, slash + 1 + parts.stem.size());
    return true;
}

// Judged by the longest backup name ("_yyyymmdd_hhmmss.mmm").
bool BackupNamesFit(const BackupNameParts& parts)
{
    return parts.folder.size() < kPathLimit &&
           parts.pathStem.size() + kLongestSuffix + parts.extension.size() < kPathLimit;
}

bool IsRollingMode(int mode) { return mode == KR_FILE_ROLL_AT_OPEN || mode >= KR_FILE_APPEND_ROLLING; }

}  // namespace

bool CKrFileOutput::m_launchedTraceWriterThread = false;

CKrFileOutput::CKrFileOutput()
    : m_bBuffering(false),
      m_fd(-1),
      m_iBackupCount(0),
      m_iSizeLimit(0),
      m_iMode(0),
      m_bRolloverPending(false),
      m_tPendingSince(0),
      m_iRingBufferSize(8),
      m_bCreatedFile(false),
      m_bReopenPending(false),
      m_bTornTail(false),
      m_iLostLines(0),
      m_bLineOpen(false)
{
    SetType(KR_OUTPUT_FILE);
}

CKrFileOutput::~CKrFileOutput()
{
    if (m_bBuffering) DeleteRingBuffer();
    CloseFile();
}

bool CKrFileOutput::SetParams(const char* fileName, int openMode, int maxSizeMB, int backupCount)
{
    if (!fileName || !*fileName || maxSizeMB < 0 || backupCount < 0 || openMode < 0 || openMode > 4) return false;
    // First, since they may find no memory: a refused name changes nothing.
    const bool namesFit = krerrlog::NoThrow(false, [&] {
        BackupNameParts parts;
        return !IsRollingMode(openMode) || !SplitForBackups(fileName, parts) || BackupNamesFit(parts);
    });
    if (!namesFit) return false;
    if (!krerrlog::NoThrowDone([&] { m_fileName = fileName; })) return false;
    m_iMode = openMode;
    // Limits of 4096 MB and more do not fit the 32-bit limit: the largest one stands for them.
    const uint64_t bytes = static_cast<uint64_t>(maxSizeMB) << 20;
    m_iSizeLimit = bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
    m_iBackupCount = backupCount;
    return true;
}

bool CKrFileOutput::SetParams(const char* fileName, int openMode, int maxSizeMB, int backupCount, int ringBufferMB)
{
    if (ringBufferMB < 0 || ringBufferMB > kLargestRingMegabytes) return false;
    if (!SetParams(fileName, openMode, maxSizeMB, backupCount)) return false;
    m_iRingBufferSize = static_cast<unsigned long long>(static_cast<long long>(ringBufferMB));
    return true;
}

unsigned long long CKrFileOutput::GetSizeOfRingBuffer() { return m_iRingBufferSize; }

bool CKrFileOutput::Open()
{
    m_bReopenPending = false;
    bool opened = false;
    const char* name = m_fileName.c_str();
    if (m_fileName.empty()) {
        opened = false;
    } else if (!FileExists(name)) {
        opened = OpenFile(kCreateEmpty);
    } else {
        switch (m_iMode) {
        case KR_FILE_TRUNCATE:
            opened = OpenFile(kTruncate);
            break;
        case KR_FILE_APPEND:
        case KR_FILE_APPEND_ROLLING:
            opened = OpenFile(kAppend);
            break;
        case KR_FILE_ROLL_AT_OPEN:
        case KR_FILE_ROLL_AT_OPEN_ROLLING:
            opened = Rollover();
            break;
        default:
            break;
        }
    }
    if (!opened) SetReturnCode(KR_RC_FILE_OPEN_FAILED);
    return opened;
}

bool CKrFileOutput::Close()
{
    if (m_bBuffering) DeleteRingBuffer();
    CloseFile();
    m_bReopenPending = false;  // closed on purpose: stays closed
    return true;
}

bool CKrFileOutput::Log(CKrErrLogMessage& message)
{
    const char* text = message.GetBuffer();  // NUL-terminated at its length
    const int length = message.GetBufferLen();
    const unsigned long long n = length > 0 ? static_cast<unsigned long long>(length) : 0;
    while (m_bBuffering.load(std::memory_order_acquire)) {
        if (TraceRingBuffer::Process().Produce(text, n) != TraceRingBuffer::Produced::Closed) return true;
        // Buffered mode is being switched off: the switch holds the writer lock
        // until the ring is written out, so this line follows all of it.
        std::lock_guard<std::mutex> afterTheRing(TraceWriter::Process().WriterLock());
        if (!m_bBuffering.load(std::memory_order_acquire)) return RollOverCheck_LogMessageUnbuffered(text, n);
    }
    return RollOverCheck_LogMessageUnbuffered(text, n);
}

bool CKrFileOutput::Flush()
{
    TraceWriter::Process().Flush();
    return true;
}

void CKrFileOutput::EnableBuffering(bool enable)
{
    if (enable == m_bBuffering.load(std::memory_order_acquire)) return;
    if (!enable) {
        DeleteRingBuffer();
        return;
    }
    krerrlog::TraceRingSink sink;
    sink.output = this;
    sink.writeChunk = &CKrFileOutput::WriteRingChunk;
    sink.descriptor = &CKrFileOutput::RingDescriptor;
    sink.bufferingFlag = &m_bBuffering;
    if (!TraceWriter::Process().Start(sink, static_cast<uint32_t>(m_iRingBufferSize))) return;
    LaunchTraceWriterThread();
    // Without a writer the ring would fill and stop every producer.
    if (!m_launchedTraceWriterThread && !TraceWriter::Process().ThreadRunning()) DeleteRingBuffer();
}

void CKrFileOutput::LaunchTraceWriterThread()
{
    if (!m_launchedTraceWriterThread) TraceWriter::Process().LaunchThread();
}

void CKrFileOutput::DeleteRingBuffer() { TraceWriter::Process().Stop(this); }

bool CKrFileOutput::IsBufferingEnabled() { return m_bBuffering.load(std::memory_order_acquire); }

bool CKrFileOutput::IsBufferingSupported() { return true; }

size_t CKrFileOutput::WriteRingChunk(void* output, const char* chunk, size_t length)
{
    // A chunk cut inside a line (at 64 KiB) gives back the unfinished line, so
    // each write holds whole lines and a failed write loses whole lines only.
    // A chunk without any newline is taken whole.
    if (chunk[length - 1] != '\n') {
        const void* lastNewline = memrchr(chunk, '\n', length);
        if (lastNewline) length = static_cast<size_t>(static_cast<const char*>(lastNewline) - chunk) + 1;
    }
    static_cast<CKrFileOutput*>(output)->RollOverCheck_LogMessageBuffered(chunk, length);
    return length;
}

int CKrFileOutput::RingDescriptor(void* output) { return static_cast<CKrFileOutput*>(output)->m_fd; }

void CKrFileOutput::SetHeaders(CKrErrLogMessage& first, CKrErrLogMessage& second)
{
    const int firstLength = first.GetBufferLen();
    const int secondLength = second.GetBufferLen();
    if (firstLength <= 0 || secondLength <= 0) return;
    const size_t firstBefore = m_firstHeader.size();
    const size_t secondBefore = m_secondHeader.size();
    if (!krerrlog::NoThrowDone([&] {
            m_firstHeader.append(first.GetBuffer(), static_cast<size_t>(firstLength));
            m_secondHeader.append(second.GetBuffer(), static_cast<size_t>(secondLength));
        })) {
        // Without memory for both, neither is kept.
        m_firstHeader.resize(firstBefore);
        m_secondHeader.resize(secondBefore);
    }
}

bool CKrFileOutput::WriteUnlocked(const char* text, unsigned long long length)
{
    if (m_fd < 0) return false;
    return krerrlog::FileWrite(m_fd, text, length) == static_cast<std::ptrdiff_t>(length);
}

bool CKrFileOutput::LogMessage(const char* text, unsigned long long length)
{
    if (!text || length == 0) return false;
    // Also in buffered mode: the ring's consumer writes through
    // WriteBufferedChunk, and a line written here while the mode switches must
    // not meet a roll-over closing the file.
    const bool written = WriteLine(text, length);
    if (!written) m_iLostLines.fetch_add(1, std::memory_order_relaxed);
    return written;
}

bool CKrFileOutput::WriteLine(const char* text, unsigned long long length)
{
    CFileRolloverLock& lock = CFileRolloverLock::Process();
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool cutShort = false;
        {
            krerrlog::SharedRollover hold(lock);
            // No line may follow a fragment: it would be glued to it.
            if (!m_bTornTail.load(std::memory_order_acquire)) {
                if (m_fd < 0) return false;
                const std::ptrdiff_t written = krerrlog::FileWrite(m_fd, text, length);
                if (written == static_cast<std::ptrdiff_t>(length)) return true;
                if (written <= 0) return false;
                m_bTornTail.store(true, std::memory_order_release);
                cutShort = true;
            }
        }
        {
            // Exclusive: no other thread of this process writes while the end is mended.
            krerrlog::ExclusiveRollover hold(lock);
            // Unmended (nothing could be cut or written), it stays marked and
            // lines are dropped rather than glued to the fragment.
            // Relaxed: the exclusive hold orders it against every writer.
            if (m_bTornTail.load(std::memory_order_relaxed) && (m_fd < 0 || krerrlog::EndAtLineBoundary(m_fd))) {
                m_bTornTail.store(false, std::memory_order_release);
            }
        }
        if (cutShort) return false;  // the fragment of this line is gone; it counts as lost
    }
    return false;
}

bool CKrFileOutput::RollOverCheck_LogMessageUnbuffered(const char* text, unsigned long long length)
{
    bool result = true;
    // Relaxed, unlike the seq_cst byte count: it only spaces the checks out (CKrLogOutput.h).
    const uint64_t count = m_iMessageCount.fetch_add(1, std::memory_order_relaxed) + 1;
    if (count % kCheckEveryMessages == 0) {
        m_iMessageCount.store(0, std::memory_order_relaxed);
        std::lock_guard<std::mutex> check(krerrlog::RolloverCheckLock());
        if (!KeepFileAtPath()) {
            result = false;
        } else if (RolloverCheck(length)) {
            result = Rollover();
        }
    }
    CountDelivery(LogMessage(text, length), static_cast<long long>(length));  // Log reports the roll-over
    return result;
}

bool CKrFileOutput::RollOverCheck_LogMessageBuffered(const char* chunk, unsigned long long length)
{
    if (!chunk || length == 0) return true;
    bool result = true;
    m_iBytesSinceRollover.fetch_add(static_cast<uint32_t>(length));
    std::lock_guard<std::mutex> check(krerrlog::RolloverCheckLock());
    if (!KeepFileAtPath()) result = false;
    // The line in progress ends in the old file and the next one starts the
    // new file. A chunk without a newline is rolled over before only when the
    // last line written is complete; otherwise the roll-over stays due for a
    // later chunk: a line is never split across two files.
    bool roll = RolloverCheck(length);
    unsigned long long head = 0;
    if (roll) {
        const void* newline = std::memchr(chunk, '\n', length);
        if (newline) {
            head = static_cast<unsigned long long>(static_cast<const char*>(newline) - chunk) + 1;
        } else {
            roll = !m_bLineOpen;
        }
    }
    if (head > 0) WriteBufferedChunk(chunk, head);
    if (roll) {
        result = Rollover();
        if (result && !m_bRolloverPending) m_iBytesSinceRollover.store(static_cast<uint32_t>(length - head));
        m_bLineOpen = false;  // a new file starts with its whole header lines
    }
    if (length > head) WriteBufferedChunk(chunk + head, length - head);
    return result;
}

void CKrFileOutput::WriteBufferedChunk(const char* chunk, unsigned long long length)
{
    // Only the ring's consumer writes in buffered mode, and roll-overs happen
    // under the check lock it holds: no lock is needed around the write. A
    // failed write loses its lines; one cut short is cut back to the last whole
    // line, so nothing is glued to a fragment. The line state follows what was
    // meant to be written.
    m_bLineOpen = chunk[length - 1] != '\n';
    if (m_fd < 0) return;
    const std::ptrdiff_t written = krerrlog::FileWrite(m_fd, chunk, length);
    if (written == static_cast<std::ptrdiff_t>(length)) return;
    if (written > 0) krerrlog::EndAtLineBoundary(m_fd);
    unsigned long long lost = 0;
    for (unsigned long long i = written > 0 ? static_cast<unsigned long long>(written) : 0; i < length; ++i) {
        lost += chunk[i] == '\n';
    }
    m_iLostLines.fetch_add(lost, std::memory_order_relaxed);
}

bool CKrFileOutput::RolloverCheck(unsigned long long length)
{
    if (m_bRolloverPending) {
        const long long retryAfter = m_bBuffering ? kRetryAfterSecondsBuffered : kRetryAfterSecondsUnbuffered;
        if (NowSeconds() > m_tPendingSince + retryAfter) return true;
    }
    if (m_iMode != KR_FILE_APPEND_ROLLING && m_iMode != KR_FILE_ROLL_AT_OPEN_ROLLING) return false;
    if (m_fd < 0) return false;
    const long long size = krerrlog::FileSize(m_fd);
    if (size < 0) return false;
    return static_cast<unsigned long long>(size) + length >= m_iSizeLimit;
}

bool CKrFileOutput::Rollover()
{
    // The names are strings, all made before the file is touched: without
    // memory for them the roll-over fails and the file stays as it was.
    return krerrlog::NoThrow(false, [this] { return RolloverWithNames(); });
}

bool CKrFileOutput::RolloverWithNames()
{
    const std::string& path = m_fileName;
    BackupNameParts parts;
    if (!SplitForBackups(path, parts)) return false;
    // A name too long to be backed up fails before any old backup is deleted.
    if (!BackupNamesFit(parts)) return false;

    // Other processes writing this log roll it over one at a time.
    const krerrlog::CrossProcessRollover acrossProcesses(m_fd);
    if (!acrossProcesses.MayRollOver()) return false;  // the current file stays in use
    if (m_fd >= 0 && !krerrlog::IsStillAtPath(m_fd, path.c_str())) {
        // Another process rolled it over just now (or it was moved away):
        // this one goes on in the file at the path, and backs nothing up.
        krerrlog::ExclusiveRollover hold(CFileRolloverLock::Process());
        m_bRolloverPending = false;
        return ReopenPath();
    }

    std::vector<std::string> backups;
    for (const std::string& entry : krerrlog::ListMatchingEntries(parts.folder.empty() ? "/" : parts.folder,
                                                                  parts.stem + "*" + parts.extension)) {
        const std::string backup = parts.folder + "/" + entry;
        // A folder or link named like a backup is none of ours.
        if (IsBackedUpFile(entry.c_str(), parts.baseName.c_str()) && krerrlog::IsRegularFileEntry(backup)) {
            backups.push_back(backup);
        }
    }
    // Oldest first: the time stamp is part of the name.
    std::sort(backups.begin(), backups.end());
    const bool pruned = PruneBackups(backups);

    const krerrlog::CalendarTime now = krerrlog::ReadCalendarTime(true);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "_%04d%02d%02d_%02d%02d%02d.%d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second, now.milliseconds);
    const std::string backupName = parts.pathStem + suffix + parts.extension;
    if (backupName.size() >= kPathLimit) return false;  // only with a clock beyond year 9999
    const std::string backupPrefix = backupName.substr(0, backupName.rfind('.'));

    krerrlog::ExclusiveRollover hold(CFileRolloverLock::Process());
    CloseFile();
    if (KrRename(path.c_str(), backupName.c_str()) == 0) {
        m_bRolloverPending = false;
        return ReopenPath() && pruned;
    }
    const int error = errno;
    if (error == EEXIST) {
        // A roll-over within the same millisecond made this backup already. The
        // log was not moved aside: it is appended to again, so no line is lost,
        // and it already starts with its headers.
        const bool sameName = std::any_of(backups.begin(), backups.end(), [&](const std::string& backup) {
            return backup.compare(0, backupPrefix.size(), backupPrefix) == 0;
        });
        if (!sameName) {
            m_bReopenPending = true;  // a foreign file holds the name: go on in the log at the next check
            return false;
        }
        m_bRolloverPending = false;
        const bool opened = OpenFile(kAppend);
        m_bReopenPending = !opened;
        return opened;
    }
    if (error == EACCES) {
        // Held open elsewhere: keep writing to it and try again later.
        m_bRolloverPending = true;
        m_tPendingSince = NowSeconds();
        const bool opened = OpenFile(kAppend);
        m_bReopenPending = !opened;
        return opened;
    }
    if (error == ENOENT) {
        // Someone else moved the file away: go on in a new one at the path.
        m_bRolloverPending = false;
        return ReopenPath();
    }
    m_bReopenPending = true;  // the log stays where it is; the next check opens it again
    return false;
}

bool CKrFileOutput::PruneBackups(std::vector<std::string>& backups)
{
    if (m_iBackupCount == 0 || backups.size() < static_cast<size_t>(m_iBackupCount)) return true;
    size_t excess = backups.size() - static_cast<size_t>(m_iBackupCount) + 1;
    for (const std::string& backup : backups) {
        if (excess == 0) break;
        if (KrUnlink(backup.c_str()) == 0) --excess;
    }
    // Too few deleted: the roll-over still happens, so that the log itself
    // stays bounded; only the undeletable backups remain beyond the count.
    return excess == 0;
}

bool CKrFileOutput::KeepFileAtPath()
{
    if (IsProcessStdout(m_fileName.c_str())) return true;
    if (m_fd < 0) {
        if (!m_bReopenPending) return true;  // closed on purpose, or never opened
    } else if (krerrlog::IsStillAtPath(m_fd, m_fileName.c_str())) {
        return true;
    }
    krerrlog::ExclusiveRollover hold(CFileRolloverLock::Process());
    return ReopenPath();
}

bool CKrFileOutput::ReopenPath()
{
    const bool opened = OpenFile(kCreateEmpty);
    if (opened && m_bCreatedFile) LogHeaders();
    m_bReopenPending = !opened;
    return opened;
}

bool CKrFileOutput::IsBackedUpFile(const char* candidate, const char* baseName)
{
    if (!candidate || !baseName) return false;
    const size_t candidateLength = std::strlen(candidate);
    const size_t baseLength = std::strlen(baseName);
    if (candidateLength < baseLength + 16) return false;

    const char* baseDot = std::strrchr(baseName, '.');
    const size_t stemLength = baseDot ? static_cast<size_t>(baseDot - baseName) : baseLength;
    if (std::strncmp(candidate, baseName, stemLength) != 0) return false;

    // "_yyyymmdd_hhmmss"
    const char* stamp = candidate + stemLength;
    if (stamp[0] != '_' || !AllDigits(stamp + 1, 8) || stamp[9] != '_' || !AllDigits(stamp + 10, 6)) return false;

    // Otherwise "_" and digits up to the next dot or the end.
    const char* rest = stamp + 16;
    if (*rest != '.' && *rest != '\0') {
        if (*rest != '_') return false;
        const char* end = std::strchr(rest, '.');
        const size_t digits = end ? static_cast<size_t>(end - rest - 1) : std::strlen(rest + 1);
        if (digits == 0 || !AllDigits(rest + 1, digits)) return false;
    }

    const char* candidateDot = std::strrchr(candidate, '.');
    if (baseDot) return candidateDot && std::strcmp(candidateDot, baseDot) == 0;
    return candidateDot == nullptr;
}

bool CKrFileOutput::FileExists(const char* name) const
{
    if (IsProcessStdout(name)) return true;
    if (KrAccess(name, 0) == 0 || errno != ENOENT) return true;
    errno = 0;
    return false;
}

bool CKrFileOutput::OpenFile(int kind)
{
    int flags;
    switch (kind) {
    case kCreateEmpty:
        // Never truncating: another process may have made it and written to it
        // since this one found it missing.
        flags = KR_O_WRONLY | KR_O_APPEND | KR_O_CREAT | KR_O_EXCL;
        break;
    case kTruncate:
        flags = KR_O_WRONLY | KR_O_CREAT | KR_O_TRUNC;
        break;
    case kAppend:
        flags = KR_O_WRONLY | KR_O_APPEND | KR_O_CREAT;
        break;
    default:
        return false;
    }
    CloseFile();  // never leak a descriptor that is still open
    const char* name = m_fileName.c_str();
    m_fd = KrOpen(name, flags, kOwnerOnly);
    m_bCreatedFile = kind == kCreateEmpty && m_fd >= 0;
    if (m_fd < 0 && kind == kCreateEmpty && errno == EEXIST) {
        // Made by another process a moment ago: its lines stay.
        m_fd = KrOpen(name, KR_O_WRONLY | KR_O_APPEND | KR_O_CREAT, kOwnerOnly);
    }
    // A writer killed in the middle of a line left it unfinished: end it, so
    // that the first line of this output starts a line of its own.
    if (m_fd >= 0 && kind != kTruncate && !m_bCreatedFile && krerrlog::EndsInsideLine(m_fd)) {
        krerrlog::FileWrite(m_fd, "\n", 1);
    }
    return m_fd >= 0;
}

bool CKrFileOutput::CloseFile()
{
    if (m_fd >= 0) {
        krerrlog::FileClose(m_fd);
        m_fd = -1;
    }
    return true;
}

void CKrFileOutput::LogHeaders()
{
    if (m_firstHeader.empty() || m_secondHeader.empty() || m_fd < 0) return;
    if (LogHeadersMessage(m_firstHeader.c_str())) LogHeadersMessage(m_secondHeader.c_str());
}

bool CKrFileOutput::LogHeadersMessage(const char* text)
{
    if (!text || m_fd < 0) return false;
    const size_t length = std::strlen(text);
    return length == 0 || WriteUnlocked(text, length);
}
