// The Modbus slave of the serial tests under Wine: the real receive thread
// on the real Win32 serial device. Driven by lines on standard input:
//   reopen PORTSTRING   stop the thread, reopen with new settings, start again
//   stop                stop the thread during its blocking wait, time it, start again
//   quit                close the port and end
// and answers "ready", "stopped MS" or "failed" on standard output.
#include "InOutPort.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

using namespace pelmbus;

namespace {

void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

bool Start(TInOutPort& port) {
    port.SetPortActive(true);
    if (!port.PortOpen) {
        return false;
    }
    port.StartLooker();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: serial_slave PORTSTRING SLAVE [ZaderOtveta]\n");
        return 2;
    }
    TInOutPort port;
    port.StrPort = argv[1];
    port.SlaveNomer = static_cast<uint8_t>(std::atoi(argv[2]));
    port.ZaderOtveta = static_cast<uint16_t>(argc > 3 ? std::atoi(argv[3]) : 0);
    Say(Start(port) ? "ready" : "failed");

    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("reopen ", 0) == 0) {
            port.StopLooker();
            port.StrPort = line.substr(7);
            Say(Start(port) ? "ready" : "failed");
        } else if (line == "stop") {
            // Long enough for the thread to be in its wait for the line.
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            const auto begin = std::chrono::steady_clock::now();
            port.StopLooker();
            const auto took = std::chrono::steady_clock::now() - begin;
            port.StartLooker();
            Say("stopped " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        } else if (line == "quit") {
            break;
        }
    }
    port.StopLooker();
    port.SetPortActive(false);
    return 0;
}
