#include "TraceDataTestPeer.h"
#include <krerrlog/trace/internal/KrTraceFieldSettings.h>

#include <atomic>

namespace krtest {

TraceTables::TraceTables()
{
    const std::pair<const char*, unsigned int> components[] = {
        {"Server", kServer}, {"Server/Send", kServerSend}, {"Server/Receive", 0x01020000},
        {"Login_Logout", kLoginLogout}, {"Login_Logout/Authentication", 0x02010000},
        {"Login_Logout/Send_Response", 0x02020000}, {"Login_Logout/Receive_Request", kLoginReceiveRequest},
        {"IsAuthorized", 0x03000000}, {"IsAuthorized/Send_Response", 0x03010000},
        {"IsAuthorized/Receive_Request", 0x03020000}, {"Agent", kAgent},
    };
    for (const auto& [name, id] : components) {
        m_names.push_back(std::make_unique<std::string>(name));
        KrTraceComponentInfo entry;
        entry.id = id;
        entry.name = m_names.back()->c_str();
        m_components.push_back(entry);
    }
    krerrlog::FillKnownDataFieldInfo(m_fields);
}

void TraceTables::DestroyNames()
{
    for (auto& name : m_names) {
        name->assign(name->size(), '#');
        name.reset();
    }
    for (auto& entry : m_components) entry.name = nullptr;
}

ConfiguredRecord ReadConfiguration(TraceTables& tables, const std::string& content, int format,
                                   const char* delimiter, bool useLocalTime)
{
    static std::atomic<int> serial{0};
    ScratchDir dir;
    const std::string path = dir.File("trace" + std::to_string(serial++) + ".conf");
    WriteFile(path, content);
    ConfiguredRecord result;
    result.record = std::make_unique<CKrTraceData>();
    result.read = CKrTraceDataTestPeer::SetConfiguration(*result.record, format, delimiter, path.c_str(),
                                                         tables.ComponentCount(), tables.Components(),
                                                         tables.Fields(), useLocalTime);
    if (result.read) CKrTraceDataTestPeer::SetDateTimeFieldFromConfiguration(*result.record);
    return result;
}

}  // namespace krtest
