// Feeds arbitrary bytes to the trace configuration reader (parsed from memory:
// the file path reads the file and takes the same path), then drives the
// record it produced through a whole trace call, checking the reader's
// invariants on the way. Lines of 100,000 bytes are a unit test's case
// (TraceConfigReader.LongLinesAndManyFilterLines); here inputs stay short.
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/internal/KrTraceConfigDiagnostics.h>
#include <krerrlog/trace/internal/KrTraceFieldSettings.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

class CKrTraceDataTestPeer {
public:
    static bool Configure(CKrTraceData& record, int format, const char* text, size_t length,
                          KrTraceComponentInfo* components, int componentCount, KrTraceDataFieldInfo* fields)
    {
        const bool read = record.PrepareConfiguration(format, format == 2 ? ", " : nullptr, componentCount,
                                                      components, fields, (format & 1) != 0) &&
                          record.ReadConfigText(text, length);
        if (read) record.SetDateTimeFieldFromConfiguration();
        return read;
    }
    // The same read with a diagnostics sink, as the operators' checker does it.
    static bool ConfigureReporting(CKrTraceData& record, int format, const char* text, size_t length,
                                   KrTraceComponentInfo* components, int componentCount,
                                   KrTraceDataFieldInfo* fields, krerrlog::TraceConfigDiagnostics& sink)
    {
        return record.PrepareConfiguration(format, format == 2 ? ", " : nullptr, componentCount, components, fields,
                                           (format & 1) != 0) &&
               record.ReadConfigText(text, length, &sink);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tables tables;
    // A leading 0xFE asks for a part of the input to be repeated, so that short
    // inputs reach lines longer than the 8,092-byte line buffer and hundreds of
    // filter lines: 0xFE, count, prefix length, prefix, unit (repeated up to
    // count * 64 + 1 times, to at most 10,000 bytes).
    std::string expanded;
    if (size > 3 && data[0] == 0xFE) {
        const size_t prefix = std::min<size_t>(data[2], size - 3), unit = size - 3 - prefix;
        const char* rest = reinterpret_cast<const char*>(data + 3);
        expanded.assign(rest, prefix);
        for (size_t i = 0; i <= data[1] * size_t(64) && unit > 0 && expanded.size() < 10000; ++i)
            expanded.append(rest + prefix, unit);
        data = reinterpret_cast<const uint8_t*>(expanded.data());
        size = expanded.size();
    }
    const int format = size > 0 ? data[size - 1] % 5 : 0;
    auto* master = new CKrTraceData;
    const bool read = Peer::Configure(*master, format, reinterpret_cast<const char*>(data), size, tables.components, 8,
                                      tables.fields);
    {
        // Reporting changes nothing the reader produces.
        CKrTraceData reported;
        CountingSink sink;
        const bool readReporting = Peer::ConfigureReporting(reported, format, reinterpret_cast<const char*>(data), size,
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
        // The listed ids, an unlisted sub-component of each and an unknown component.
        for (const KrTraceComponentInfo& entry : tables.components) {
            copy.ComponentSelected(entry.id);
            copy.ComponentSelected(entry.id | 0x00FF0000u);
        }
        copy.ComponentSelected(0x04000000u);
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
