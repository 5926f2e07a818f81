// Any text to the mode parser: a refused text leaves the mode as it was; an
// accepted one gives a mode a line can have, the same one every time, and
// its baud rate and framing survive being written back as "9600,N,8,2"
// text and parsed again. The termios mapping takes every accepted mode.
#include "CommMode.h"
#include "TermiosMode.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace pelmbus;

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string CommaText(const CommMode& mode) {
    static const char parity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char* const stop[] = {"1", "1.5", "2"};
    return std::to_string(mode.BaudRate) + "," + parity[static_cast<int>(mode.Parity)] + "," +
           std::to_string(mode.ByteSize) + "," + stop[static_cast<int>(mode.StopBits)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CommMode start;
    start.BaudRate = 777;
    start.Parity = CommParity::Mark;
    start.ByteSize = 6;
    start.OutX = true;

    CommMode mode = start;
    if (!ParseCommMode(text, mode)) {
        Check(mode == start);
        return 0;
    }
    Check(mode.BaudRate > 0);
    Check(mode.ByteSize >= 5 && mode.ByteSize <= 8);
    Check(static_cast<int>(mode.Parity) <= 4 && static_cast<int>(mode.StopBits) <= 2);
    Check(static_cast<int>(mode.Dtr) <= 2 && static_cast<int>(mode.Rts) <= 3);

    CommMode again = start;
    Check(ParseCommMode(text, again) && again == mode);

    CommMode written;
    Check(ParseCommMode(CommaText(mode), written));
    Check(written.BaudRate == mode.BaudRate);
    Check(written.Parity == mode.Parity && written.ByteSize == mode.ByteSize &&
          written.StopBits == mode.StopBits);

    termios tio{};
    ApplyModeToTermios(mode, tio);
    return 0;
}
