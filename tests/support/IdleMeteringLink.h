// A metering link that connects and has no reports: enough for tests where
// ticking "Сервер ПЕЛ" must hold without a metering program on a bus.
#pragma once

#include "MeteringLink.h"

#include <string>

namespace pelmbus::testsupport {

class IdleMeteringLink : public MeteringLink {
public:
    void Connect() override { FConnected = true; }
    void Disconnect() override { FConnected = false; }
    bool Connected() const override { return FConnected; }
    std::string DoCommand(const std::string&) override { return {}; }

private:
    bool FConnected = false;
};

} // namespace pelmbus::testsupport
