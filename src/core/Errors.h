// Errors the program raises itself. The texts are shown to the operator as
// they are, so they are Russian.
#pragma once

#include <stdexcept>
#include <string>

namespace pelmbus {

// A text that was expected to be a number is not one. What() names the text.
struct EConvertError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace pelmbus
