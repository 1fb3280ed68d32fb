#include <krerrlog/support/internal/KrPropertiesFile.h>
#include <krerrlog/support/KrXlate.h>

#include "testsupport/AllocationCounter.h"
#include "testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using krerrlog::ParseProperties;
using krerrlog::PropertyList;

TEST(PropertiesFile, ParsesSeparatorsEscapesAndContinuations)
{
    const struct {
        const char* text;
        PropertyList expected;
    } cases[] = {
        {"# comment\n! another comment\n\n   \t\nplain=value\n  colon : with colon \nblank separated text\n"
         "equals = = starts with equals\n\tindented=yes\nempty=\nkeyonly\ntrailing = blanks kept   \n",
         {{"plain", "value"}, {"colon", "with colon "}, {"blank", "separated text"},
          {"equals", "= starts with equals"}, {"indented", "yes"}, {"empty", ""}, {"keyonly", ""},
          {"trailing", "blanks kept   "}}},
        {"tab=a\\tb\\nc\\rd\\fe\nback=one\\\\two\nkey\\ with\\=odd\\:chars=v\nother=\\q\\#\\!\n"
         "euro=\\u20ac \\u00E9\nemoji=\\ud83d\\ude00\nlone=\\ud83d!\nshort=\\u12g4\nutf8=Grüße\n",
         {{"tab", "a\tb\nc\rd\fe"}, {"back", "one\\two"}, {"key with=odd:chars", "v"}, {"other", "q#!"},
          {"euro", "\xE2\x82\xAC \xC3\xA9"}, {"emoji", "\xF0\x9F\x98\x80"}, {"lone", "\xEF\xBF\xBD!"},
          {"short", "\\u12g4"}, {"utf8", "Grüße"}}},
        {"long=first \\\n      second \\\n\tthird\neven=ends in backslash\\\\\nnext=line\nstop=before \\\n\n"
         "after=blank\n# a comment never continues \\\nreal=entry\neof=last\\",
         {{"long", "first second third"}, {"even", "ends in backslash\\"}, {"next", "line"}, {"stop", "before "},
          {"after", "blank"}, {"real", "entry"}, {"eof", "last"}}},
        // Not UTF-8, so read as ISO-8859-1; a byte order mark does not make the rest UTF-8.
        {"k=Gr\xFC\xDF" "e\n", {{"k", "Grüße"}}},
        {"\xEF\xBB\xBFk=\xE9t\xE9\n", {{"k", "été"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseProperties(c.text), c.expected) << c.text;
}

TEST(PropertiesFile, LineEndsOfOtherSystemsParseTheSame)
{
    const std::string unix = "# c\na=1\nb = two \\\n  lines\n\nc:3\n";
    std::string dos, mac;
    for (char c : unix) {
        dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
        mac += c == '\n' ? '\r' : c;
    }
    const PropertyList expected = {{"a", "1"}, {"b", "two lines"}, {"c", "3"}};
    for (const std::string& text : {unix, dos, mac, "\xEF\xBB\xBF" + dos}) EXPECT_EQ(ParseProperties(text), expected);
}

// A folder of bundle files for one test, set as the resource directory.
struct BundleFolder {
    BundleFolder() { EXPECT_TRUE(CKrXlate::SetResourceDirectory(dir.Path().c_str())); }
    void Write(const std::string& name, const std::string& content) { krtest::WriteFile(dir.File(name), content); }
    krtest::ScratchDir dir;
};

std::string Text(const char* bundleName, const char* locale, const char* key)
{
    CKrXlate* bundle = CKrXlate::GetBundle(bundleName, locale);
    if (!bundle) return "<no bundle>";
    const char* text = bundle->GetText(key);
    bundle->Release();
    return text ? text : "<no key>";
}

TEST(Bundles, LocalesFallBackToLanguageAndBase)
{
    BundleFolder folder;
    folder.Write("Msg.properties", "greeting=Hello\nonly.base=base text\ncount=Base {0}\n");
    folder.Write("Msg_de.properties", "greeting=Hallo\nonly.de=nur deutsch\ncount=Anzahl {0}\n");
    folder.Write("Msg_de_DE.properties", "greeting=Guten Tag\n");
    folder.Write("Msg_fr.properties", "greeting=Bonjour\n");
    folder.Write("OnlyDe_de.properties", "k=v\n");
    const struct {
        const char *bundle, *locale, *key, *expected;
    } cases[] = {
        {"Msg", "de_DE", "greeting", "Guten Tag"}, {"Msg", "de_DE", "only.de", "nur deutsch"},
        {"Msg", "de_DE", "only.base", "base text"}, {"Msg", "de_DE", "count", "Anzahl {0}"},
        {"Msg", "de_DE", "missing.key", "<no key>"}, {"Msg", "de_AT", "greeting", "Hallo"},
        {"Msg", "fr_CA", "greeting", "Bonjour"},     {"Msg", "fr_CA", "only.base", "base text"},
        {"Msg", "ja_JP", "greeting", "Hello"},       {"Msg", "en", "greeting", "Hello"},
        {"Msg", "", "greeting", "Hello"},            {"Msg", nullptr, "greeting", "Hello"},
        // Locale names as the environment spells them; no path parts in a locale.
        {"Msg", "de_DE.UTF-8", "greeting", "Guten Tag"}, {"Msg", "de-DE", "greeting", "Guten Tag"},
        {"Msg", "de_DE@euro", "greeting", "Guten Tag"},  {"Msg", "../Msg_de", "greeting", "Hello"},
        {"OnlyDe", "de_CH", "k", "v"},                   {"OnlyDe", "en", "k", "<no bundle>"},
        {"Absent", "de_DE", "k", "<no bundle>"},         {nullptr, "en", "k", "<no bundle>"},
        {"", "en", "k", "<no bundle>"},                  {"../OnlyDe", "de", "k", "<no bundle>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Text(c.bundle, c.locale, c.key), c.expected)
            << (c.bundle ? c.bundle : "null") << " " << (c.locale ? c.locale : "null") << " " << c.key;
    }
    CKrXlate* bundle = CKrXlate::GetBundle("Msg", "de");
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->GetText(nullptr), nullptr);
    bundle->Release();
    // A folder named like a bundle file is no bundle.
    ASSERT_EQ(mkdir(folder.dir.File("Folder.properties").c_str(), 0700), 0);
    EXPECT_EQ(CKrXlate::GetBundle("Folder", "en"), nullptr);
}

TEST(Bundles, ReadOnceAndCachedUntilTheFolderIsSetAgain)
{
    BundleFolder folder;
    folder.Write("Cached.properties", "k=first\n");
    CKrXlate* bundle = CKrXlate::GetBundle("Cached", "de");
    ASSERT_NE(bundle, nullptr);
    const char* first = bundle->GetText("k");
    ASSERT_STREQ(first, "first");

    // Changed, removed and new files are not seen: nothing is read again; absence is cached too.
    folder.Write("Cached.properties", "k=second\n");
    folder.Write("Cached_de.properties", "k=deutsch\n");
    EXPECT_EQ(CKrXlate::GetBundle("Cached", "de"), bundle);
    EXPECT_EQ(Text("Cached", "de", "k"), "first");
    EXPECT_EQ(CKrXlate::GetBundle("NotYet", "de"), nullptr);
    folder.Write("NotYet.properties", "k=now\n");
    EXPECT_EQ(CKrXlate::GetBundle("NotYet", "de"), nullptr);

    // Setting the folder again reads the files again; the old bundle keeps its own texts.
    ASSERT_TRUE(CKrXlate::SetResourceDirectory((folder.dir.Path() + "/").c_str()));
    EXPECT_EQ(Text("Cached", "de", "k"), "deutsch");
    EXPECT_EQ(Text("Cached", "en", "k"), "second");
    EXPECT_EQ(Text("NotYet", "de", "k"), "now");
    EXPECT_STREQ(first, "first");
    EXPECT_STREQ(bundle->GetText("k"), "first");
    bundle->Release();

    // What is no folder is refused, and the folder set before still serves.
    folder.Write("file.txt", "x");
    const std::string file = folder.dir.File("file.txt"), missing = folder.dir.File("missing");
    for (const char* bad : {static_cast<const char*>(nullptr), "", file.c_str(), missing.c_str()}) {
        EXPECT_FALSE(CKrXlate::SetResourceDirectory(bad)) << (bad ? bad : "null");
    }
    EXPECT_EQ(Text("Cached", "en", "k"), "second");
}

TEST(Bundles, CachedLookupsAllocateNothing)
{
    BundleFolder folder;
    folder.Write("Quiet.properties", "k=v\n");
    folder.Write("Quiet_de.properties", "d=w\n");
    const long start = krtest::AllocationsOnThisThread();
    ASSERT_NE(CKrXlate::GetBundle("Quiet", "de_DE.UTF-8"), nullptr);
    ASSERT_EQ(CKrXlate::GetBundle("Gone", "de"), nullptr);
    const long before = krtest::AllocationsOnThisThread();
    ASSERT_GT(before, start) << "the counter sees the first load's allocations";
    for (int i = 0; i < 100; ++i) {
        CKrXlate* bundle = CKrXlate::GetBundle("Quiet", "de_DE.UTF-8");
        ASSERT_NE(bundle, nullptr);
        EXPECT_STREQ(bundle->GetText("k"), "v");
        EXPECT_STREQ(bundle->GetText("d"), "w");
        EXPECT_EQ(bundle->GetText("none"), nullptr);
        bundle->Release();
        EXPECT_EQ(CKrXlate::GetBundle("Gone", "de"), nullptr);
    }
    EXPECT_EQ(krtest::AllocationsOnThisThread(), before);
}

TEST(BundlesThreads, ConcurrentLookupsWhileBundlesLoad)
{
    BundleFolder folder;
    const char* locales[] = {"de_DE", "de", "fr", "en", "ja"};
    auto value = [](int b, const char* kind, int k) { return "Comp" + std::to_string(b) + kind + std::to_string(k); };
    const struct {
        const char *suffix, *kind;
        int every;  // every n-th key is in the file
    } files[] = {{"", " base ", 1}, {"_de", " de ", 2}, {"_fr", " fr ", 3}};
    for (int b = 0; b < 4; ++b) {
        for (const auto& file : files) {
            std::string text;
            for (int k = 0; k < 200; k += file.every) {
                text += "key" + std::to_string(k) + "=" + value(b, file.kind, k) + "\n";
            }
            folder.Write("Comp" + std::to_string(b) + file.suffix + ".properties", text);
        }
    }
    auto expected = [&](int b, const std::string& locale, int k) {
        if (locale.rfind("de", 0) == 0 && k % 2 == 0) return value(b, " de ", k);
        return value(b, locale == "fr" && k % 3 == 0 ? " fr " : " base ", k);
    };

    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    EXPECT_TRUE(krtest::FinishesWithin(std::chrono::seconds(60), [&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                for (int i = 0; i < 4000; ++i) {
                    const int b = (i + t) % 4;
                    const char* locale = locales[(i / 4 + t) % 5];
                    const int k = (i * 7 + t) % 200;
                    CKrXlate* bundle = CKrXlate::GetBundle(("Comp" + std::to_string(b)).c_str(), locale);
                    const char* text = bundle ? bundle->GetText(("key" + std::to_string(k)).c_str()) : nullptr;
                    if (!text || expected(b, locale, k) != text) ++wrong;
                    if (bundle) bundle->Release();
                }
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();
    }));
    EXPECT_EQ(wrong.load(), 0);
}

TEST(BundlesThreads, LookupsWhileTheFolderChanges)
{
    BundleFolder first, second;
    first.Write("Swap.properties", "k=one\n");
    second.Write("Swap.properties", "k=two\n");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, readersThatLookedUp{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (bool once = true; !stop.load(); once = false) {
                CKrXlate* bundle = CKrXlate::GetBundle("Swap", "en");
                const char* text = bundle ? bundle->GetText("k") : nullptr;
                if (!text || (std::strcmp(text, "one") != 0 && std::strcmp(text, "two") != 0)) ++wrong;
                if (bundle) bundle->Release();
                if (once) readersThatLookedUp.fetch_add(1);
            }
        });
    }
    krtest::WaitUntilCountReaches(readersThatLookedUp, 4);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(CKrXlate::SetResourceDirectory((i % 2 ? first : second).dir.Path().c_str()));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

// FormatMessageA into a buffer with guard bytes around it.
std::string Fill(unsigned long outSize, const char* text, std::vector<const char*> args)
{
    std::vector<char> memory(outSize + 32, '\x5a');
    char* out = memory.data() + 16;
    CKrXlate::FormatMessageA(out, outSize, text, args.size(), args.data());
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(memory[i], '\x5a') << "written before the buffer";
        EXPECT_EQ(memory[16 + outSize + i], '\x5a') << "written past the buffer";
    }
    if (outSize == 0) return "<untouched>";
    EXPECT_NE(std::memchr(out, '\0', outSize), nullptr) << "not NUL-terminated";
    return out;
}

TEST(FormatMessage, PlaceholdersBadBracesAndCuts)
{
    const std::string huge(10000, 'h');
    const std::vector<const char*> fifteen = {"v0", "v1", "v2", "v3", "v4", "v5", "v6", "v7",
                                              "v8", "v9", "v10", "v11", "v12", "v13", "v14"};
    constexpr unsigned long kBig = 4095;
    const struct {
        unsigned long size;
        const char* text;
        std::vector<const char*> args;
        std::string expected;
    } cases[] = {
        {kBig, "User {0} failed at {1}.", {"alice", "login"}, "User alice failed at login."},
        {kBig, "{1}{0}{1}", {"a", "b"}, "bab"}, {kBig, "{00}|{01}", {"a", "b"}, "a|b"},
        {kBig, "no placeholders", {}, "no placeholders"}, {kBig, "[{0}]", {nullptr}, "[]"},
        {kBig, "{0} sees {{0}}", {"x"}, "x sees {x}"}, {kBig, "{14}{10}{9}{1}", fifteen, "v14v10v9v1"},
        // Malformed or out-of-range braces stay as they stand; quotes mean nothing.
        {kBig, "{2} of {0}", {"a", "b"}, "{2} of a"}, {kBig, "{0}", {}, "{0}"}, {kBig, "{", {"a"}, "{"},
        {kBig, "{0", {"a"}, "{0"}, {kBig, "{}", {"a"}, "{}"}, {kBig, "{x}", {"a"}, "{x}"},
        {kBig, "{-1}", {"a"}, "{-1}"}, {kBig, "{ 0}", {"a"}, "{ 0}"}, {kBig, "{0,number}", {"a"}, "{0,number}"},
        {kBig, "{99999999999999999999999}", {"a"}, "{99999999999999999999999}"},
        {kBig, "it''s '{0}'", {"a"}, "it''s 'a'"}, {kBig, "}{0}}", {"a"}, "}a}"},
        {kBig, nullptr, {"a"}, ""}, {0, "text", {}, "<untouched>"},
        // Cut to fit, never past the buffer, never inside a UTF-8 character.
        {1, "id={0}!", {"42"}, ""}, {2, "id={0}!", {"42"}, "i"}, {4, "id={0}!", {"42"}, "id="},
        {6, "id={0}!", {"42"}, "id=42"}, {7, "id={0}!", {"42"}, "id=42!"},
        {kBig, "{0}{0}", {huge.c_str()}, huge.substr(0, kBig - 1)}, {5, "{0}", {"abcdefgh"}, "abcd"},
        {5, "ab\xE2\x82\xAC", {}, "ab"}, {6, "ab\xE2\x82\xAC", {}, "ab\xE2\x82\xAC"},
        {5, "{0}", {"ab\xE2\x82\xAC"}, "ab"}, {4, "a\xC3\xA9z", {}, "a\xC3\xA9"}, {3, "a\xC3\xA9z", {}, "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "null").substr(0, 30) + " size " + std::to_string(c.size));
        EXPECT_EQ(Fill(c.size, c.text, c.args), c.expected);
    }
    // A null argv counts as no arguments; a null output is left alone.
    char out[8] = "xxxxxxx";
    CKrXlate::FormatMessageA(out, sizeof out, "{0}!", 3, nullptr);
    EXPECT_STREQ(out, "{0}!");
    CKrXlate::FormatMessageA(nullptr, 10, "text", 0, nullptr);
}

}  // namespace
