// Any frame to ProcessRequest: no answer unless address and CRC match; every
// answer carries the slave address and a valid CRC and is at most 205 bytes;
// a refused request leaves the register image alone.
#include "InOutPort.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

using pelmbus::TInOutPort;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 + TInOutPort::BlockSize) {
        return 0;
    }
    static TInOutPort port;
    port.SlaveNomer = data[0];
    const uint8_t* frame = data + 1;
    const int32_t length = static_cast<int32_t>(size - 1);
    // Leftovers of an earlier, longer frame stay in BufIn as on the line.
    std::memcpy(port.BufIn.data(), frame, static_cast<size_t>(length));
    port.LenIn = length;

    const auto regsBefore = port.BufReg;
    port.ProcessRequest();

    const bool addressed = port.BufIn[0] == port.SlaveNomer;
    const bool crcOk = TInOutPort::CheckCRC(frame, length);
    if (!addressed || !crcOk) {
        if (port.LenOut != 0) {
            std::abort();
        }
    } else {
        if (port.LenOut < 5 || port.LenOut > 205 || port.BufOut[0] != port.SlaveNomer ||
            !TInOutPort::CheckCRC(port.BufOut.data(), port.LenOut)) {
            std::abort();
        }
    }
    const bool acceptedWrite = port.LenOut == 8 && port.BufOut[1] == 0x10;
    if (!acceptedWrite && port.BufReg != regsBefore) {
        std::abort();
    }
    return 0;
}
