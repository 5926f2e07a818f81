// The simulated metering station behind pelsim: plausible process values,
// volumes and durations for the current values and for the running and the
// finished two-hour interval, shift and day, written as report texts in the
// layout PelMBus parses. Data advance once per refresh, so every command
// answered between two refreshes describes the same moment.
#pragma once

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelsim {

// One report: period 0 current values, 2 two-hour interval, 3 shift, 4 day;
// finished false for the period now running, true for the one just ended.
struct ReportRequest {
    int Period = 0;
    bool Finished = false;
};

// "GetRepData 0 k p" for the seven reports there are; nothing otherwise.
std::optional<ReportRequest> ParseCommand(std::string_view command);

inline constexpr int ValueCount = 11;
inline constexpr int ReportLineCount = 3 + ValueCount;

class StationModel {
public:
    // `refreshSeconds`: the time between two refreshes, the duration of the
    // current values.
    StationModel(double refreshSeconds, std::time_t now);

    // One refresh: the data move on and are stamped with `now`.
    void Advance(std::time_t now);
    int Generation() const { return generation_; }

    std::array<double, ValueCount> Values(const ReportRequest& request) const;
    // Date DD.MM.YYYY and time HH:MM:SS of the report.
    std::time_t ReportTime(const ReportRequest& request) const;
    // Title, date, time and the eleven values written with
    // `decimalSeparator`, one per line.
    std::vector<std::string> ReportLines(const ReportRequest& request,
                                         std::string_view decimalSeparator) const;

private:
    double refreshSeconds_;
    std::time_t clock_;
    int generation_ = 0;
};

// Seconds of one period and the start of the one running at `now`.
double PeriodLength(int period);
std::time_t PeriodStart(int period, std::time_t now);

// Lines joined, each ended by CR LF.
std::string JoinReply(const std::vector<std::string>& lines, size_t count);

// A value with four decimals and the given separator, independent of the
// process's C locale.
std::string FormatValue(double value, std::string_view decimalSeparator);

} // namespace pelsim
