#include <krerrlog/trace/KrTraceVocabulary.h>

namespace {

// The position of a row is the field id callers pass: never reorder.
constexpr KNOWNDATAFIELDINFO kKnownDataFields[KR_KNOWN_DATA_FIELD_COUNT] = {
    {"Message", 64},         {"SrcFile", 32},       {"Pid", 8},                {"Tid", 8},
    {"Date", 16},            {"Time", 8},           {"PreciseTime", 16},       {"Function", 32},
    {"ReturnValue", 32},     {"User", 32},          {"Group", 32},             {"Domain", 64},
    {"Realm", 64},           {"Policy", 64},        {"Rule", 64},              {"Directory", 64},
    {"AgentName", 64},       {"AgentType", 64},     {"TransactionID", 64},     {"ObjectClass", 64},
    {"DomainOID", 64},       {"SearchKey", 64},     {"ErrorString", 64},       {"ErrorValue", 64},
    {"ObjectOID", 64},       {"Property", 64},      {"IPAddr", 32},            {"IPPort", 16},
    {"AuthStatus", 32},      {"AuthReason", 32},    {"AuthScheme", 32},        {"CertSerial", 32},
    {"SubjectDN", 64},       {"IssuerDN", 64},      {"SessionSpec", 64},       {"SessionID", 16},
    {"CertDistPt", 64},      {"UserDN", 64},        {"Resource", 64},          {"Action", 64},
    {"RealmOID", 64},        {"State", 8},          {"ClusterID", 16},         {"HandleCount", 16},
    {"FreeHandleCount", 16}, {"BusyHandleCount", 16}, {"ResponseTime", 32},    {"Throughput", 32},
    {"MaxThroughput", 32},   {"MinThroughput", 32}, {"Threshold", 32},         {"TransactionName", 32},
    {"Data", 64},            {"HexadecimalData", 128}, {"Query", 64},          {"ActiveExpr", 64},
    {"CallDetail", 64},      {"RequestIPAddr", 32}, {"Returns", 8},            {"Expression", 32},
    {"Result", 16},          {"CacheHits", 5},      {"CacheSize", 5},          {"RefCount", 5},
    {"ExecutionTime", 24},   {"Tenant", 64},        {"Tag", 16},
};

// Entry 0 is the logger's built-in component; the others are loaded in order.
const char* kKnownComponentLibs[KR_KNOWN_COMPONENT_LIB_COUNT] = {
    "krlogcomponent",
    "krtestcomponent",
    "kragentfunccomponent",
    "kragentconmgrcomponent",
    "krservercomponent",
    "krisprotectedcomponent",
    "krloginlogoutcomponent",
    "krisauthorizedcomponent",
    "krtunnelcomponent",
    "krjavaapicomponent",
    "krdirectorycomponent",
    "krodbccomponent",
    "krldapcomponent",
    "kragentframeworkcomponent",
    "krwebagentcomponent",
    "krxmlagentcomponent",
    "krsamlagentcomponent",
    "krhttpagentcomponent",
    "kraffiliateagentcomponent",
    "krvellcomponent",
    "krtessercomponent",
    "krproxyagentcomponent",
    "krfedclientcomponent",
    "krfedservercomponent",
    "krportalagentcomponent",
    "krquorvcomponent",
};

}  // namespace

bool GetKnownComponentLibs(int* count, const char*** names) {
    *count = KR_KNOWN_COMPONENT_LIB_COUNT;
    *names = kKnownComponentLibs;
    return true;
}

bool GetKnownDataFields(int* count, const KNOWNDATAFIELDINFO** fields) {
    *count = KR_KNOWN_DATA_FIELD_COUNT;
    *fields = kKnownDataFields;
    return true;
}
