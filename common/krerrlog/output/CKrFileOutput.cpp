#include <krerrlog/output/CKrFileOutput.h>

#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CFileRolloverLock.h>
#include <krerrlog/output/KrDirectoryListing.h>
#include <krerrlog/output/KrRolloverCheckLock.h>
#include <krerrlog/support/KrFileOps.h>
#include <krerrlog/support/KrMemoryPolicy.h>
#include <krerrlog/support/platform/KrPlatformClock.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

using krerrlog::CFileRolloverLock;

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

// Kinds of OpenFile.
constexpr int kCreateEmpty = 0;     // write-only, append, create, truncate
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

}  // namespace

CKrFileOutput::CKrFileOutput()
    : m_bBuffering(false),
      m_fd(-1),
      m_iBackupCount(0),
      m_iSizeLimit(0),
      m_iMode(0),
      m_bRolloverPending(false),
      m_tPendingSince(0),
      m_iRingBufferSize(8)
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
    // First, since it may find no memory: a refused name changes nothing.
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
    if (!SetParams(fileName, openMode, maxSizeMB, backupCount)) return false;
    m_iRingBufferSize = static_cast<unsigned long long>(static_cast<long long>(ringBufferMB));
    return true;
}

unsigned long long CKrFileOutput::GetSizeOfRingBuffer() { return m_iRingBufferSize; }

bool CKrFileOutput::Open()
{
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
    return true;
}

bool CKrFileOutput::Log(CKrErrLogMessage& message)
{
    const char* text = message.GetBuffer();  // NUL-terminated at its length
    const int length = message.GetBufferLen();
    // Buffered mode copies into the ring buffer here once it exists.
    return RollOverCheck_LogMessageUnbuffered(text, length > 0 ? static_cast<unsigned long long>(length) : 0);
}

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
    return krerrlog::FileWrite(m_fd, text, length) == static_cast<ssize_t>(length);
}

bool CKrFileOutput::LogMessage(const char* text, unsigned long long length)
{
    if (!text || length == 0) return false;
    if (m_bBuffering) return WriteUnlocked(text, length);  // only the writer thread writes then
    krerrlog::SharedRollover hold(CFileRolloverLock::Process());
    return WriteUnlocked(text, length);
}

bool CKrFileOutput::RollOverCheck_LogMessageUnbuffered(const char* text, unsigned long long length)
{
    bool result = true;
    const uint64_t count = m_iMessageCount.fetch_add(1, std::memory_order_relaxed) + 1;
    if (count % kCheckEveryMessages == 0) {
        m_iMessageCount.store(0, std::memory_order_relaxed);
        std::lock_guard<std::mutex> check(krerrlog::RolloverCheckLock());
        if (RolloverCheck(length)) result = Rollover();
    }
    LogMessage(text, length);
    return result;
}

bool CKrFileOutput::RollOverCheck_LogMessageBuffered(const char* chunk, unsigned long long length)
{
    bool result = true;
    const uint32_t total = m_iBytesSinceRollover.fetch_add(static_cast<uint32_t>(length)) +
                           static_cast<uint32_t>(length);
    if (chunk && total >= m_iSizeLimit) {
        std::lock_guard<std::mutex> check(krerrlog::RolloverCheckLock());
        if (RolloverCheck(length)) {
            // The line in progress ends in the old file; the next one starts the new file.
            const void* newline = std::memchr(chunk, '\n', length);
            if (newline) {
                const unsigned long long head = static_cast<const char*>(newline) - chunk + 1;
                LogMessage(chunk, head);
                chunk += head;
                length -= head;
                result = Rollover();
                if (result && !m_bRolloverPending) m_iBytesSinceRollover.store(0);
            }
        }
    }
    if (chunk && length > 0) {
        std::lock_guard<std::mutex> check(krerrlog::RolloverCheckLock());
        if (RolloverCheck(length)) result = Rollover();
        LogMessage(chunk, length);
    }
    return result;
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
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    const std::string folder = path.substr(0, slash);
    const std::string baseName = path.substr(slash + 1);
    // The extension is that of the file name itself, never a dot of a folder.
    const size_t dot = baseName.rfind('.');
    const std::string stem = dot == std::string::npos ? baseName : baseName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : baseName.substr(dot);
    const std::string pathStem = path.substr(0, slash + 1 + stem.size());
    // Judged by the longest backup name ("_yyyymmdd_hhmmss.mmm"), so that a name
    // too long to be backed up fails before any old backup is deleted.
    if (folder.size() >= kPathLimit || pathStem.size() + kLongestSuffix + extension.size() >= kPathLimit) {
        return false;
    }

    std::vector<std::string> backups;
    for (const std::string& entry :
         krerrlog::ListMatchingEntries(folder.empty() ? "/" : folder, stem + "*" + extension)) {
        if (IsBackedUpFile(entry.c_str(), baseName.c_str())) backups.push_back(folder + "/" + entry);
    }
    // Oldest first: the time stamp is part of the name.
    std::sort(backups.begin(), backups.end());
    if (m_iBackupCount != 0 && backups.size() >= static_cast<size_t>(m_iBackupCount)) {
        const size_t excess = backups.size() - static_cast<size_t>(m_iBackupCount) + 1;
        for (size_t i = 0; i < excess; ++i) {
            if (KrUnlink(backups[i].c_str()) != 0) return false;  // the current file stays in use
        }
    }

    const krerrlog::CalendarTime now = krerrlog::ReadCalendarTime(true);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "_%04d%02d%02d_%02d%02d%02d.%d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second, now.milliseconds);
    const std::string backupName = pathStem + suffix + extension;
    if (backupName.size() >= kPathLimit) return false;  // only with a clock beyond year 9999
    const std::string backupPrefix = backupName.substr(0, backupName.rfind('.'));

    krerrlog::ExclusiveRollover hold(CFileRolloverLock::Process());
    CloseFile();
    if (KrRename(path.c_str(), backupName.c_str()) == 0) {
        m_bRolloverPending = false;
        const bool opened = OpenFile(kCreateEmpty);
        if (opened) LogHeaders();
        return opened;
    }
    const int error = errno;
    if (error == EEXIST) {
        // A roll-over within the same millisecond made this backup already. The
        // log was not moved aside: it is appended to again, so no line is lost,
        // and it already starts with its headers.
        const bool sameName = std::any_of(backups.begin(), backups.end(), [&](const std::string& backup) {
            return backup.compare(0, backupPrefix.size(), backupPrefix) == 0;
        });
        if (!sameName) return false;
        m_bRolloverPending = false;
        return OpenFile(kAppend);
    }
    if (error == EACCES) {
        // Held open elsewhere: keep writing to it and try again later.
        m_bRolloverPending = true;
        m_tPendingSince = NowSeconds();
        return OpenFile(kAppend);
    }
    return false;
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
        flags = KR_O_WRONLY | KR_O_APPEND | KR_O_CREAT | KR_O_TRUNC;
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
    m_fd = KrOpen(m_fileName.c_str(), flags, kOwnerOnly);
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
