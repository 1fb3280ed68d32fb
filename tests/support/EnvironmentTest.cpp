#include <krerrlog/support/internal/KrEnvironment.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

void SetOrUnset(const char* name, const char* value)
{
    value ? setenv(name, value, 1) : unsetenv(name);
}

// Saves the locale variables and puts them back (and the cached locale) afterwards.
class LocaleEnvironment : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 3; ++i) {
            if (const char* value = std::getenv(kNames[i])) m_saved[i] = value;
        }
    }
    void TearDown() override
    {
        for (int i = 0; i < 3; ++i) SetOrUnset(kNames[i], m_saved[i] ? m_saved[i]->c_str() : nullptr);
        krerrlog::SetAdminLocale(nullptr);
    }
    static std::string LocaleWith(const char* lcAll, const char* lcMessages, const char* lang)
    {
        const char* values[] = {lcAll, lcMessages, lang};
        for (int i = 0; i < 3; ++i) SetOrUnset(kNames[i], values[i]);
        krerrlog::SetAdminLocale(nullptr);
        return KrGetAdminLocale();
    }

    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> m_saved[3];
};

TEST_F(LocaleEnvironment, AdminLocaleFollowsTheMessageLocaleVariables)
{
    const struct {
        const char *lcAll, *lcMessages, *lang, *expected;
    } cases[] = {
        {nullptr, nullptr, nullptr, "en"}, {nullptr, nullptr, "de_DE.UTF-8", "de_DE"},
        {nullptr, "fr_FR", "de_DE.UTF-8", "fr_FR"}, {"ja_JP.eucJP@x", "fr_FR", "de_DE", "ja_JP"},
        {"", "", "pt_BR", "pt_BR"},  // empty variables are not set
        {nullptr, nullptr, "C", "en"}, {nullptr, nullptr, "POSIX", "en"}, {nullptr, nullptr, "it@euro", "it"},
        {"C.UTF-8", nullptr, "de_DE", "en"},  // LC_ALL wins even when it is C
    };
    for (const auto& c : cases) EXPECT_EQ(LocaleWith(c.lcAll, c.lcMessages, c.lang), c.expected) << &c - cases;
}

TEST_F(LocaleEnvironment, AdminLocaleIsReadOnceUntilAskedAgain)
{
    EXPECT_EQ(LocaleWith(nullptr, nullptr, "de_DE"), "de_DE");
    setenv("LANG", "fr_FR", 1);
    EXPECT_STREQ(KrGetAdminLocale(), "de_DE");
    krerrlog::SetAdminLocale("es");
    EXPECT_STREQ(KrGetAdminLocale(), "es");
    krerrlog::SetAdminLocale(nullptr);
    EXPECT_STREQ(KrGetAdminLocale(), "fr_FR");
}

TEST(Environment, GetEnvValueOrNull)
{
    setenv("KRERRLOG_TEST_VARIABLE", "some value", 1);
    CKrGetEnv set("KRERRLOG_TEST_VARIABLE");
    // The text belongs to the object: changing the environment does not change it.
    setenv("KRERRLOG_TEST_VARIABLE", "", 1);
    ASSERT_NE(set.c_str(), nullptr);
    EXPECT_STREQ(set.c_str(), "some value");
    CKrGetEnv empty("KRERRLOG_TEST_VARIABLE");
    ASSERT_NE(empty.c_str(), nullptr) << "set to empty is still set";
    EXPECT_STREQ(empty.c_str(), "");
    unsetenv("KRERRLOG_TEST_VARIABLE");
    EXPECT_EQ(CKrGetEnv("KRERRLOG_TEST_VARIABLE").c_str(), nullptr);
    EXPECT_EQ(CKrGetEnv(nullptr).c_str(), nullptr);
}

TEST(Environment, NumberToString)
{
    const struct {
        unsigned long long value;
        const char* text;
    } cases[] = {
        {0, "0"}, {7, "7"}, {10, "10"}, {99, "99"}, {100, "100"}, {123456, "123456"}, {1000000, "1000000"},
        {9999999999999999999ULL, "9999999999999999999"}, {10000000000000000000ULL, "10000000000000000000"},
        {18446744073709551615ULL, "18446744073709551615"}};
    for (const auto& c : cases) {
        char out[32];
        std::memset(out, '#', sizeof out);
        number2string(c.value, out);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(out[std::strlen(c.text) + 1], '#') << "wrote past the NUL";
    }
    number2string(5, nullptr);  // no buffer: nothing happens
}

}  // namespace
