#include "ReportRefresh.h"

#include "ByteOrder.h"
#include "DataKinds.h"
#include "Errors.h"
#include "InOutPort.h"
#include "LocaleNumbers.h"
#include "ManualEntries.h"
#include "TextFile.h"

#include <algorithm>
#include <array>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace pelmbus {
namespace {

constexpr int ValuesPerReport = 11;
constexpr int FirstValueLine = 3;
constexpr int FirstManualFloat = 89;
constexpr int LastClearedManualFloat = 108;
constexpr int LastConvertedFloat = 109;
constexpr int FetchedKinds = SlidingAverageKind; // kinds 0 to 7; 8 is computed

// One reply as parsed: its leading values (a shorter reply leaves the later
// floats alone, a bad line ends them) and its header text, empty when the
// kind was not fetched.
struct ParsedReport {
    std::array<float, ValuesPerReport> Values{};
    int ValueCount = 0;
    std::string Header;
    std::optional<RepTime> Time;
};

// A manual entry as parsed: the float it goes to and its value.
struct ManualValue {
    int FloatIndex = 0;
    float Value = 0.0f;
};

// Everything one refresh takes from the application and the manual entries,
// gathered before the images are touched, so that the application is never
// called with the image locked and a master never sees a half-stored
// refresh. A step that fails records its error; what the refresh did before
// that step is still stored, nothing after it.
struct RefreshInput {
    enum class Step { Reports, ManualValues, DateTimes, None };

    std::array<ParsedReport, FetchedKinds> Reports;
    std::vector<ManualValue> ManualValues; // list order
    Step FailedStep = Step::None;
    std::exception_ptr Failure;

    // True when the step ran to its end.
    bool Passed(Step step) const { return FailedStep > step; }
};

// Fetches and parses one report; on an error `report` keeps the values
// parsed before it.
void FetchReport(const DataKind& kind, const ReportSources& sources, ParsedReport& report) {
    const std::string command(kind.Command);
    const std::vector<std::string> lines = SplitTextLines(sources.DoCommand(command));
    if (lines.size() < FirstValueLine) {
        throw EReportError("Ответ на команду \"" + command + "\" содержит " +
                           std::to_string(lines.size()) +
                           " строк(и) вместо заголовка из трёх строк");
    }
    report.Header = lines[1] + ":" + lines[2];
    for (int i = 0; i < ValuesPerReport; ++i) {
        const size_t line = static_cast<size_t>(FirstValueLine + i);
        if (lines.size() <= line) {
            break;
        }
        report.Values[i] = StrToSingle(lines[line], sources.Format);
        report.ValueCount = i + 1;
    }
}

void ParseManualValues(const std::vector<std::string>& entries, const TFormatSettings& format,
                       std::vector<ManualValue>& values) {
    for (const std::string& line : entries) {
        const TEntryValue entry = ReadEntryValue(line, format);
        if (const auto index = EntryFloatIndex(entry.RegNum)) {
            values.push_back({*index, entry.Value});
        }
    }
}

// Runs one gathering step; an error ends the gathering at that step.
template <class Work> bool GatherStep(RefreshInput& input, RefreshInput::Step step, Work work) {
    try {
        work();
        return true;
    } catch (...) {
        input.FailedStep = step;
        input.Failure = std::current_exception();
        return false;
    }
}

RefreshInput GatherInput(const TInOutPort& port, const ReportSources& sources) {
    using Step = RefreshInput::Step;
    RefreshInput input;
    const bool reports = GatherStep(input, Step::Reports, [&] {
        for (int k = 0; k < FetchedKinds; ++k) {
            const DataKind& kind = DataKinds[k];
            if (!kind.Command.empty() && port.DataFlags[k]) {
                FetchReport(kind, sources, input.Reports[k]);
            }
        }
    });
    if (!reports) {
        return input;
    }
    const bool manual = GatherStep(input, Step::ManualValues, [&] {
        if (sources.ManualEntries != nullptr) {
            ParseManualValues(*sources.ManualEntries, sources.Format, input.ManualValues);
        }
    });
    if (!manual) {
        return input;
    }
    // Kind order: a header that does not parse leaves its own and every
    // later kind's date and time unwritten.
    GatherStep(input, Step::DateTimes, [&] {
        for (ParsedReport& report : input.Reports) {
            if (!report.Header.empty()) {
                report.Time = ParseRepTime(report.Header);
            }
        }
    });
    return input;
}

void StoreManualValues(TInOutPort& port, const std::vector<ManualValue>& values) {
    for (int i = FirstManualFloat; i <= LastClearedManualFloat; ++i) {
        port.BufFloat[i] = 0.0f;
    }
    for (const ManualValue& value : values) {
        port.BufFloat[value.FloatIndex] = value.Value;
    }
}

uint16_t HeaderField(const std::string& header, size_t position, size_t length) {
    const std::string text = position <= header.size() ? header.substr(position - 1, length) : "";
    return static_cast<uint16_t>(StrToInt(text));
}

void WriteRepTime(TInOutPort& port, int firstRegister, const RepTime& time) {
    const uint16_t values[] = {time.Year, time.Month,  time.Day,
                               time.Hour, time.Minute, time.Second};
    for (int i = 0; i < 6; ++i) {
        StoreBigEndian16(&port.BufReg[2 * (firstRegister + i)], values[i]);
    }
}

// Stores a gathered refresh, or the part of it before its failed step, in
// one block under the image mutex: a function-16 write can come only before
// or after it, never between two of its values.
void StoreRefresh(TInOutPort& port, const RefreshInput& input) {
    using Step = RefreshInput::Step;
    const auto& flags = port.DataFlags;
    std::lock_guard lock(port.ImageMutex);
    for (int k = 0; k < FetchedKinds; ++k) {
        const ParsedReport& report = input.Reports[k];
        std::copy_n(report.Values.begin(), report.ValueCount,
                    port.BufFloat.begin() + DataKinds[k].FirstFloat);
    }
    if (!input.Passed(Step::Reports)) {
        return;
    }
    // Entries before one that failed are applied, as the list runs.
    StoreManualValues(port, input.ManualValues);
    if (!input.Passed(Step::ManualValues)) {
        return;
    }

    // The date and time of each kind, in kind order; the two averages carry
    // those of the kind-0 report they were computed from.
    const ParsedReport& current = input.Reports[0];
    std::array<const ParsedReport*, DataKindCount> dated{};
    for (int k = 0; k < FetchedKinds; ++k) {
        dated[k] = &input.Reports[k];
    }
    dated[AccumAverageKind] = nullptr;
    if (flags[0] && flags[AccumAverageKind] && port.AccumAverage()) {
        dated[AccumAverageKind] = &current;
    }
    if (flags[SlidingAverageKind]) {
        port.SlidingAverage();
        dated[SlidingAverageKind] = &current;
    }
    port.FloatToReg(LastConvertedFloat);
    for (int k = 0; k < DataKindCount; ++k) {
        const ParsedReport* report = dated[k];
        if (report == nullptr || report->Header.empty()) {
            continue;
        }
        if (!report->Time) {
            return; // this header did not parse
        }
        WriteRepTime(port, DataKinds[k].FirstTimeRegister, *report->Time);
    }
}

} // namespace

RepTime ParseRepTime(const std::string& header) {
    RepTime time;
    time.Day = HeaderField(header, 1, 2);
    time.Month = HeaderField(header, 4, 2);
    time.Year = HeaderField(header, 7, 4);
    time.Hour = HeaderField(header, 12, 2);
    time.Minute = HeaderField(header, 15, 2);
    time.Second = HeaderField(header, 18, 2);
    return time;
}

void ApplyManualEntries(TInOutPort& port, const std::vector<std::string>& entries,
                        const TFormatSettings& format) {
    std::vector<ManualValue> values;
    std::exception_ptr failure;
    try {
        ParseManualValues(entries, format, values);
    } catch (...) {
        failure = std::current_exception();
    }
    {
        std::lock_guard lock(port.ImageMutex);
        StoreManualValues(port, values);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void ReportRefresh(TInOutPort& port, const ReportSources& sources, uint32_t& lastReportTick) {
    const RefreshInput input = GatherInput(port, sources);
    StoreRefresh(port, input);
    if (input.Failure) {
        std::rethrow_exception(input.Failure);
    }
    lastReportTick = sources.GetTickCount();
}

} // namespace pelmbus
