// The report refresh: asks the metering application for each selected data
// kind, parses the replies into the float image, applies the manual entries,
// runs both averages, converts floats 0 to 109 into registers 0 to 219 and
// writes the date and time of each report from register 250 on.
#pragma once

#include "FormatSettings.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelmbus {

class TInOutPort;

// A reply that cannot be parsed (fewer than the three header lines).
struct EReportError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Sends one command text to the metering application and returns its reply;
// throws when the call fails.
using CommandRunner = std::function<std::string(const std::string& command)>;

struct ReportSources {
    CommandRunner DoCommand;
    const std::vector<std::string>* ManualEntries = nullptr; // entry lines, list order
    TFormatSettings Format;
    std::function<uint32_t()> GetTickCount; // millisecond tick
};

// Date and time of one report, each field kept in its lower 16 bits.
struct RepTime {
    uint16_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

// Takes the fields of a header "DD.MM.YYYY:HH:MM:SS" by fixed positions,
// without looking at the separators; throws EConvertError for a field that is
// not a whole number.
RepTime ParseRepTime(const std::string& header);

// Clears floats 89 to 108, then stores each entry's value at float
// (register div 2), in list order. Entries for registers outside the 512
// holding registers are skipped. Throws EConvertError for a number that does
// not convert, after storing the entries before it.
void ApplyManualEntries(TInOutPort& port, const std::vector<std::string>& entries,
                        const TFormatSettings& format);

// One refresh. The replies and entries are parsed first, with the images
// unlocked while the application is called; then everything is stored in one
// block under the image mutex. Any error stops it where it happens: what the
// refresh did before that step is stored, nothing after it, the error is
// rethrown and lastReportTick stays unchanged; on success lastReportTick is
// the tick at the end.
void ReportRefresh(TInOutPort& port, const ReportSources& sources, uint32_t& lastReportTick);

} // namespace pelmbus
