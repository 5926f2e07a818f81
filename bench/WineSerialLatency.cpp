// The serial latency tool's twin for the Windows build under Wine. A
// libmodbus master sends read requests over a pseudo-terminal bridge to the
// Windows slave program on a COM port, each one well after the cycle pause
// of the last, so that it arrives while the receive thread waits for the
// line; the design predicts the response delay after each of the 8 request
// bytes and once more before the handling. It prints measured minus
// predicted (median, 99th percentile) and what the idle Wine process costs,
// and, given the Linux tool, runs it first and prints its figures beside.
// Run by hand, like the Linux tool:
//   wine_serial_latency WINE_RUN SLAVE_EXE SHIM_SO [requests=40] [ZaderOtveta=20]
//                       [LINUX_SERIAL_LATENCY]
#include "PtyBridge.h"

#include <modbus.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
    double Median = 0;
    double P99 = 0;
};

Figures Summarize(std::vector<double> diffs) {
    std::sort(diffs.begin(), diffs.end());
    const auto at = [&](double share) {
        return diffs[static_cast<size_t>(share * static_cast<double>(diffs.size() - 1))];
    };
    return {at(0.5), at(0.99)};
}

// Processor seconds of one process and its children that ended (clock ticks).
double ProcessSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The Wine process: the child of the time limit the wrapper runs under.
pid_t ChildOf(pid_t parent) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) +
                           "/children");
    pid_t child = 0;
    return children >> child ? child : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: wine_serial_latency WINE_RUN SLAVE_EXE SHIM_SO [requests] "
                             "[ZaderOtveta] [LINUX_SERIAL_LATENCY]\n");
        return 2;
    }
    const std::string wineRun = argv[1];
    const int requests = std::max(1, argc > 4 ? std::atoi(argv[4]) : 40);
    const int delay = std::clamp(argc > 5 ? std::atoi(argv[5]) : 20, 0, 200);
    constexpr int Registers = 10;
    constexpr int RequestBytes = 8;

    std::string linuxSummary;
    if (argc > 6) {
        const std::string command = std::string(argv[6]) + " " + std::to_string(requests) + " " +
                                    std::to_string(delay) + " " + std::to_string(Registers);
        FILE* tool = popen(command.c_str(), "r");
        char line[512];
        while (tool != nullptr && std::fgets(line, sizeof line, tool) != nullptr) {
            const std::string text = line;
            if (text.rfind("measured - predicted", 0) == 0 || text.rfind("idle", 0) == 0) {
                linuxSummary += "  Linux: " + text;
            }
        }
        if (tool != nullptr) {
            pclose(tool);
        }
    }

    pelmbus::testsupport::PtyBridge bridge;
    const std::string map = wineRun +
                            " reg add 'HKLM\\Software\\Wine\\Ports' /v COM12 /t REG_SZ /d " +
                            bridge.SlaveSidePath() + " /f >/dev/null 2>&1";
    if (std::system(map.c_str()) != 0 || std::system((wineRun + " --wineserver -k").c_str()) != 0) {
        std::fprintf(stderr, "cannot map COM12\n");
        return 1;
    }
    int toSlave[2];
    if (pipe(toSlave) != 0) {
        return 1;
    }
    const pid_t slave = fork();
    if (slave == 0) {
        dup2(toSlave[0], 0);
        close(toSlave[1]);
        // Wine starts in another directory: the library needs its full path.
        char shim[PATH_MAX];
        setenv("LD_PRELOAD", realpath(argv[3], shim) != nullptr ? shim : argv[3], 1);
        const std::string zader = std::to_string(delay);
        execl(wineRun.c_str(), wineRun.c_str(), argv[2], "COM12:9600,N,8,2", "1", zader.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toSlave[0]);

    modbus_t* ctx = modbus_new_rtu(bridge.MasterSidePath().c_str(), 9600, 'N', 8, 2);
    if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_set_response_timeout(ctx, 3, 0);
    uint16_t values[100];
    bool up = false;
    for (int i = 0; i < 20 && !up; ++i) {
        up = modbus_read_registers(ctx, 0, Registers, values) == Registers;
    }
    if (!up) {
        std::fprintf(stderr, "the slave under Wine does not answer\n");
        return 1;
    }

    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> gap(700, 900); // beyond the 500 ms cycle pause
    std::vector<double> diffs;
    for (int i = 0; i < requests; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
        const Clock::time_point sent = Clock::now();
        if (modbus_read_registers(ctx, 0, Registers, values) != Registers) {
            std::fprintf(stderr, "request %d: %s\n", i + 1, modbus_strerror(errno));
            return 1;
        }
        const double measured =
            std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        diffs.push_back(measured - (RequestBytes + 1) * delay);
    }
    const Figures wine = Summarize(diffs);

    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const pid_t wineProcess = ChildOf(slave);
    constexpr double IdleSeconds = 5.0;
    const double before = ProcessSeconds(wineProcess);
    std::this_thread::sleep_for(std::chrono::duration<double>(IdleSeconds));
    const double idle = (ProcessSeconds(wineProcess) - before) / IdleSeconds * 100.0;

    (void)!write(toSlave[1], "quit\n", 5);
    close(toSlave[1]);
    int status = 0;
    waitpid(slave, &status, 0);
    modbus_close(ctx);
    modbus_free(ctx);

    std::printf("%d requests of %d registers, ZaderOtveta %d ms\n", requests, Registers, delay);
    std::fputs(linuxSummary.c_str(), stdout);
    std::printf("  Wine:  measured - predicted: median %.2f ms, 99th percentile %.2f ms "
                "(requests in the wait)\n",
                wine.Median, wine.P99);
    std::printf("  Wine:  idle with the port open: %.3f %% of one core (the Wine process)\n", idle);
    return 0;
}
