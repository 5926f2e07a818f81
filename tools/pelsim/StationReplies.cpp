#include "StationReplies.h"

#include <algorithm>

namespace pelsim {

StationReply AnswerCommand(const StationModel& model, std::string_view command,
                           const ReplyFaults& faults) {
    if (faults.ErrorReplies) {
        return {false, std::string(ArchiveBusyText), "ru.pel.Error.Failed"};
    }
    const auto request = ParseCommand(command);
    if (!request) {
        return {false, "Неизвестная команда: " + std::string(command),
                "ru.pel.Error.UnknownCommand"};
    }
    const auto lines = model.ReportLines(*request, faults.DecimalSeparator);
    const auto count = static_cast<size_t>(std::max(0, faults.ReplyLines));
    return {true, JoinReply(lines, count), {}};
}

} // namespace pelsim
