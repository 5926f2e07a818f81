// Errors of the link to the metering application. Both carry the text the
// bus or the application gave, and its machine-readable error name.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace pelmbus {

// The application could not be obtained: the bus is unreachable, nothing is
// registered under the name, or its program could not be started.
struct EAutomationSystemError : std::runtime_error {
    explicit EAutomationSystemError(const std::string& message, std::string errorName = {})
        : std::runtime_error(message), ErrorName(std::move(errorName)) {}
    std::string ErrorName;
};

// A call on an obtained application failed: an error reply, no reply within
// the time-out, a reply of the wrong shape, or a subscription the bus refused.
struct EAutomationError : std::runtime_error {
    explicit EAutomationError(const std::string& message, std::string errorName = {})
        : std::runtime_error(message), ErrorName(std::move(errorName)) {}
    std::string ErrorName;
};

} // namespace pelmbus
