#include "LinkErrorTexts.h"

namespace pelmbus::linktext {

std::string NoAnswerToCommand(std::string_view program, int32_t timeoutMs,
                              std::string_view command) {
    return "Программа " + std::string(program) + " не ответила за " + std::to_string(timeoutMs) +
           " мс на команду \"" + std::string(command) + "\"";
}

std::string SubscriptionRefused(std::string_view program) {
    return "Не удалось подписаться на событие RefreshData программы " + std::string(program);
}

std::string InterfaceMissing(std::string_view program, std::string_view interfaceName) {
    return "Программа " + std::string(program) + " не предоставляет интерфейс " +
           std::string(interfaceName);
}

} // namespace pelmbus::linktext
