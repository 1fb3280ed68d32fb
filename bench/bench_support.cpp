// Cost of the support services on the formatting paths: the safe formatter,
// cached bundle lookups (single and many threads) and placeholder filling, and
// the line reader.
#include <krerrlog/support/internal/KrFile.h>
#include <krerrlog/support/internal/KrSafeFormat.h>
#include <krerrlog/support/KrXlate.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A folder of bundle files that lives as long as the benchmark program.
const std::string& BundleFolder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/krerrlog-bench-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        std::string dir = pattern;
        std::string base;
        std::string de;
        for (int k = 0; k < 500; ++k) {
            base += "kr-comp-" + std::to_string(10000 + k) + "=Operation {0} failed for user {1}: {2}\n";
            if (k % 2 == 0) de += "kr-comp-" + std::to_string(10000 + k) + "=Vorgang {0} für {1} gescheitert: {2}\n";
        }
        FILE* f = std::fopen((dir + "/Comp.properties").c_str(), "w");
        std::fputs(base.c_str(), f);
        std::fclose(f);
        f = std::fopen((dir + "/Comp_de.properties").c_str(), "w");
        std::fputs(de.c_str(), f);
        std::fclose(f);
        CKrXlate::SetResourceDirectory(dir.c_str());
        std::atexit([] {
            std::remove((BundleFolder() + "/Comp.properties").c_str());
            std::remove((BundleFolder() + "/Comp_de.properties").c_str());
            rmdir(BundleFolder().c_str());
        });
        return dir;
    }();
    return folder;
}

void BM_SafeFormat(benchmark::State& state)
{
    const char* args[] = {"alice", "login", "/var/opt/app/config/server.conf", "42"};
    char out[256];
    for (auto _ : state) {
        int n = safe_snprintf_impl(out, sizeof out, "user %s failed %s on %-40s after %5d tries", 4, args);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_SafeFormat);

void BM_SafeFormatCut(benchmark::State& state)
{
    const std::string longArg(4000, 'a');
    const char* args[] = {longArg.c_str()};
    char out[64];
    for (auto _ : state) {
        int n = safe_snprintf_impl(out, sizeof out, "prefix %s suffix", 1, args);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_SafeFormatCut);

void BM_BundleLookup(benchmark::State& state)
{
    BundleFolder();
    CKrXlate::GetBundle("Comp", "de_DE.UTF-8");  // loaded before timing
    for (auto _ : state) {
        CKrXlate* bundle = CKrXlate::GetBundle("Comp", "de_DE.UTF-8");
        const char* text = bundle->GetText("kr-comp-10333");  // in the base file only
        benchmark::DoNotOptimize(text);
        bundle->Release();
    }
}
BENCHMARK(BM_BundleLookup)->ThreadRange(1, 8)->UseRealTime();

void BM_FormatMessage(benchmark::State& state)
{
    const char* args[] = {"login", "alice", "password expired"};
    char out[4096];
    for (auto _ : state) {
        CKrXlate::FormatMessageA(out, sizeof out - 1, "Operation {0} failed for user {1}: {2}", 3, args);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_FormatMessage);

void BM_ReadLine(benchmark::State& state)
{
    char path[] = "/tmp/krerrlog-bench-lines-XXXXXX";
    const int fd = mkstemp(path);
    std::string content;
    for (int i = 0; i < 10000; ++i) content += "component=" + std::to_string(i) + " fields=user,realm,agent,txid\r\n";
    if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) std::abort();
    close(fd);
    std::vector<char> buffer(8092);
    long long lines = 0;
    for (auto _ : state) {
        CKrFile file;
        file.OpenFile(path, 3);
        while (file.ReadLine(buffer.data(), 8092) > 0) ++lines;
    }
    state.SetItemsProcessed(lines);
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(content.size()));
    unlink(path);
}
BENCHMARK(BM_ReadLine);

}  // namespace

BENCHMARK_MAIN();
