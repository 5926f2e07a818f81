// Modbus RTU slave: functions 3 and 16 on the register image, exceptions for
// everything else, CRC-16/MODBUS framing.
#include "InOutPort.h"

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace pelmbus {
namespace {

constexpr uint8_t ReadHoldingRegisters = 0x03;
constexpr uint8_t WriteMultipleRegisters = 0x10;
constexpr uint8_t IllegalFunction = 1;
constexpr uint8_t IllegalDataAddress = 2;
constexpr int32_t MaxRegisterBytes = 200; // 100 registers per request

// Table of the reflected polynomial 0xA001: one lookup per byte gives the
// same register as eight shift-and-xor steps.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        uint16_t crc = static_cast<uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
        }
        table[n] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();

} // namespace

uint16_t TInOutPort::CalcCRC(const uint8_t* start, int32_t count) {
    uint16_t crc = 0xFFFF;
    for (int32_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>((crc >> 8) ^ CrcTable[(crc ^ start[i]) & 0xFFu]);
    }
    return crc;
}

bool TInOutPort::CheckCRC(const uint8_t* frame, int32_t length) {
    if (length <= 2) {
        return false;
    }
    const uint16_t received = static_cast<uint16_t>(frame[length - 2] | (frame[length - 1] << 8));
    return CalcCRC(frame, length - 2) == received;
}

int32_t TInOutPort::AppendCRC(int32_t length) {
    // The CRC goes behind the frame and must still lie inside BufOut; a
    // refused frame leaves nothing to send.
    if (length < 0 || length > BlockSize - 2) {
        LenOut = 0;
        return 0;
    }
    const uint16_t crc = CalcCRC(BufOut.data(), length);
    BufOut[length] = static_cast<uint8_t>(crc);
    BufOut[length + 1] = static_cast<uint8_t>(crc >> 8);
    LenOut = length + 2;
    return LenOut;
}

int32_t TInOutPort::BuildException(uint8_t function, uint8_t code) {
    Counters.CountException(code);
    BufOut[1] = static_cast<uint8_t>(function + 0x80);
    BufOut[2] = code;
    return 3;
}

void TInOutPort::ProcessRequest() {
    // The window may change the address at any time: the request is tested
    // and answered with one reading of it.
    const uint8_t address = SlaveNomer;
    // A length beyond the receive block cannot be a request and must never
    // make the CRC check read past BufIn.
    if (LenIn < 0 || LenIn > BlockSize) {
        Counters.CountWrongLength();
        LenOut = 0;
        return;
    }
    if (BufIn[0] != address) {
        Counters.CountOtherAddress();
        LenOut = 0;
        return;
    }
    BufOut[0] = address;
    if (!CheckCRC(BufIn.data(), LenIn)) {
        Counters.CountBadCrc();
        LenOut = 0;
        return;
    }

    const uint8_t function = BufIn[1];
    const int32_t start = LoadBigEndian16(&BufIn[2]);
    const int32_t quantity = LoadBigEndian16(&BufIn[4]);
    const int32_t firstByte = 2 * start;
    const int32_t byteCount = 2 * quantity;
    const bool outsideImage =
        quantity == 0 || byteCount > MaxRegisterBytes || firstByte + byteCount > BlockSize;

    int32_t length = 0;
    {
        std::lock_guard lock(ImageMutex);
        if (function == ReadHoldingRegisters) {
            if (outsideImage) {
                length = BuildException(function, IllegalDataAddress);
            } else {
                BufOut[1] = ReadHoldingRegisters;
                BufOut[2] = static_cast<uint8_t>(byteCount);
                std::memcpy(&BufOut[3], &BufReg[firstByte], byteCount);
                length = 3 + byteCount;
            }
        } else if (function == WriteMultipleRegisters) {
            // The values must lie inside this frame: a short frame would
            // otherwise take them from its own CRC or an earlier frame.
            if (outsideImage || BufIn[6] != byteCount || LenIn < 9 + byteCount) {
                length = BuildException(function, IllegalDataAddress);
            } else {
                std::memcpy(&BufReg[firstByte], &BufIn[7], byteCount);
                CopyRegsToFloats();
                BufOut[1] = WriteMultipleRegisters;
                std::memcpy(&BufOut[2], &BufIn[2], 4);
                length = 6;
            }
        } else {
            length = BuildException(function, IllegalFunction);
        }
    }
    if (BufOut[1] == function) {
        Counters.CountAnswered();
    }
    AppendCRC(length);
    SendFrame(BufOut.data(), LenOut);
}

} // namespace pelmbus
