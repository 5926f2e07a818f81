// Windows, under Wine: time of one report refresh of all nine kinds through
// the COM link to pelsim.exe (seven DoCommand calls, parsing, averages and
// registers), once connected; COM activation is not part of it. Prints the
// median and the best of many refreshes; bench/compare-links prints it
// beside the D-Bus figure.
#include "BenchMeasures.h"
#include "ComApartment.h"
#include "InOutPort.h"
#include "Pel_TLB.h"
#include "ReportRefresh.h"
#include "SimulatorControl.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace pelmbus;
namespace control = pelsim::control;

namespace {

using Clock = std::chrono::steady_clock;
using bench::Milliseconds;

struct Figures {
    double Median = 0;
    double Best = 0;
};

template <class Work> Figures Measure(int rounds, Work work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(Milliseconds(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    ComApartment apartment;
    control::EndAllSimulators();
    if (control::RunSimulator(
            L"/RegServer /Force --no-events --decimal-separator . --lifetime 300") != 0) {
        std::fprintf(stderr, "com_link_bench: pelsim.exe /RegServer failed\n");
        return 1;
    }
    int result = 0;
    {
        control::SimulatorProcess simulator;
        if (!simulator.Start(AutoPelIdentifiers,
                             L"--program server --no-events --decimal-separator .")) {
            std::fprintf(stderr, "com_link_bench: pelsim.exe did not start\n");
            return 1;
        }
        TAutoPel link;
        const auto connectStart = Clock::now();
        link.Connect();
        const double connectMs = Milliseconds(Clock::now() - connectStart);

        static constexpr std::array<std::string_view, 7> commands{
            "GetRepData 0 0 0", "GetRepData 0 2 0", "GetRepData 0 2 1", "GetRepData 0 3 0",
            "GetRepData 0 3 1", "GetRepData 0 4 0", "GetRepData 0 4 1"};
        size_t bytes = 0;
        auto sevenCalls = [&] {
            for (std::string_view command : commands) {
                bytes += link.DoCommand(std::string(command)).size();
            }
        };
        sevenCalls(); // warm: proxies and type information are built once

        TInOutPort port; // all nine kinds are selected from creation
        const std::vector<std::string> entries{"178=1 = Параметр"};
        ReportSources sources;
        sources.DoCommand = [&link](const std::string& command) { return link.DoCommand(command); };
        sources.ManualEntries = &entries;
        // The default format has the point that pelsim was told to write.
        sources.GetTickCount = [] { return 1u; };
        uint32_t lastReportTick = 0;

        const Figures calls = Measure(rounds, sevenCalls);
        const Figures refresh =
            Measure(rounds, [&] { ReportRefresh(port, sources, lastReportTick); });
        if (port.BufFloat[10] <= 0.0f || bytes == 0) {
            std::fprintf(stderr, "com_link_bench: the refresh filled no duration\n");
            result = 1;
        }
        std::printf("COM link under Wine, connected in %.0f ms (activation, not counted)\n",
                    connectMs);
        std::printf(
            "COM  seven DoCommand calls:        median %7.2f ms, best %7.2f ms (%d rounds)\n",
            calls.Median, calls.Best, rounds);
        std::printf(
            "COM  refresh of all nine kinds:    median %7.2f ms, best %7.2f ms (%d rounds)\n",
            refresh.Median, refresh.Best, rounds);
        link.Disconnect();
    }
    control::EndAllSimulators();
    control::RunSimulator(L"/UnregServer");
    return result;
}
