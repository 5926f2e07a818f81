// Time of one report refresh of all nine kinds through the metering link to
// pelsim: seven D-Bus round trips, parsing, averages and registers. Goal:
// one refresh under 10 ms.
// Without a session bus the program runs itself again under
// dbus-run-session, so it works on a bare machine too.
#include "InOutPort.h"
#include "Pel_TLB.h"
#include "ReportRefresh.h"
#include "SimulatorProcess.h"
#include "SystemServices.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace pelmbus;

namespace {

constexpr std::array<std::string_view, 7> ReportCommands{
    "GetRepData 0 0 0", "GetRepData 0 2 0", "GetRepData 0 2 1", "GetRepData 0 3 0",
    "GetRepData 0 3 1", "GetRepData 0 4 0", "GetRepData 0 4 1"};

TAutoPel* Link = nullptr;

void BM_SevenReportCommands(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        for (std::string_view command : ReportCommands) {
            bytes += Link->DoCommand(std::string(command)).size();
        }
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * 7);
}
BENCHMARK(BM_SevenReportCommands)->Unit(benchmark::kMillisecond);

void BM_ReportRefreshAllKinds(benchmark::State& state) {
    TInOutPort port; // all nine kinds are selected from creation
    const std::vector<std::string> entries{"178=1 = Параметр"};
    ReportSources sources;
    sources.DoCommand = [](const std::string& command) { return Link->DoCommand(command); };
    sources.ManualEntries = &entries;
    sources.Format = UserFormatSettings(); // pelsim writes with the same locale
    sources.GetTickCount = [] {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    };
    uint32_t lastReportTick = 0;
    for (auto _ : state) {
        ReportRefresh(port, sources, lastReportTick);
    }
    if (port.BufFloat[10] <= 0.0f) {
        state.SkipWithError("the refresh filled no duration");
    }
}
BENCHMARK(BM_ReportRefreshAllKinds)->Unit(benchmark::kMillisecond);

// Runs this program again under a private session bus; returns only when
// that cannot be done.
int RunUnderPrivateBus(int argc, char** argv) {
    if (std::getenv("PELMBUS_PRIVATE_BUS") != nullptr) {
        std::fprintf(stderr, "link_bench: no session bus, even under dbus-run-session\n");
        return 1;
    }
    setenv("PELMBUS_PRIVATE_BUS", "1", 1);
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        std::perror("link_bench: /proc/self/exe");
        return 1;
    }
    self[length] = '\0';
    std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--"), self};
    for (int i = 1; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::perror("link_bench: dbus-run-session");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') {
        return RunUnderPrivateBus(argc, argv);
    }
    QCoreApplication app(argc, argv);
    pelsim::SimulatorProcess simulator({"--program", "server", "--no-events"},
                                       QStringLiteral("ru.pel.Pel"));
    QString error;
    if (!simulator.Start(error)) {
        std::fprintf(stderr, "link_bench: pelsim did not start: %s\n", qPrintable(error));
        return 1;
    }
    TAutoPel link;
    link.Connect();
    Link = &link;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Link = nullptr;
    return 0;
}
