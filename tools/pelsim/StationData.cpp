#include "StationData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace pelsim {

namespace {

constexpr double TwoHours = 7200;
constexpr double Shift = 12 * 3600;
constexpr double Day = 24 * 3600;

std::tm Local(std::time_t time) {
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &time);
#else
    localtime_r(&time, &parts);
#endif
    return parts;
}

// Reports of different periods get their own phase, so they differ.
double Phase(const ReportRequest& request) {
    return request.Period * 0.37 + (request.Finished ? 1.1 : 0.0);
}

const char* Title(const ReportRequest& request) {
    switch (request.Period) {
    case 2:
        return request.Finished ? "Отчет за прошедшую двухчасовку"
                                : "Отчет с начала текущей двухчасовки";
    case 3:
        return request.Finished ? "Отчет за прошедшую смену" : "Отчет с начала текущей смены";
    case 4:
        return request.Finished ? "Отчет за прошедшие сутки" : "Отчет с начала текущих суток";
    default:
        return "Текущие данные";
    }
}

} // namespace

std::optional<ReportRequest> ParseCommand(std::string_view command) {
    static constexpr std::string_view prefix = "GetRepData 0 ";
    if (command.size() != prefix.size() + 3 || command.substr(0, prefix.size()) != prefix ||
        command[prefix.size() + 1] != ' ') {
        return std::nullopt;
    }
    const char period = command[prefix.size()];
    const char finished = command[prefix.size() + 2];
    if (period == '0' && finished == '0') {
        return ReportRequest{0, false};
    }
    if ((period == '2' || period == '3' || period == '4') && (finished == '0' || finished == '1')) {
        return ReportRequest{period - '0', finished == '1'};
    }
    return std::nullopt;
}

double PeriodLength(int period) {
    switch (period) {
    case 2:
        return TwoHours;
    case 3:
        return Shift;
    default:
        return Day;
    }
}

std::time_t PeriodStart(int period, std::time_t now) {
    std::tm start = Local(now);
    start.tm_min = 0;
    start.tm_sec = 0;
    start.tm_isdst = -1;
    if (period == 2) {
        start.tm_hour -= start.tm_hour % 2;
    } else if (period == 3) {
        // Shifts change at 08:00 and 20:00.
        if (start.tm_hour >= 20) {
            start.tm_hour = 20;
        } else if (start.tm_hour >= 8) {
            start.tm_hour = 8;
        } else {
            start.tm_hour = 20;
            start.tm_mday -= 1;
        }
    } else {
        start.tm_hour = 0;
    }
    return std::mktime(&start);
}

StationModel::StationModel(double refreshSeconds, std::time_t now)
    : refreshSeconds_(refreshSeconds), clock_(now) {}

void StationModel::Advance(std::time_t now) {
    ++generation_;
    clock_ = now;
}

std::time_t StationModel::ReportTime(const ReportRequest& request) const {
    if (request.Period == 0 || !request.Finished) {
        return clock_;
    }
    return PeriodStart(request.Period, clock_); // a finished period ends here
}

std::array<double, ValueCount> StationModel::Values(const ReportRequest& request) const {
    const double g = generation_ + Phase(request);
    double duration = refreshSeconds_;
    if (request.Period != 0) {
        duration = request.Finished
                       ? PeriodLength(request.Period)
                       : std::max(1.0, std::difftime(clock_, PeriodStart(request.Period, clock_)));
    }
    std::array<double, ValueCount> v{};
    v[0] = 5.20 + 0.05 * std::sin(0.7 * g);         // pressure, MPa
    v[1] = 12.5 + 0.8 * std::sin(0.31 * g + 1.0);   // temperature, °C
    v[2] = 0.7310 + 0.0020 * std::sin(0.5 * g + 2); // density, kg/m³
    v[3] = 24.0 + 2.0 * std::sin(0.9 * g + 0.5);    // differential pressure, kPa
    v[4] = 33.80 + 0.10 * std::sin(0.2 * g);        // heat of combustion, MJ/m³
    v[5] = 1250.0 + 60.0 * std::sin(0.45 * g);      // flow at standard conditions, m³/h
    v[6] = v[5] * 0.101325 / (v[0] + 0.101325) * (273.15 + v[1]) / 293.15; // working flow
    v[7] = v[5] * duration / 3600.0; // volume of the interval, m³
    v[8] = v[7] * v[2] / 1000.0;     // mass, t
    v[9] = v[7] * v[4] / 1000.0;     // energy, GJ
    v[10] = duration;                // duration, s
    return v;
}

std::string FormatValue(double value, std::string_view decimalSeparator) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4);
    std::string formatted(text, result.ptr);
    const auto point = formatted.find('.');
    if (point != std::string::npos) {
        formatted.replace(point, 1, decimalSeparator);
    }
    return formatted;
}

std::vector<std::string> StationModel::ReportLines(const ReportRequest& request,
                                                   std::string_view decimalSeparator) const {
    const std::tm at = Local(ReportTime(request));
    char date[32];
    char time[32];
    std::snprintf(date, sizeof date, "%02d.%02d.%04d", at.tm_mday, at.tm_mon + 1,
                  at.tm_year + 1900);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", at.tm_hour, at.tm_min, at.tm_sec);
    std::vector<std::string> lines{Title(request), date, time};
    for (double value : Values(request)) {
        lines.push_back(FormatValue(value, decimalSeparator));
    }
    return lines;
}

std::string JoinReply(const std::vector<std::string>& lines, size_t count) {
    std::string reply;
    for (size_t i = 0; i < lines.size() && i < count; ++i) {
        reply += lines[i];
        reply += "\r\n";
    }
    return reply;
}

} // namespace pelsim
