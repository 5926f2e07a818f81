// Byte-order helpers between the host and the Modbus register image.
// Registers travel most significant byte first; floats live in the register
// image as their IEEE 754 bit pattern, upper 16 bits in the first register.
#pragma once

#include <bit>
#include <cstdint>

namespace pelmbus {

// Exchanges the two bytes: 0x1234 gives 0x3412.
constexpr uint16_t Swap16(uint16_t value) {
    return static_cast<uint16_t>((value << 8) | (value >> 8));
}

// Reverses the four bytes: 11 22 33 44 becomes 44 33 22 11.
constexpr uint32_t Swap32(uint32_t value) {
    return (value << 24) | ((value & 0x0000FF00u) << 8) | ((value & 0x00FF0000u) >> 8) |
           (value >> 24);
}

// The float's bit pattern with its four bytes reversed; stored to memory on a
// little-endian host it gives the register-image form (1.0 -> 3F 80 00 00).
constexpr uint32_t SwapSingle(float value) {
    return Swap32(std::bit_cast<uint32_t>(value));
}

// Big-endian loads and stores used by the frame and register code; they do
// not depend on the host's byte order.
constexpr uint16_t LoadBigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

constexpr void StoreBigEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

} // namespace pelmbus
