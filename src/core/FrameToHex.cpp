// The exchange monitor's view of a frame.
#include "InOutPort.h"

namespace pelmbus {

std::string TInOutPort::FrameToHex(const std::array<uint8_t, BlockSize>& frame, int32_t length) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string hex;
    // A length of 1024 and above is shown as no frame, like one of 0.
    if (length <= 0 || length >= BlockSize) {
        return hex;
    }
    hex.reserve(2 * static_cast<size_t>(length));
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t byte = frame[static_cast<size_t>(i)];
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0x0F];
    }
    return hex;
}

} // namespace pelmbus
