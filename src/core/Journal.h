// The journal "PelMBus.log": what happened while nobody watched, one event a
// line, for the engineer who comes later. Windows-1251 and CR LF like the
// program's other files; each line starts with the local date and time.
#pragma once

#include "DateTimeText.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pelmbus {

// Where the window's code writes its events; the program gives it the
// journal file, tests a list.
class JournalSink {
public:
    virtual ~JournalSink() = default;
    // One event, UTF-8, without its time; line breaks in it become "; ".
    virtual void Record(std::string_view event) = 0;
};

// "2026-12-09 15:43:19 event" with CR LF, in Windows-1251.
std::string FormatJournalLine(const TLocalDateTime& when, std::string_view event);

// The journal file beside the executable, appended one line per event. When
// a line would take it past the bound it is renamed to "<path>.1" (replacing
// an older one) and a new file is started. A journal that cannot be written
// is reported once and never stops the caller: every later event is tried
// again, silently.
class TJournal : public JournalSink {
public:
    static constexpr std::uintmax_t DefaultBound = 1u << 20;
    static constexpr const char* FileName = "PelMBus.log";

    using Clock = std::function<TLocalDateTime()>;
    using ProblemReport = std::function<void(const std::string& text)>;

    // Without a report the problem goes to standard error.
    explicit TJournal(std::string path, Clock clock = {}, ProblemReport report = {},
                      std::uintmax_t bound = DefaultBound);

    void Record(std::string_view event) override;

    const std::string& Path() const { return FPath; }
    std::string RotatedPath() const { return FPath + ".1"; }

private:
    bool Append(const std::string& line);
    void ReportOnce(const std::string& why);

    std::string FPath;
    Clock FClock;
    ProblemReport FReport;
    std::uintmax_t FBound;
    bool FReported = false;
};

} // namespace pelmbus
