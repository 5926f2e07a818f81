// The texts of the link's errors that both transports raise, so that the
// operator reads the same words on either platform. A transport appends the
// system's own reason after ": " where it has one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelmbus::linktext {

// "Программа <program> не ответила за <n> мс на команду "<command>""
std::string NoAnswerToCommand(std::string_view program, int32_t timeoutMs,
                              std::string_view command);
// "Не удалось подписаться на событие RefreshData программы <program>"
std::string SubscriptionRefused(std::string_view program);
// "Программа <program> не предоставляет интерфейс <interface>"
std::string InterfaceMissing(std::string_view program, std::string_view interfaceName);

} // namespace pelmbus::linktext
