// The message catalogue: component slots filled from the component libraries
// built beside the tests, the lists and tables built from them, and the
// unloading of the libraries.
#include <krerrlog/logger/CKrErrLogComponent.h>
#include <krerrlog/logger/CKrLogComponent.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/internal/KrComponentLibrary.h>
#include <krerrlog/support/internal/KrLibraryLoader.h>
#include <krerrlog/trace/KrTraceVocabulary.h>

#include "testsupport/LoggerTestPeer.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// The component list without and with the test component (row 1, component 2).
const char kBuiltInList[] = "Log ; Log description : Legacy ; Legacy Description.";
const char kWithTestComponentList[] =
    "Log ; Log description : Legacy ; Legacy Description. | "
    "Test ; Test component : Config ; Configuration reader&Network ; Connections to the servers&"
    "Storage ; Session store";

std::string LibraryPath(const char* baseName)
{
    return std::string(krerrlog::LibraryFolder()) + "/lib" + baseName + ".so";
}

// Whether the library is mapped in this process now (without loading it).
bool IsLoaded(const char* baseName)
{
    void* handle = dlopen(LibraryPath(baseName).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

using LoggerPtr = std::unique_ptr<CKrLogger>;

LoggerPtr NewLogger() { return LoggerPtr(CKrLoggerTestPeer::Create()); }

std::vector<std::pair<unsigned int, std::string>> ComponentTable(const CKrLogger& logger)
{
    int count = 0;
    const KrTraceComponentInfo* table = CKrLoggerTestPeer::ComponentInfo(logger, count);
    std::vector<std::pair<unsigned int, std::string>> rows;
    for (int i = 0; i < count; ++i) {
        EXPECT_FALSE(table[i].selected);
        rows.emplace_back(table[i].id, table[i].name);
    }
    return rows;
}

// Puts a component into a slot of the logger, and the lists built from the
// slots, for the lifetime of the object.
class SlotSwap {
public:
    SlotSwap(CKrLogger& logger, int slot, CKrErrLogComponent* component)
        : m_logger(logger), m_slot(slot), m_saved(CKrLoggerTestPeer::Slot(logger, slot))
    {
        CKrLoggerTestPeer::SetSlot(m_logger, m_slot, component);
        CKrLoggerTestPeer::RebuildKnownInfo(m_logger);
    }
    ~SlotSwap()
    {
        CKrLoggerTestPeer::SetSlot(m_logger, m_slot, m_saved);
        CKrLoggerTestPeer::RebuildKnownInfo(m_logger);
    }

private:
    CKrLogger& m_logger;
    int m_slot;
    CKrErrLogComponent* m_saved;
};

}  // namespace

TEST(Catalogue, MessagesAndBundlesAreFoundByTheComponentSlotOfTheId)
{
    CKrLogger* logger = theLogger();
    ASSERT_TRUE(logger->Inited());
    const struct {
        unsigned int id;
        const char* message;
        const char* bundle;
    } cases[] = {
        // The built-in component, slot 0.
        {0x01000001, "%1s", "Log"}, {0x01000002, "%1s", "Log"}, {0x0100C003, "%1s", "Log"},
        {0x01004002, "%1s", "Log"},  // only the low 14 bits select
        {0x01000000, nullptr, "Log"}, {0x01000004, nullptr, "Log"}, {0x01003FFF, nullptr, "Log"},
        {0x01FFFFFF, nullptr, "Log"},
        // The test component, slot 1.
        {0x0200C003, "krtest-open-failed", "KrTestComponent"}, {0x02004001, "krtest-started", "KrTestComponent"},
        {0x02008002, "krtest-slow-request", "KrTestComponent"},
        {0x02004003, "krtest-open-failed", "KrTestComponent"},  // the severity bits do not select
        {0x0200000A, nullptr, "KrTestComponent"},               // no message 10
        // Broken libraries (slots 2, 3), no library (slot 4), no slot at all.
        {0x03000001, nullptr, nullptr}, {0x04000001, nullptr, nullptr}, {0x05000001, nullptr, nullptr},
        {0x00000001, nullptr, nullptr}, {0x0000C003, nullptr, nullptr}, {0x1B000001, nullptr, nullptr},
        {0x1B00C003, nullptr, nullptr}, {0xFF000001, nullptr, nullptr}, {0xFFFFFFFF, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.message, logger->FetchMsg(c.id)) << std::hex << c.id;
        EXPECT_STREQ(c.bundle, logger->GetMsgBundle(c.id)) << std::hex << c.id;
    }
}

TEST(Catalogue, BrokenLibrariesLeaveTheirSlotsEmptyAndAreUnloaded)
{
    const char* const broken[] = {"kragentfunccomponent", "kragentconmgrcomponent"};  // slots 2 and 3
    // Unless they were built beside the tests, the checks below would pass for nothing.
    for (const char* name : broken) ASSERT_TRUE(std::filesystem::exists(LibraryPath(name))) << LibraryPath(name);
    EXPECT_EQ(nullptr, CKrLoggerTestPeer::Slot(*theLogger(), 2));  // no entry point
    EXPECT_EQ(nullptr, CKrLoggerTestPeer::Slot(*theLogger(), 3));  // entry point gives null
    EXPECT_TRUE(IsLoaded("krtestcomponent"));

    // Loading them directly gives nothing and leaves nothing loaded.
    LoggerPtr other = NewLogger();
    for (const char* name : {broken[0], broken[1], "no-such-component", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(nullptr, CKrLoggerTestPeer::LoadComponent(*other, name)) << (name ? name : "(null)");
    for (const char* name : broken) EXPECT_FALSE(IsLoaded(name)) << name;
}

TEST(Catalogue, ListsAndTablesWithTheTestComponent)
{
    CKrLogger* logger = theLogger();
    CKrErrLogComponent* component = CKrLoggerTestPeer::Slot(*logger, 1);
    ASSERT_NE(nullptr, component);
    ASSERT_NE(nullptr, component->m_pLibrary);  // kept to unload it
    EXPECT_NE(nullptr, component->m_pLibrary->handle);
    EXPECT_EQ(nullptr, CKrLoggerTestPeer::Slot(*logger, 0)->m_pLibrary);  // built in
    EXPECT_STREQ(kWithTestComponentList, logger->GetAvailableComponents());
    const std::vector<std::pair<unsigned int, std::string>> expected = {
        {0x01000000u, "Log"},         {0x01010000u, "Log/Legacy"},   {0x02000000u, "Test"},
        {0x02010000u, "Test/Config"}, {0x02020000u, "Test/Network"}, {0x02030000u, "Test/Storage"},
    };
    EXPECT_EQ(expected, ComponentTable(*logger));
    EXPECT_EQ(0x0201u, KrVerdictIndex(0x02010000u));
}

TEST(Catalogue, DataFieldListAndTable)
{
    LoggerPtr logger = NewLogger();
    int known = 0;
    const KNOWNDATAFIELDINFO* fields = nullptr;
    GetKnownDataFields(&known, &fields);
    std::string expected;
    for (int i = 0; i < known; ++i) expected += std::string(i ? " " : "") + fields[i].name;
    ASSERT_NE(nullptr, logger->GetAvailableDataFields());
    EXPECT_EQ(expected, logger->GetAvailableDataFields());
    EXPECT_EQ(0, expected.rfind("Message SrcFile Pid Tid Date ", 0)) << expected;

    int count = 0;
    const KrTraceDataFieldInfo* table = CKrLoggerTestPeer::DataFieldInfo(*logger, count);
    ASSERT_EQ(known, count);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(static_cast<uint32_t>(i), table[i].id);
        EXPECT_EQ(fields[i].name, table[i].name);  // the table's own text, not a copy
        EXPECT_EQ(fields[i].width, table[i].width);
        EXPECT_FALSE(table[i].traced || table[i].filtered || table[i].valueType || table[i].filterOp ||
                     table[i].filterValue || table[i].value)
            << "field " << i << " starts untraced and unfiltered";
    }
}

TEST(Catalogue, ReleasedLoggerAnswersNothing)
{
    LoggerPtr logger = NewLogger();
    EXPECT_STREQ("%1s", logger->FetchMsg(0x01000001));
    CKrLoggerTestPeer::Release(*logger);
    EXPECT_EQ(nullptr, logger->FetchMsg(0x01000001));
    EXPECT_EQ(nullptr, logger->GetMsgBundle(0x01000001));
    EXPECT_EQ(nullptr, logger->FetchMsg(0x0200C003));
    EXPECT_EQ(nullptr, logger->GetAvailableComponents());
    EXPECT_EQ(nullptr, logger->GetAvailableDataFields());
    int count = -1;
    EXPECT_EQ(nullptr, CKrLoggerTestPeer::ComponentInfo(*logger, count));
    EXPECT_EQ(0, count);

    CKrLoggerTestPeer::Init(*logger);
    EXPECT_STREQ("%1s", logger->FetchMsg(0x01000001));
    EXPECT_STREQ("krtest-open-failed", logger->FetchMsg(0x0200C003));
    EXPECT_STREQ(kWithTestComponentList, logger->GetAvailableComponents());
    // The process-wide logger still serves the shared component object.
    EXPECT_STREQ("krtest-open-failed", theLogger()->FetchMsg(0x0200C003));
}

TEST(Catalogue, OnlyTheBuiltInComponentWhenTheSlotsAreEmpty)
{
    LoggerPtr logger = NewLogger();
    {
        std::vector<std::unique_ptr<SlotSwap>> emptied;
        for (int slot = 1; slot < 26; ++slot) emptied.push_back(std::make_unique<SlotSwap>(*logger, slot, nullptr));
        EXPECT_STREQ(kBuiltInList, logger->GetAvailableComponents());
        const std::vector<std::pair<unsigned int, std::string>> expected = {{0x01000000u, "Log"},
                                                                            {0x01010000u, "Log/Legacy"}};
        EXPECT_EQ(expected, ComponentTable(*logger));
        EXPECT_EQ(nullptr, logger->FetchMsg(0x0200C003));
        EXPECT_STREQ("%1s", logger->FetchMsg(0x01000003));
    }
    EXPECT_STREQ(kWithTestComponentList, logger->GetAvailableComponents());
}

namespace {

// A component whose texts do not respect the documented limits.
class CKrUnrulyComponent : public CKrErrLogComponent {
public:
    CKrUnrulyComponent()
    {
        m_id = 0x07AB0000u, m_name = "Unruly", m_description = nullptr, m_bundleName = nullptr;  // stray sub byte
        std::memset(&m_subs, 'x', sizeof m_subs);  // names without a NUL in their 32 bytes
        m_subs[0].description = nullptr;
        m_subs[1].description = "second";
    }
    void GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list) override { count = 2, list = m_subs; }
    const char* GetMessage(unsigned int) override { return nullptr; }
    KrSubComponentInfo m_subs[2];
};

// A component that lists one more sub-component each time it is asked.
class CKrGrowingComponent : public CKrErrLogComponent {
public:
    CKrGrowingComponent() { m_id = 0x08000000u, m_name = "Growing", m_description = "grows"; }
    void GetSubComponents(unsigned int& count, const KrSubComponentInfo*& list) override
    {
        count = m_listed < 3 ? ++m_listed : m_listed;
        list = m_subs;
    }
    const char* GetMessage(unsigned int) override { return nullptr; }
    unsigned int m_listed = 0;
    KrSubComponentInfo m_subs[3] = {{"a", "A", "first"}, {"b", "B", "second"}, {"c", "C", "third"}};
};

}  // namespace

TEST(Catalogue, ComponentsBreakingTheLimitsAreListedSafely)
{
    LoggerPtr logger = NewLogger();
    CKrUnrulyComponent unruly;
    SlotSwap swap(*logger, 6, &unruly);

    const std::string names32(32, 'x');
    const std::string list = logger->GetAvailableComponents();
    EXPECT_NE(std::string::npos,
              list.find(" | Unruly ;  : " + names32 + " ; &" + names32 + " ; second"))
        << list;
    const auto table = ComponentTable(*logger);
    ASSERT_EQ(9u, table.size());
    EXPECT_EQ(std::make_pair(0x07000000u, std::string("Unruly")), table[6]);
    EXPECT_EQ(std::make_pair(0x07010000u, "Unruly/" + names32), table[7]);
    EXPECT_EQ(std::make_pair(0x07020000u, "Unruly/" + names32), table[8]);
    // No bundle name: the slot has no bundle.
    EXPECT_EQ(nullptr, logger->GetMsgBundle(0x07000001));
}

TEST(Catalogue, ListAndTableFollowOneAnswerOfAChangingComponent)
{
    LoggerPtr logger = NewLogger();
    CKrGrowingComponent growing;
    SlotSwap swap(*logger, 7, &growing);

    const std::string list = logger->GetAvailableComponents();
    const std::string tail = " | Growing ; grows : A ; first";
    ASSERT_GE(list.size(), tail.size());
    EXPECT_EQ(tail, list.substr(list.size() - tail.size())) << list;
    const auto table = ComponentTable(*logger);
    ASSERT_EQ(8u, table.size());
    EXPECT_EQ(std::make_pair(0x08000000u, std::string("Growing")), table[6]);
    EXPECT_EQ(std::make_pair(0x08010000u, std::string("Growing/A")), table[7]);
}

TEST(Catalogue, ThisLibrarysEntryPointGivesOneBuiltInComponent)
{
    // Its names and texts show in the lists and catalogue checked above.
    CKrErrLogComponent* component = GetComponentPtr();
    ASSERT_NE(nullptr, component);
    EXPECT_EQ(component, GetComponentPtr());
    EXPECT_NE(nullptr, dynamic_cast<CKrLogComponent*>(component));
    unsigned int count = 0;
    const KrSubComponentInfo* subs = nullptr;
    component->GetSubComponents(count, subs);
    ASSERT_EQ(1u, count);
    EXPECT_STREQ("Legacy", subs[0].key);
    EXPECT_EQ(nullptr, component->GetMessage(0x4000));
}

// Fresh processes: the libraries' unloading is a once-per-process event.
TEST(CatalogueDeathTest, FirstReleaseUnloadsTheLibrariesLaterOnesNothing)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CKrLogger* logger = CKrLoggerTestPeer::Create();
            bool ok = IsLoaded("krtestcomponent");
            CKrLoggerTestPeer::Release(*logger);
            ok = ok && !IsLoaded("krtestcomponent") && CKrLoggerTestPeer::ComponentCount(*logger) == 0;
            delete logger;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    auto serves = [](CKrLogger* logger) { return !std::strcmp(logger->FetchMsg(0x0200C003), "krtest-open-failed"); };
    EXPECT_EXIT(
        {
            LoggerPtr first = NewLogger();
            LoggerPtr second = NewLogger();
            CKrLoggerTestPeer::Release(*first);
            bool ok = IsLoaded("krtestcomponent") && serves(second.get());  // still served after the first release
            CKrLoggerTestPeer::Release(*second);
            ok = ok && IsLoaded("krtestcomponent") && CKrLoggerTestPeer::ComponentCount(*second) == 26;
            ok = ok && serves(NewLogger().get());
            second.reset();
            first.reset();
            std::exit(ok && IsLoaded("krtestcomponent") ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A copy of this program in a folder without component libraries sees only
// the built-in component. The copy runs the test below, which is skipped when
// the program runs where it was built.
TEST(CatalogueWithoutLibraries, CopiedProgramSeesOnlyTheBuiltInComponent)
{
    krtest::ScratchDir dir;
    const std::string copy = dir.File("catalogue_alone");
    std::filesystem::copy_file("/proc/self/exe", copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    const std::string command = "KRERRLOG_EXPECT_NO_COMPONENTS=1 " + copy +
                                " --gtest_also_run_disabled_tests --gtest_filter=CatalogueWithoutLibraries.DISABLED_BuiltInOnly >/dev/null 2>&1";
    EXPECT_EQ(0, std::system(command.c_str()));
}

// Disabled in the normal run: it is meant for the copy of this program that
// runs from a folder without the component libraries.
TEST(CatalogueWithoutLibraries, DISABLED_BuiltInOnly)
{
    if (!std::getenv("KRERRLOG_EXPECT_NO_COMPONENTS")) GTEST_SKIP() << "runs in the copied program only";
    CKrLogger* logger = theLogger();
    ASSERT_FALSE(IsLoaded("krtestcomponent"));
    EXPECT_STREQ(kBuiltInList, logger->GetAvailableComponents());
    EXPECT_STREQ("%1s", logger->FetchMsg(0x01000002));
    EXPECT_EQ(nullptr, logger->FetchMsg(0x0200C003));
    for (int slot = 1; slot < 26; ++slot) EXPECT_EQ(nullptr, CKrLoggerTestPeer::Slot(*logger, slot));
    int count = 0;
    CKrLoggerTestPeer::ComponentInfo(*logger, count);
    EXPECT_EQ(2, count);
}
