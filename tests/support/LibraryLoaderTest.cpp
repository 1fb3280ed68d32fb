#include <krerrlog/support/internal/KrLibraryLoader.h>

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

// Built by tests/support/tests.cmake into the folder of the test program, which
// is not on the loader's search path: only the look-up beside the library finds it.
constexpr const char* kPlugin = "krsupporttestplugin";

TEST(LibraryLoader, FindsALibraryBesideTheLoggingLibrary)
{
    const std::string beside = std::string(krerrlog::LibraryFolder()) + "/lib" + kPlugin + ".so";
    ASSERT_EQ(access(beside.c_str(), F_OK), 0) << beside << " was not built";

    HMODULE library = KrLoadLibrary(kPlugin);
    ASSERT_NE(library, nullptr);
    auto answer = reinterpret_cast<int (*)()>(KrGetProcAddress(library, "KrSupportTestAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(KrGetProcAddress(library, "NoSuchSymbol"), nullptr);
    EXPECT_EQ(KrGetProcAddress(library, nullptr), nullptr);

    // A second load is counted; each is given back separately.
    HMODULE again = KrLoadLibrary(kPlugin);
    EXPECT_EQ(again, library);
    EXPECT_TRUE(KrFreeLibrary(again));
    EXPECT_TRUE(KrFreeLibrary(library));
}

TEST(LibraryLoader, MissingLibrariesAndBadArguments)
{
    for (const char* name : {"krnosuchcomponentlibrary", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(KrLoadLibrary(name), nullptr) << (name ? name : "null");
    }
    EXPECT_EQ(KrGetProcAddress(nullptr, "KrSupportTestAnswer"), nullptr);
    EXPECT_FALSE(KrFreeLibrary(nullptr));
}

}  // namespace
