#include "ReportRefresh.h"

#include "ByteOrder.h"
#include "DataKinds.h"
#include "Errors.h"
#include "InOutPort.h"
#include "LocaleNumbers.h"
#include "ManualEntries.h"
#include "TextFile.h"

#include <array>
#include <mutex>

namespace pelmbus {
namespace {

constexpr int ValuesPerReport = 11;
constexpr int FirstValueLine = 3;
constexpr int FirstManualFloat = 89;
constexpr int LastClearedManualFloat = 108;
constexpr int LastConvertedFloat = 109;

// Fetches one report into its eleven floats and returns its header text.
std::string FetchReport(TInOutPort& port, const DataKind& kind, const ReportSources& sources) {
    const std::string command(kind.Command);
    const std::vector<std::string> lines = SplitTextLines(sources.DoCommand(command));
    if (lines.size() < FirstValueLine) {
        throw EReportError("Ответ на команду \"" + command + "\" содержит " +
                           std::to_string(lines.size()) +
                           " строк(и) вместо заголовка из трёх строк");
    }
    const std::string header = lines[1] + ":" + lines[2];
    for (int i = 0; i < ValuesPerReport; ++i) {
        const size_t line = static_cast<size_t>(FirstValueLine + i);
        if (lines.size() > line) {
            const float value = StrToSingle(lines[line], sources.Format);
            std::lock_guard lock(port.ImageMutex);
            port.BufFloat[kind.FirstFloat + i] = value;
        }
    }
    return header;
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
    std::lock_guard lock(port.ImageMutex);
    for (int i = FirstManualFloat; i <= LastClearedManualFloat; ++i) {
        port.BufFloat[i] = 0.0f;
    }
    for (const std::string& line : entries) {
        const TEntryValue entry = ReadEntryValue(line, format);
        if (const auto index = EntryFloatIndex(entry.RegNum)) {
            port.BufFloat[*index] = entry.Value;
        }
    }
}

void ReportRefresh(TInOutPort& port, const ReportSources& sources, uint32_t& lastReportTick) {
    const auto& flags = port.DataFlags;
    std::vector<std::string> headers;
    headers.reserve(DataKindCount);
    for (int k = 0; k < SlidingAverageKind; ++k) {
        const DataKind& kind = DataKinds[k];
        const bool fetched = !kind.Command.empty() && flags[k];
        headers.push_back(fetched ? FetchReport(port, kind, sources) : std::string());
    }

    {
        // Held from the manual values to the last date-and-time register, so
        // that a master never reads a half-updated float or date.
        std::lock_guard lock(port.ImageMutex);
        static const std::vector<std::string> noEntries;
        ApplyManualEntries(port, sources.ManualEntries ? *sources.ManualEntries : noEntries,
                           sources.Format);
        if (flags[0] && flags[AccumAverageKind] && port.AccumAverage()) {
            headers[AccumAverageKind] = headers[0];
        }
        if (flags[SlidingAverageKind]) {
            port.SlidingAverage();
            headers.push_back(headers[0]);
        }
        port.FloatToReg(LastConvertedFloat);
        for (size_t k = 0; k < headers.size(); ++k) {
            if (!headers[k].empty()) {
                WriteRepTime(port, DataKinds[k].FirstTimeRegister, ParseRepTime(headers[k]));
            }
        }
    }
    lastReportTick = sources.GetTickCount();
}

} // namespace pelmbus
