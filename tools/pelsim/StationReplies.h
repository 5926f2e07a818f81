// What pelsim answers to one command, whatever carries it (D-Bus on Linux,
// COM on Windows): a report in the layout PelMBus parses, or the error the
// fault options ask for.
#pragma once

#include "StationData.h"

#include <string>
#include <string_view>

namespace pelsim {

struct ReplyFaults {
    bool ErrorReplies = false;          // every command gets an error
    int ReplyLines = ReportLineCount;   // replies cut to this many lines
    std::string DecimalSeparator = "."; // of the values
};

struct StationReply {
    bool Ok = false;
    std::string Text;      // the report, or the error's message
    std::string ErrorName; // machine-readable kind of the error
};

inline constexpr std::string_view ArchiveBusyText = "Отчет недоступен: архив станции занят";

StationReply AnswerCommand(const StationModel& model, std::string_view command,
                           const ReplyFaults& faults);

} // namespace pelsim
