// Two pseudo-terminals joined like a null-modem cable: a Modbus master
// opens one terminal by path, the program under test the other. A thread
// relays the bytes between the two master ends.
#pragma once

#include "PseudoTerminal.h"

#include <string>
#include <thread>

namespace pelmbus::testsupport {

class PtyBridge {
public:
    PtyBridge();
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    // The terminal the Modbus master opens.
    const std::string& MasterSidePath() const { return masterSide_.SlavePath(); }
    // The terminal the program under test opens.
    const std::string& SlaveSidePath() const { return slaveSide_.SlavePath(); }
    // A descriptor of that terminal's pair, for reading the line settings
    // the program gave it (tcgetattr).
    int SlaveSideFd() const { return slaveSide_.MasterFd(); }

private:
    void Relay();

    PseudoTerminal masterSide_;
    PseudoTerminal slaveSide_;
    int stop_[2] = {-1, -1};
    std::thread relay_;
};

} // namespace pelmbus::testsupport
