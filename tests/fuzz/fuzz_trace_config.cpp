// Feeds arbitrary bytes to the trace configuration reader as a file, then
// drives the record it produced through a whole trace call, checking the
// reader's invariants on the way.
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/KrTraceConfigDiagnostics.h>
#include <krerrlog/trace/KrTraceFieldSettings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

class CKrTraceDataTestPeer {
public:
    static bool Configure(CKrTraceData& record, int format, const char* path, KrTraceComponentInfo* components,
                          int componentCount, KrTraceDataFieldInfo* fields)
    {
        const bool read = record.SetConfiguration(format, format == 2 ? ", " : nullptr, path, componentCount,
                                                  components, fields, (format & 1) != 0);
        if (read) record.SetDateTimeFieldFromConfiguration();
        return read;
    }
    // The same read with a diagnostics sink, as the operators' checker does it.
    static bool ConfigureReporting(CKrTraceData& record, int format, const char* path,
                                   KrTraceComponentInfo* components, int componentCount,
                                   KrTraceDataFieldInfo* fields, krerrlog::TraceConfigDiagnostics& sink)
    {
        return record.PrepareConfiguration(format, format == 2 ? ", " : nullptr, componentCount, components, fields,
                                           (format & 1) != 0) &&
               record.ReadConfigFile(path, &sink);
    }
    static const int* FieldOrder(const CKrTraceData& record) { return record.m_fieldOrder; }
    static const KrTraceDataFieldInfo& Field(const CKrTraceData& record, int id) { return record.m_fields[id]; }
    static void Refresh(CKrTraceData& copy, const CKrTraceData& master) { copy = master; }
    static bool Header(CKrTraceData& record, CKrErrLogMessage& message)
    {
        return record.AssembleTraceMessage(message, 1);
    }
};
using Peer = CKrTraceDataTestPeer;

namespace {

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

struct Tables {
    KrTraceComponentInfo components[8] = {
        {false, 0x01000000, "Server"},       {false, 0x01010000, "Server/Send"},
        {false, 0x02000000, "Login_Logout"}, {false, 0x02010000, "Login_Logout/Authentication"},
        {false, 0x02020000, "Login_Logout/Send_Response"}, {false, 0x02030000, "Login_Logout/Receive_Request"},
        {false, 0x03000000, "IsAuthorized"}, {false, 0x03010000, "IsAuthorized/Send_Response"},
    };
    KrTraceDataFieldInfo fields[KR_KNOWN_DATA_FIELD_COUNT];
    Tables() { krerrlog::FillKnownDataFieldInfo(fields); }
};

// Counts what the reader reports; a refusal is reported exactly once.
struct CountingSink : krerrlog::TraceConfigDiagnostics {
    int errors = 0;
    void Report(krerrlog::TraceConfigSeverity severity, int line, const std::string& text) override
    {
        Check(line >= 0 && !text.empty());
        if (severity == krerrlog::TraceConfigSeverity::Error) ++errors;
    }
};

// The file the input goes to: memory-backed where there is one, since it is
// rewritten on every run.
struct ScratchFile {
    std::string path;
    ScratchFile()
    {
        const char* base = std::getenv("TMPDIR");
        if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        path = std::string(base) + "/krerrlog-fuzz-XXXXXX";
        const int fd = mkstemp(path.data());
        if (fd >= 0) close(fd);
    }
    ~ScratchFile() { unlink(path.c_str()); }
    void Write(const uint8_t* data, size_t size) const
    {
        if (FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fwrite(data, 1, size, file);
            std::fclose(file);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tables tables;
    static const ScratchFile scratch;
    // A leading 0xFE asks for a part of the input to be repeated, so that short
    // inputs reach 100,000-byte lines and thousands of filter lines:
    // 0xFE, count, prefix length, prefix, unit (repeated count * 64 + 1 times).
    std::string expanded;
    if (size > 3 && data[0] == 0xFE) {
        const size_t prefix = std::min<size_t>(data[2], size - 3), unit = size - 3 - prefix;
        const char* rest = reinterpret_cast<const char*>(data + 3);
        expanded.assign(rest, prefix);
        for (size_t i = 0; i <= data[1] * size_t(64) && unit > 0 && expanded.size() < 300000; ++i)
            expanded.append(rest + prefix, unit);
        data = reinterpret_cast<const uint8_t*>(expanded.data());
        size = expanded.size();
    }
    scratch.Write(data, size);
    const int format = size > 0 ? data[size - 1] % 5 : 0;
    auto* master = new CKrTraceData;
    const bool read = Peer::Configure(*master, format, scratch.path.c_str(), tables.components, 8, tables.fields);
    {
        // Reporting changes nothing the reader produces.
        CKrTraceData reported;
        CountingSink sink;
        const bool readReporting = Peer::ConfigureReporting(reported, format, scratch.path.c_str(),
                                                           tables.components, 8, tables.fields, sink);
        Check(readReporting == read && sink.errors == (read ? 0 : 1));
        if (read) {
            Check(std::memcmp(Peer::FieldOrder(reported), Peer::FieldOrder(*master),
                              sizeof(int) * KR_KNOWN_DATA_FIELD_COUNT) == 0);
            for (int id = 0; id < KR_KNOWN_DATA_FIELD_COUNT; ++id) {
                const KrTraceDataFieldInfo& a = Peer::Field(reported, id);
                const KrTraceDataFieldInfo& b = Peer::Field(*master, id);
                Check(a.filtered == b.filtered && a.filterOp == b.filterOp &&
                      (!a.filtered || std::strcmp(a.filterValue, b.filterValue) == 0));
            }
        }
    }
    if (read) {
        // The order list holds distinct traced ids, then zeros.
        bool seen[KR_KNOWN_DATA_FIELD_COUNT] = {};
        bool ended = false;
        for (int i = 0; i < KR_KNOWN_DATA_FIELD_COUNT; ++i) {
            const int entry = Peer::FieldOrder(*master)[i];
            ended = ended || entry == 0;
            if (entry == 0) continue;
            Check(!ended && entry >= 1 && entry <= KR_KNOWN_DATA_FIELD_COUNT && !seen[entry - 1]);
            seen[entry - 1] = true;
        }
        for (int id = 0; id < KR_KNOWN_DATA_FIELD_COUNT; ++id) {
            const KrTraceDataFieldInfo& field = Peer::Field(*master, id);
            Check(field.traced == seen[id]);
            if (!field.filtered) continue;
            Check(field.filterValue != nullptr);
            const size_t length = std::strlen(field.filterValue);
            Check(length < 8092 && (length == 0 || field.filterValue[length - 1] != '\r'));
        }
        // One trace call on a copy that outlives its master.
        CKrTraceData copy;
        Peer::Refresh(copy, *master);
        CKrErrLogMessage header(false);
        Peer::Header(*master, header);
        delete master;
        master = nullptr;
        const std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64));
        for (unsigned id = 0; id < static_cast<unsigned>(KR_KNOWN_DATA_FIELD_COUNT); ++id) {
            if (!copy.FieldTraced(id)) continue;
            if (id % 3 == 0) copy.SetFieldValue(id, text.c_str(), true);
            else copy.SetFieldValue(id, static_cast<int>(id) * 1000 - 7, true);
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
