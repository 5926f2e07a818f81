// What the tests that run the real program as a process share: a copy of
// PelMBus in a directory of its own (it keeps its files beside itself), and
// a way to tell when it has taken SIGTERM.
#pragma once

#include "TextFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/types.h>

namespace pelmbus::testsupport {

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True once the process catches SIGTERM, so that the signal closes the window
// rather than killing the program.
inline bool CatchesTerm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1u) != 0;
        }
    }
    return false;
}

// Copies the program into `dir` (with its trailing separator) with settings
// that name a port which does not exist and no link.
inline void PlaceProgramCopy(const std::string& dir) {
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(PELMBUS_EXECUTABLE, dir + "PelMBus");
    ASSERT_TRUE(
        WriteTextLines(dir + "CfgMBus.txt", {"Настройка_COM_порта=/nonexistent/tty:9600,N,8,2",
                                             "Соединение_с_сервером=false"}));
}

} // namespace pelmbus::testsupport
