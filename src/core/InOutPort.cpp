#include "InOutPort.h"

#include "ByteOrder.h"

#include <algorithm>
#include <bit>

namespace pelmbus {

TInOutPort::TInOutPort() : UsrednClA(6, 0.0f), UsrednClB(6, 0.0f) {
    DataFlags.fill(true);
    DataFlags[9] = false;
}

// The owner stops the receive thread and closes the port first; when it did
// not, both happen here so that no thread is left on a freed port.
TInOutPort::~TInOutPort() {
    CloseChannel();
}

void TInOutPort::SetUstUsrednCl(uint32_t value) {
    if (value < 1) {
        return;
    }
    // Every earlier sample is dropped, also when the length stays the same.
    UsrednClA.assign(value, 0.0f);
    UsrednClB.assign(value, 0.0f);
    FUstUsrednCl = value;
}

void TInOutPort::FloatToReg(int32_t lastIndex) {
    std::lock_guard lock(ImageMutex);
    CopyFloatsToRegs(lastIndex);
}

void TInOutPort::RegToFloat() {
    std::lock_guard lock(ImageMutex);
    CopyRegsToFloats();
}

void TInOutPort::CopyFloatsToRegs(int32_t lastIndex) {
    const int32_t last = std::min(lastIndex, FloatCount - 1);
    for (int32_t i = 0; i <= last; ++i) {
        const uint32_t bits = std::bit_cast<uint32_t>(BufFloat[i]);
        uint8_t* reg = &BufReg[4 * i];
        StoreBigEndian16(reg, static_cast<uint16_t>(bits >> 16));
        StoreBigEndian16(reg + 2, static_cast<uint16_t>(bits));
    }
}

void TInOutPort::CopyRegsToFloats() {
    for (int i = 0; i < FloatCount; ++i) {
        const uint8_t* reg = &BufReg[4 * i];
        const uint32_t bits = (uint32_t{LoadBigEndian16(reg)} << 16) | LoadBigEndian16(reg + 2);
        BufFloat[i] = std::bit_cast<float>(bits);
    }
}

void TInOutPort::DoPriemDataReady() {
    if (OnPriemDataReady) {
        OnPriemDataReady(*this);
    }
}

void TInOutPort::DoPeredDataReady() {
    if (OnPeredDataReady) {
        OnPeredDataReady(*this);
    }
}

void TInOutPort::DoPortOpenChange() {
    if (OnPortOpenChange) {
        OnPortOpenChange(*this);
    }
}

} // namespace pelmbus
