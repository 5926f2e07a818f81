// The nine kinds of metering data, in the order of the data-kind flags: what
// the settings checklist shows, the configuration key of the flag, the
// command that fetches the kind (empty for the two computed averages) and
// where its floats and date-and-time registers lie.
#pragma once

#include <array>
#include <string_view>

namespace pelmbus {

struct DataKind {
    std::string_view CheckListText;
    std::string_view ConfigKey;
    std::string_view Command;
    int FirstFloat;        // eleven floats from here (one for the sliding average)
    int FirstTimeRegister; // year, month, day, hour, minute, second
};

inline constexpr int DataKindCount = 9;
inline constexpr int AccumAverageKind = 1;
inline constexpr int SlidingAverageKind = 8;

// The checklist texts are the operator's own: item 4 has a Latin "c" and
// item 5 a Latin "o", as in the texts operators know.
inline constexpr std::array<DataKind, DataKindCount> DataKinds{{
    {"Текущие данные", "Текущие_данные", "GetRepData 0 0 0", 0, 250},
    {"Усредненные текущие данные", "Усредненные_текущие_данные", "", 11, 256},
    {"Данные с начала текущей двухчасовки", "Двухчасовые_текущие_данные", "GetRepData 0 2 0", 22,
     262},
    {"Данные за прошедшую двухчасовку", "Двухчасовые_предыдушие_данные", "GetRepData 0 2 1", 33,
     268},
    {"Данные c начала текущей смены", "Данные_текущей_смены", "GetRepData 0 3 0", 44, 274},
    {"Данные за прoшедшую смену", "Данные_прошедшей_смены", "GetRepData 0 3 1", 55, 280},
    {"Значения с начала текущих суток", "Текущие_суточные_данные", "GetRepData 0 4 0", 66, 286},
    {"Данные за прошедшие сутки", "Данные_за_прошедшие_сутки", "GetRepData 0 4 1", 77, 292},
    {"Скользящий объемный расход", "Усредненные_скользящие_данные", "", 88, 298},
}};

} // namespace pelmbus
