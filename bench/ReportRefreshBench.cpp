// One full refresh of all nine kinds with 14-line replies, without the link:
// parsing, manual values, both averages, conversion, date and time.
// Goal: under 50 µs.
#include "InOutPort.h"
#include "ReportRefresh.h"

#include <benchmark/benchmark.h>

#include <map>

using namespace pelmbus;

namespace {

std::string Reply(int kind) {
    std::string text =
        "Отчёт узла учёта\r\n0" + std::to_string(kind % 9 + 1) + ".03.2026\r\n09:15:30\r\n";
    for (int i = 0; i < 11; ++i) {
        text += std::to_string(kind * 100 + i) + ",125\r\n";
    }
    return text + "итог\r\n";
}

void BM_ReportRefreshAllKinds(benchmark::State& state) {
    std::map<std::string, std::string> replies;
    const char* commands[] = {"GetRepData 0 0 0", "GetRepData 0 2 0", "GetRepData 0 2 1",
                              "GetRepData 0 3 0", "GetRepData 0 3 1", "GetRepData 0 4 0",
                              "GetRepData 0 4 1"};
    int kind = 0;
    for (const char* command : commands) {
        replies[command] = Reply(kind++);
    }
    const std::vector<std::string> entries = {"178=100 = Параметр №1", "180=12,5 = Давление",
                                              "218=-3,75 = Температура"};
    TInOutPort port;
    ReportSources sources;
    sources.DoCommand = [&](const std::string& command) { return replies.at(command); };
    sources.ManualEntries = &entries;
    sources.Format.DecimalSeparator = ",";
    uint32_t tick = 0;
    sources.GetTickCount = [&] { return ++tick; };
    uint32_t lastReportTick = 0;
    for (auto _ : state) {
        ReportRefresh(port, sources, lastReportTick);
        benchmark::DoNotOptimize(port.BufReg.data());
    }
}
BENCHMARK(BM_ReportRefreshAllKinds)->Unit(benchmark::kMicrosecond);

} // namespace
