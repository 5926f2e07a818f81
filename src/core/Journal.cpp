#include "Journal.h"

#include "Cp1251.h"
#include "SystemServices.h"

#include <cstdio>
#include <iostream>
#include <system_error>

namespace pelmbus {

std::string FormatJournalLine(const TLocalDateTime& when, std::string_view event) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", when.Year, when.Month,
                  when.Day, when.Hour, when.Minute, when.Second);
    // One event is one line, whatever its text holds (an error text may have
    // several lines).
    std::string text;
    text.reserve(event.size());
    for (size_t i = 0; i < event.size(); ++i) {
        const char c = event[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < event.size() && event[i + 1] == '\n') {
                ++i;
            }
            text += "; ";
        } else {
            text += c;
        }
    }
    return stamp + Utf8ToCp1251(text) + "\r\n";
}

TJournal::TJournal(std::string path, Clock clock, ProblemReport report, std::uintmax_t bound)
    : FPath(std::move(path)), FClock(clock ? std::move(clock) : Clock(LocalNow)),
      FReport(std::move(report)), FBound(bound) {
    if (!FReport) {
        FReport = [](const std::string& text) { std::cerr << "PelMBus: " << text << std::endl; };
    }
}

void TJournal::Record(std::string_view event) {
    try {
        Append(FormatJournalLine(FClock(), event));
    } catch (const std::exception& e) {
        // Out of memory or the like: the journal never throws into the
        // handler that records an event.
        ReportOnce(e.what());
    }
}

bool TJournal::Append(const std::string& line) {
    std::uintmax_t size = 0;
    if (const std::error_code error = FileSizeOf(FPath, size)) {
        ReportOnce(error.message());
        return false;
    }
    if (size > 0 && size + line.size() > FBound) {
        // A file that cannot be rotated is not let grow past its bound.
        if (const std::error_code error = RenameReplacing(FPath, RotatedPath())) {
            ReportOnce("не удалось переименовать в \"" + RotatedPath() + "\": " + error.message());
            return false;
        }
    }
    if (const std::error_code error = AppendToFile(FPath, line)) {
        ReportOnce(error.message());
        return false;
    }
    return true;
}

void TJournal::ReportOnce(const std::string& why) {
    if (FReported) {
        return;
    }
    FReported = true;
    FReport("журнал \"" + FPath + "\" не удаётся записать (" + why +
            "); программа работает дальше");
}

} // namespace pelmbus
