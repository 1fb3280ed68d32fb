#include "TraceDataTestPeer.h"
#include <krerrlog/trace/KrTraceFieldSettings.h>

#include <atomic>

namespace krtest {

TraceTables::TraceTables()
{
    const std::pair<const char*, unsigned int> components[] = {
        {"Server", kServer},
        {"Server/Send", kServerSend},
        {"Server/Receive", kServerReceive},
        {"Login_Logout", kLoginLogout},
        {"Login_Logout/Authentication", kLoginAuthentication},
        {"Login_Logout/Send_Response", kLoginSendResponse},
        {"Login_Logout/Receive_Request", kLoginReceiveRequest},
        {"IsAuthorized", kIsAuthorized},
        {"IsAuthorized/Send_Response", kIsAuthorizedSendResponse},
        {"IsAuthorized/Receive_Request", kIsAuthorizedReceiveRequest},
        {"Agent", kAgent},
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
