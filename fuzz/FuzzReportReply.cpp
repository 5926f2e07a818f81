// Any reply text from the metering application, and any manual entry line,
// through the report refresh: it either stops with one of its errors or
// finishes, and never writes registers it does not own.
#include "Errors.h"
#include "InOutPort.h"
#include "ReportRefresh.h"

#include <cstdlib>
#include <string>

using namespace pelmbus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The first line is a manual entry, the rest the reply to every command.
    const size_t split = input.find('\n');
    const std::vector<std::string> entries = {input.substr(0, split)};
    const std::string reply = split == std::string::npos ? "" : input.substr(split + 1);

    TInOutPort port;
    for (int r = 0; r < TInOutPort::RegisterCount; ++r) {
        port.BufReg[2 * r] = 0xA5;
    }
    const auto before = port.BufReg;
    ReportSources sources;
    sources.DoCommand = [&](const std::string&) { return reply; };
    sources.ManualEntries = &entries;
    sources.Format.DecimalSeparator = size % 2 ? "," : ".";
    sources.GetTickCount = [] { return 42u; };
    uint32_t lastReportTick = 7;
    try {
        ReportRefresh(port, sources, lastReportTick);
        if (lastReportTick != 42) {
            std::abort();
        }
    } catch (const EConvertError&) {
    } catch (const EReportError&) {
    }
    if (lastReportTick != 42 && lastReportTick != 7) {
        std::abort();
    }
    // Registers 220 to 249 and 304 to 511 belong to nobody but the master.
    for (int b = 440; b < 500; ++b) {
        if (port.BufReg[b] != before[b]) {
            std::abort();
        }
    }
    for (int b = 608; b < TInOutPort::BlockSize; ++b) {
        if (port.BufReg[b] != before[b]) {
            std::abort();
        }
    }
    return 0;
}
