// The same error lines side by side: LogErrMsg into a rolling file, spdlog's
// synchronous rotating file sink, and bare write(); and the trace calls beside
// spdlog's call for a disabled level. spdlog is a comparison only; the library
// never depends on it.
#include "ErrorLineBench.h"
#include "TracingBench.h"

#include <spdlog/sinks/null_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <memory>

namespace {

// The same limit and backup count as the library's rolling file; the pattern
// writes the message as it is, so both write identical bytes. The sink keeps
// lines in its stdio buffer until it fills; flushed, each line reaches the
// file at once, as the library's lines do.
std::shared_ptr<spdlog::logger> MakeRotatingLogger(const char* name, bool flushEachLine)
{
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        krbench::BenchFolder() + "/" + name + ".log", static_cast<size_t>(krbench::kLimitMB) << 20,
        krbench::kBackups);
    auto logger = std::make_shared<spdlog::logger>(name, sink);
    logger->set_pattern("%v", spdlog::pattern_time_type::local);
    logger->set_level(spdlog::level::err);
    logger->flush_on(flushEachLine ? spdlog::level::err : spdlog::level::off);
    return logger;
}

void LogThrough(benchmark::State& state, spdlog::logger& logger)
{
    CKrErrLogMessage message(false);
    krbench::FillErrorLine(message);
    // spdlog adds its own end of line: hand it the line without ours.
    const spdlog::string_view_t text(message.GetBuffer(), static_cast<size_t>(message.GetBufferLen() - 1));
    for (auto _ : state) logger.log(spdlog::level::err, text);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * message.GetBufferLen());
}

void BM_Spdlog_RotatingFileSinkMt(benchmark::State& state)
{
    static auto logger = MakeRotatingLogger("spdlog", false);
    LogThrough(state, *logger);
}

void BM_Spdlog_RotatingFileSinkMt_FlushEachLine(benchmark::State& state)
{
    static auto logger = MakeRotatingLogger("spdlog-flushed", true);
    LogThrough(state, *logger);
}

// What a call below the logger's level costs: one level test.
void BM_Spdlog_DisabledLevel(benchmark::State& state)
{
    static auto logger = [] {
        auto made = std::make_shared<spdlog::logger>("disabled", std::make_shared<spdlog::sinks::null_sink_mt>());
        made->set_level(spdlog::level::err);
        return made;
    }();
    for (auto _ : state) logger->debug("request {} took {} ms", "GET /index", 12);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Spdlog_DisabledLevel)->Threads(1)->Threads(2)->UseRealTime();
KRBENCH_REGISTER_TRACING();
BENCHMARK(krbench::BM_LogErrMsg_RollingFile)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Spdlog_RotatingFileSinkMt)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Spdlog_RotatingFileSinkMt_FlushEachLine)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(krbench::BM_BareWrite)->Threads(1)->Threads(2)->UseRealTime();

int main(int argc, char** argv)
{
    return krbench::RunAndCleanUp(argc, argv, [] { spdlog::shutdown(); });
}
