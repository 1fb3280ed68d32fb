// Feeds arbitrary bytes to the trace configuration reader as a file, then
// drives the record it produced through a whole trace call, checking the
// reader's invariants on the way.
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/KrTraceFieldSettings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

class CKrTraceDataTestPeer {
public:
    static bool Configure(CKrTraceData& record, int format, const char* delimiter, const char* path,
                          int componentCount, KrTraceComponentInfo* components, KrTraceDataFieldInfo* fields)
    {
        const bool read =
            record.SetConfiguration(format, delimiter, path, componentCount, components, fields, (format & 1) != 0);
        if (read) record.SetDateTimeFieldFromConfiguration();
        return read;
    }
    static const int* FieldOrder(const CKrTraceData& record) { return record.m_fieldOrder; }
    static const KrTraceDataFieldInfo& Field(const CKrTraceData& record, int id) { return record.m_fields[id]; }
    static void Refresh(CKrTraceData& copy, const CKrTraceData& master) { copy = master; }
    static bool Header(CKrTraceData& record, CKrErrLogMessage& message)
    {
        return record.AssembleTraceMessage(message, 1);
    }
};

namespace {

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

struct Tables {
    KrTraceComponentInfo components[8];
    KrTraceDataFieldInfo fields[KR_KNOWN_DATA_FIELD_COUNT];
    Tables()
    {
        const std::pair<const char*, uint32_t> list[] = {
            {"Server", 0x01000000},
            {"Server/Send", 0x01010000},
            {"Login_Logout", 0x02000000},
            {"Login_Logout/Authentication", 0x02010000},
            {"Login_Logout/Send_Response", 0x02020000},
            {"Login_Logout/Receive_Request", 0x02030000},
            {"IsAuthorized", 0x03000000},
            {"IsAuthorized/Send_Response", 0x03010000},
        };
        for (int i = 0; i < 8; ++i) {
            components[i].id = list[i].second;
            components[i].name = list[i].first;
        }
        krerrlog::FillKnownDataFieldInfo(fields);
    }
};

const std::string& ScratchPath()
{
    static const std::string path = [] {
        // Memory-backed when available: the file is rewritten on every run.
        const char* base = std::getenv("TMPDIR");
        if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/krerrlog-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) close(fd);
        return pattern;
    }();
    static const struct RemoveAtExit {
        ~RemoveAtExit() { unlink(path.c_str()); }
    } removeAtExit;
    return path;
}

void WriteScratch(const uint8_t* data, size_t size)
{
    const int fd = open(ScratchPath().c_str(), O_WRONLY | O_TRUNC | O_CREAT, 0600);
    if (fd < 0) return;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tables tables;
    // A leading 0xFE asks for a part of the input to be repeated, so that short
    // inputs reach 100,000-byte lines and thousands of filter lines:
    // 0xFE, count, prefix length, prefix, unit (repeated count * 64 + 1 times).
    std::string expanded;
    if (size > 3 && data[0] == 0xFE) {
        const size_t times = static_cast<size_t>(data[1]) * 64 + 1;
        const size_t prefix = std::min<size_t>(data[2], size - 3);
        const char* rest = reinterpret_cast<const char*>(data + 3);
        const size_t unit = size - 3 - prefix;
        expanded.assign(rest, prefix);
        for (size_t i = 0; i < times && unit > 0 && expanded.size() < 300000; ++i) {
            expanded.append(rest + prefix, unit);
        }
        data = reinterpret_cast<const uint8_t*>(expanded.data());
        size = expanded.size();
    }
    WriteScratch(data, size);
    const int format = size > 0 ? data[size - 1] % 5 : 0;

    auto* master = new CKrTraceData;
    const bool read = CKrTraceDataTestPeer::Configure(*master, format, format == 2 ? ", " : nullptr,
                                                      ScratchPath().c_str(), 8, tables.components, tables.fields);
    if (read) {
        // The order list holds distinct traced ids, then zeros.
        bool seen[KR_KNOWN_DATA_FIELD_COUNT] = {};
        bool ended = false;
        for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
            const int entry = CKrTraceDataTestPeer::FieldOrder(*master)[i];
            if (entry == 0) {
                ended = true;
                continue;
            }
            Check(!ended && entry >= 1 && entry <= KR_KNOWN_DATA_FIELD_COUNT && !seen[entry - 1]);
            seen[entry - 1] = true;
            Check(CKrTraceDataTestPeer::Field(*master, entry - 1).traced);
        }
        for (int id = 0; id < KR_KNOWN_DATA_FIELD_COUNT; ++id) {
            const KrTraceDataFieldInfo& field = CKrTraceDataTestPeer::Field(*master, id);
            Check(field.traced == seen[id]);
            if (field.filtered) {
                Check(field.filterValue != nullptr);
                const size_t length = std::strlen(field.filterValue);
                Check(length < 8092 && (length == 0 || field.filterValue[length - 1] != '\r'));
            }
        }

        // One trace call on a copy that outlives its master.
        CKrTraceData copy;
        CKrTraceDataTestPeer::Refresh(copy, *master);
        CKrErrLogMessage header(false);
        CKrTraceDataTestPeer::Header(*master, header);
        delete master;
        master = nullptr;
        const char* sample = size > 0 ? reinterpret_cast<const char*>(data) : "";
        std::string text(sample, size < 64 ? size : 64);
        for (unsigned id = 0; id < static_cast<unsigned>(KR_KNOWN_DATA_FIELD_COUNT); ++id) {
            if (!copy.FieldTraced(id)) continue;
            if (id % 3 == 0) {
                copy.SetFieldValue(id, text.c_str(), true);
            } else {
                copy.SetFieldValue(id, static_cast<int>(id) * 1000 - 7, true);
            }
        }
        for (uint32_t id = 0; id < 0x04000000u; id += 0x00010000u) copy.ComponentSelected(id);
        copy.Format();
        Check(copy.GetFormattedTraceMessage()[0] != '\0');
        copy.CleanUpData();
        copy.SetFieldValue(0u, text.c_str(), false);
        copy.InMemFormat();
        copy.InMemoryCleanUpData();
    }
    delete master;
    return 0;
}
