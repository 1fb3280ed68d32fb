#include <krerrlog/support/KrPropertiesFile.h>
#include <krerrlog/support/KrXlate.h>

#include "testsupport/TestFiles.h"

#include "testsupport/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <vector>


namespace {

using krerrlog::ParseProperties;
using krerrlog::PropertyList;

PropertyList Entries(std::initializer_list<std::pair<const char*, const char*>> list)
{
    PropertyList entries;
    for (const auto& [key, value] : list) entries.emplace_back(key, value);
    return entries;
}

TEST(PropertiesFile, SeparatorsBlanksAndComments)
{
    const char* text =
        "# comment\n"
        "! another comment\n"
        "\n"
        "   \t\n"
        "plain=value\n"
        "  colon : with colon \n"
        "blank separated text\n"
        "equals = = starts with equals\n"
        "\tindented=yes\n"
        "empty=\n"
        "keyonly\n"
        "trailing = blanks kept   \n";
    EXPECT_EQ(ParseProperties(text), Entries({{"plain", "value"},
                                              {"colon", "with colon "},
                                              {"blank", "separated text"},
                                              {"equals", "= starts with equals"},
                                              {"indented", "yes"},
                                              {"empty", ""},
                                              {"keyonly", ""},
                                              {"trailing", "blanks kept   "}}));
}

TEST(PropertiesFile, EscapesAndUnicode)
{
    const char* text =
        "tab=a\\tb\\nc\\rd\\fe\n"
        "back=one\\\\two\n"
        "key\\ with\\=odd\\:chars=v\n"
        "other=\\q\\#\\!\n"
        "euro=\\u20ac \\u00E9\n"
        "emoji=\\ud83d\\ude00\n"
        "lone=\\ud83d!\n"
        "short=\\u12g4\n"
        "utf8=Grüße\n";
    EXPECT_EQ(ParseProperties(text), Entries({{"tab", "a\tb\nc\rd\fe"},
                                              {"back", "one\\two"},
                                              {"key with=odd:chars", "v"},
                                              {"other", "q#!"},
                                              {"euro", "\xE2\x82\xAC \xC3\xA9"},
                                              {"emoji", "\xF0\x9F\x98\x80"},
                                              {"lone", "\xEF\xBF\xBD!"},
                                              {"short", "\\u12g4"},
                                              {"utf8", "Grüße"}}));
}

TEST(PropertiesFile, ContinuationLines)
{
    const char* text =
        "long=first \\\n"
        "      second \\\n"
        "\tthird\n"
        "even=ends in backslash\\\\\n"
        "next=line\n"
        "stop=before \\\n"
        "\n"
        "after=blank\n"
        "# a comment never continues \\\n"
        "real=entry\n"
        "eof=last\\";
    EXPECT_EQ(ParseProperties(text), Entries({{"long", "first second third"},
                                              {"even", "ends in backslash\\"},
                                              {"next", "line"},
                                              {"stop", "before "},
                                              {"after", "blank"},
                                              {"real", "entry"},
                                              {"eof", "last"}}));
}

TEST(PropertiesFile, LineEndsOfOtherSystemsParseTheSame)
{
    const std::string unix = "# c\na=1\nb = two \\\n  lines\n\nc:3\n";
    std::string dos;
    std::string mac;
    for (char c : unix) {
        dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
        mac += c == '\n' ? '\r' : c;
    }
    const PropertyList expected = Entries({{"a", "1"}, {"b", "two lines"}, {"c", "3"}});
    EXPECT_EQ(ParseProperties(unix), expected);
    EXPECT_EQ(ParseProperties(dos), expected);
    EXPECT_EQ(ParseProperties(mac), expected);
    EXPECT_EQ(ParseProperties("\xEF\xBB\xBF" + dos), expected) << "byte order mark";
}

TEST(PropertiesFile, Latin1FilesAreConverted)
{
    // "Grüße" as ISO-8859-1 bytes: not UTF-8, so the file is read as Latin-1.
    EXPECT_EQ(ParseProperties("k=Gr\xFC\xDF" "e\n"), Entries({{"k", "Grüße"}}));
    // A byte order mark does not make the rest UTF-8.
    EXPECT_EQ(ParseProperties("\xEF\xBB\xBFk=\xE9t\xE9\n"), Entries({{"k", "été"}}));
}

// A folder of bundle files for one test, set as the resource directory.
class BundleFolder {
public:
    BundleFolder() { EXPECT_TRUE(CKrXlate::SetResourceDirectory(m_dir.Path().c_str())); }
    void Write(const std::string& name, const std::string& content) { krtest::WriteFile(m_dir.File(name), content); }
    const krtest::ScratchDir& Dir() const { return m_dir; }

private:
    krtest::ScratchDir m_dir;
};

std::string Text(CKrXlate* bundle, const char* key)
{
    if (!bundle) return "<no bundle>";
    const char* text = bundle->GetText(key);
    return text ? text : "<no key>";
}

TEST(Bundles, LocalesFallBackToLanguageAndBase)
{
    BundleFolder folder;
    folder.Write("Msg.properties", "greeting=Hello\nonly.base=base text\ncount=Base {0}\n");
    folder.Write("Msg_de.properties", "greeting=Hallo\nonly.de=nur deutsch\ncount=Anzahl {0}\n");
    folder.Write("Msg_de_DE.properties", "greeting=Guten Tag\n");
    folder.Write("Msg_fr.properties", "greeting=Bonjour\n");

    CKrXlate* de_DE = CKrXlate::GetBundle("Msg", "de_DE");
    ASSERT_NE(de_DE, nullptr);
    EXPECT_EQ(Text(de_DE, "greeting"), "Guten Tag");
    EXPECT_EQ(Text(de_DE, "only.de"), "nur deutsch");
    EXPECT_EQ(Text(de_DE, "only.base"), "base text");
    EXPECT_EQ(Text(de_DE, "count"), "Anzahl {0}");
    EXPECT_EQ(Text(de_DE, "missing.key"), "<no key>");
    EXPECT_EQ(de_DE->GetText(nullptr), nullptr);
    de_DE->Release();

    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "de_AT"), "greeting"), "Hallo");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "fr_CA"), "greeting"), "Bonjour");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "fr_CA"), "only.base"), "base text");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "ja_JP"), "greeting"), "Hello");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "en"), "greeting"), "Hello");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", ""), "greeting"), "Hello");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", nullptr), "greeting"), "Hello");

    // Locale names as the environment spells them.
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "de_DE.UTF-8"), "greeting"), "Guten Tag");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "de-DE"), "greeting"), "Guten Tag");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "de_DE@euro"), "greeting"), "Guten Tag");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Msg", "../Msg_de"), "greeting"), "Hello") << "no path parts in a locale";
}

TEST(Bundles, MissingBundlesAndBadNames)
{
    BundleFolder folder;
    folder.Write("OnlyDe_de.properties", "k=v\n");
    EXPECT_EQ(CKrXlate::GetBundle("Absent", "de_DE"), nullptr);
    EXPECT_EQ(CKrXlate::GetBundle("OnlyDe", "en"), nullptr);
    EXPECT_EQ(Text(CKrXlate::GetBundle("OnlyDe", "de_CH"), "k"), "v");
    EXPECT_EQ(CKrXlate::GetBundle(nullptr, "en"), nullptr);
    EXPECT_EQ(CKrXlate::GetBundle("", "en"), nullptr);
    EXPECT_EQ(CKrXlate::GetBundle("../OnlyDe", "de"), nullptr);

    // A folder named like a bundle file is no bundle.
    ASSERT_EQ(mkdir(folder.Dir().File("Folder.properties").c_str(), 0700), 0);
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

    // Changed, removed and new files are not seen: nothing is read again.
    folder.Write("Cached.properties", "k=second\n");
    folder.Write("Cached_de.properties", "k=deutsch\n");
    EXPECT_EQ(CKrXlate::GetBundle("Cached", "de"), bundle);
    EXPECT_EQ(Text(CKrXlate::GetBundle("Cached", "de"), "k"), "first");
    EXPECT_EQ(CKrXlate::GetBundle("NotYet", "de"), nullptr);
    folder.Write("NotYet.properties", "k=now\n");
    EXPECT_EQ(CKrXlate::GetBundle("NotYet", "de"), nullptr) << "absence is cached too";

    // Setting the folder again reads the files again; the old bundle keeps its own texts.
    ASSERT_TRUE(CKrXlate::SetResourceDirectory((folder.Dir().Path() + "/").c_str()));
    EXPECT_EQ(Text(CKrXlate::GetBundle("Cached", "de"), "k"), "deutsch");
    EXPECT_EQ(Text(CKrXlate::GetBundle("Cached", "en"), "k"), "second");
    EXPECT_EQ(Text(CKrXlate::GetBundle("NotYet", "de"), "k"), "now");
    EXPECT_STREQ(first, "first");
    EXPECT_STREQ(bundle->GetText("k"), "first");
    bundle->Release();
}

TEST(Bundles, SetResourceDirectoryRefusesWhatIsNoFolder)
{
    BundleFolder folder;
    folder.Write("Here.properties", "k=here\n");
    folder.Write("file.txt", "x");
    EXPECT_FALSE(CKrXlate::SetResourceDirectory(nullptr));
    EXPECT_FALSE(CKrXlate::SetResourceDirectory(""));
    EXPECT_FALSE(CKrXlate::SetResourceDirectory(folder.Dir().File("file.txt").c_str()));
    EXPECT_FALSE(CKrXlate::SetResourceDirectory(folder.Dir().File("missing").c_str()));
    // Nothing changed: the folder set before still serves.
    EXPECT_EQ(Text(CKrXlate::GetBundle("Here", "en"), "k"), "here");
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
    for (int b = 0; b < 4; ++b) {
        const std::string name = "Comp" + std::to_string(b);
        std::string base, de, fr;
        for (int k = 0; k < 200; ++k) {
            base += "key" + std::to_string(k) + "=" + name + " base " + std::to_string(k) + "\n";
            if (k % 2 == 0) de += "key" + std::to_string(k) + "=" + name + " de " + std::to_string(k) + "\n";
            if (k % 3 == 0) fr += "key" + std::to_string(k) + "=" + name + " fr " + std::to_string(k) + "\n";
        }
        folder.Write(name + ".properties", base);
        folder.Write(name + "_de.properties", de);
        folder.Write(name + "_fr.properties", fr);
    }
    auto expected = [](int b, const std::string& locale, int k) {
        std::string name = "Comp" + std::to_string(b);
        if (locale.rfind("de", 0) == 0 && k % 2 == 0) return name + " de " + std::to_string(k);
        if (locale == "fr" && k % 3 == 0) return name + " fr " + std::to_string(k);
        return name + " base " + std::to_string(k);
    };

    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    const bool finished = krtest::FinishesWithin(std::chrono::seconds(60), [&] {
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                while (!go.load()) std::this_thread::yield();
                char key[32];
                for (int i = 0; i < 4000; ++i) {
                    const int b = (i + t) % 4;
                    const char* locale = locales[(i / 4 + t) % 5];
                    const int k = (i * 7 + t) % 200;
                    CKrXlate* bundle = CKrXlate::GetBundle(("Comp" + std::to_string(b)).c_str(), locale);
                    std::snprintf(key, sizeof key, "key%d", k);
                    const char* text = bundle ? bundle->GetText(key) : nullptr;
                    if (!text || expected(b, locale, k) != text) ++wrong;
                    if (bundle) bundle->Release();
                }
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();
    });
    EXPECT_TRUE(finished);
    EXPECT_EQ(wrong.load(), 0);
}

TEST(BundlesThreads, LookupsWhileTheFolderChanges)
{
    BundleFolder first;
    BundleFolder second;
    first.Write("Swap.properties", "k=one\n");
    second.Write("Swap.properties", "k=two\n");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> readersThatLookedUp{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (bool first = true; !stop.load(); first = false) {
                CKrXlate* bundle = CKrXlate::GetBundle("Swap", "en");
                const char* text = bundle ? bundle->GetText("k") : nullptr;
                if (!text || (std::strcmp(text, "one") != 0 && std::strcmp(text, "two") != 0)) ++wrong;
                if (bundle) bundle->Release();
                if (first) readersThatLookedUp.fetch_add(1);
            }
        });
    }
    krtest::WaitUntilCountReaches(readersThatLookedUp, 4);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(CKrXlate::SetResourceDirectory((i % 2 ? first : second).Dir().Path().c_str()));
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

std::string Fill(const char* text, std::vector<const char*> args) { return Fill(4095, text, std::move(args)); }

TEST(FormatMessage, Placeholders)
{
    EXPECT_EQ(Fill("User {0} failed at {1}.", {"alice", "login"}), "User alice failed at login.");
    EXPECT_EQ(Fill("{1}{0}{1}", {"a", "b"}), "bab");
    EXPECT_EQ(Fill("{00}|{01}", {"a", "b"}), "a|b");
    EXPECT_EQ(Fill("no placeholders", {}), "no placeholders");
    EXPECT_EQ(Fill("[{0}]", {nullptr}), "[]");
    EXPECT_EQ(Fill("{0} sees {{0}}", {"x"}), "x sees {x}");
    std::vector<const char*> fifteen;
    std::vector<std::string> values;
    for (int i = 0; i < 15; ++i) values.push_back("v" + std::to_string(i));
    for (const auto& v : values) fifteen.push_back(v.c_str());
    EXPECT_EQ(Fill("{14}{10}{9}{1}", fifteen), "v14v10v9v1");
}

TEST(FormatMessage, MalformedOrOutOfRangeBracesStayAsTheyStand)
{
    EXPECT_EQ(Fill("{2} of {0}", {"a", "b"}), "{2} of a");
    EXPECT_EQ(Fill("{0}", {}), "{0}");
    EXPECT_EQ(Fill("{", {"a"}), "{");
    EXPECT_EQ(Fill("{0", {"a"}), "{0");
    EXPECT_EQ(Fill("{}", {"a"}), "{}");
    EXPECT_EQ(Fill("{x}", {"a"}), "{x}");
    EXPECT_EQ(Fill("{-1}", {"a"}), "{-1}");
    EXPECT_EQ(Fill("{ 0}", {"a"}), "{ 0}");
    EXPECT_EQ(Fill("{0,number}", {"a"}), "{0,number}");
    EXPECT_EQ(Fill("{99999999999999999999999}", {"a"}), "{99999999999999999999999}");
    EXPECT_EQ(Fill("it''s '{0}'", {"a"}), "it''s 'a'");
    EXPECT_EQ(Fill("}{0}}", {"a"}), "}a}");
}

TEST(FormatMessage, NullInputs)
{
    EXPECT_EQ(Fill(nullptr, {"a"}), "");
    char out[8] = "xxxxxxx";
    CKrXlate::FormatMessageA(out, sizeof out, "{0}!", 3, nullptr);
    EXPECT_STREQ(out, "{0}!");
    CKrXlate::FormatMessageA(nullptr, 10, "text", 0, nullptr);  // nothing to write into
    EXPECT_EQ(Fill(0, "text", {}), "<untouched>");
}

TEST(FormatMessage, NeverOverrunsTheBuffer)
{
    // "id=42!" is 6 bytes.
    for (unsigned long size : {1UL, 2UL, 4UL, 6UL, 7UL, 8UL}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(Fill(size, "id={0}!", {"42"}), std::string("id=42!").substr(0, size - 1));
    }
    const std::string huge(10000, 'h');
    EXPECT_EQ(Fill(4095, "{0}{0}", {huge.c_str()}), huge.substr(0, 4094));
    EXPECT_EQ(Fill(5, "{0}", {"abcdefgh"}), "abcd");
}

TEST(FormatMessage, CutsBeforeAPartialCharacter)
{
    // The euro sign is three bytes; a cut inside it drops the whole character.
    EXPECT_EQ(Fill(5, "ab\xE2\x82\xAC", {}), "ab");
    EXPECT_EQ(Fill(6, "ab\xE2\x82\xAC", {}), "ab\xE2\x82\xAC");
    EXPECT_EQ(Fill(5, "{0}", {"ab\xE2\x82\xAC"}), "ab");
    EXPECT_EQ(Fill(4, "a\xC3\xA9z", {}), "a\xC3\xA9");
    EXPECT_EQ(Fill(3, "a\xC3\xA9z", {}), "a");
}

}  // namespace
