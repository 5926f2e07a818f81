// A pseudo-terminal pair in raw mode: one end for the program under test,
// the other (by path) for a Modbus master such as libmodbus or mbpoll.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace pelmbus::testsupport {

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int MasterFd() const { return master_; }
    // Path of the terminal end, e.g. /dev/pts/3.
    const std::string& SlavePath() const { return slavePath_; }

    // Bytes that arrive at the master end until the line stays quiet for
    // `gap` after the first byte, or nothing once `timeout` ran out.
    std::vector<uint8_t> ReadBurst(std::chrono::milliseconds timeout,
                                   std::chrono::milliseconds gap) const;
    void Write(const uint8_t* bytes, size_t count) const;

private:
    int master_ = -1;
    int slave_ = -1; // kept open so the master never sees a hang-up
    std::string slavePath_;
};

} // namespace pelmbus::testsupport
