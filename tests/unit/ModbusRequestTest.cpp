#include "InOutPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace pelmbus;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(item, nullptr, 16)));
    }
    return bytes;
}

Bytes Answer(TInOutPort& port, const Bytes& request) {
    std::memcpy(port.BufIn.data(), request.data(), request.size());
    port.LenIn = static_cast<int32_t>(request.size());
    port.ProcessRequest();
    return Bytes(port.BufOut.begin(), port.BufOut.begin() + port.LenOut);
}

Bytes WithCrc(Bytes frame) {
    const uint16_t crc = TInOutPort::CalcCRC(frame.data(), static_cast<int32_t>(frame.size()));
    frame.push_back(static_cast<uint8_t>(crc));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

void FillPattern(TInOutPort& port) {
    for (int i = 0; i < TInOutPort::BlockSize; ++i) {
        port.BufReg[i] = static_cast<uint8_t>(i ^ (i >> 8));
    }
}

} // namespace

TEST(Crc, CheckValueAndFraming) {
    const std::string check = "123456789";
    EXPECT_EQ(TInOutPort::CalcCRC(reinterpret_cast<const uint8_t*>(check.data()), 9), 0x4B37);
    EXPECT_EQ(TInOutPort::CalcCRC(nullptr, 0), 0xFFFF);

    const Bytes good = Hex("01 03 00 00 00 02 C4 0B");
    EXPECT_TRUE(TInOutPort::CheckCRC(good.data(), 8));
    Bytes bad = good;
    bad[7] ^= 1;
    EXPECT_FALSE(TInOutPort::CheckCRC(bad.data(), 8));
    EXPECT_FALSE(TInOutPort::CheckCRC(good.data(), 2));
    EXPECT_FALSE(TInOutPort::CheckCRC(good.data(), 0));

    TInOutPort port;
    port.BufOut[0] = 0x01;
    port.BufOut[1] = 0x84;
    port.BufOut[2] = 0x01;
    EXPECT_EQ(port.AppendCRC(3), 5);
    EXPECT_EQ(port.LenOut, 5);
    EXPECT_EQ(port.BufOut[3], 0x82);
    EXPECT_EQ(port.BufOut[4], 0xC0);
}

TEST(ModbusRequest, WorkedExamples) {
    TInOutPort port;
    port.BufFloat[0] = 1.0f;
    port.FloatToReg(109);
    EXPECT_EQ(Answer(port, Hex("01 03 00 00 00 02 C4 0B")), Hex("01 03 04 3F 80 00 00 F7 CF"));

    EXPECT_EQ(Answer(port, Hex("01 10 00 02 00 02 04 41 20 00 00 67 80")),
              Hex("01 10 00 02 00 02 E0 08"));
    EXPECT_EQ(port.BufReg[4], 0x41);
    EXPECT_EQ(port.BufReg[5], 0x20);
    EXPECT_EQ(port.BufReg[6], 0x00);
    EXPECT_EQ(port.BufReg[7], 0x00);
    EXPECT_EQ(port.BufFloat[1], 10.0f);

    EXPECT_EQ(Answer(port, Hex("01 03 00 00 00 65 85 E1")), Hex("01 83 02 C0 F1"));
    EXPECT_EQ(Answer(port, Hex("01 04 00 00 00 01 31 CA")), Hex("01 84 01 82 C0"));
}

TEST(ModbusRequest, ReadsUpToTheLastRegister) {
    TInOutPort port;
    FillPattern(port);
    port.BufReg[2 * 412] = 100; // register 412 = 100 << 8
    port.BufReg[2 * 413 + 1] = 100;
    const Bytes response = Answer(port, Hex("01 03 01 9C 00 64 85 F3"));
    ASSERT_EQ(response.size(), 205u);
    EXPECT_EQ(response[2], 200);
    EXPECT_EQ(Bytes(response.begin() + 3, response.end() - 2),
              Bytes(port.BufReg.begin() + 824, port.BufReg.end()));
    EXPECT_TRUE(TInOutPort::CheckCRC(response.data(), 205));

    EXPECT_EQ(Answer(port, Hex("01 03 01 9D 00 64 D4 33")), Hex("01 83 02 C0 F1"));
}

TEST(ModbusRequest, RangeErrorsTouchNothing) {
    TInOutPort port;
    FillPattern(port);
    port.RegToFloat();
    const auto regs = port.BufReg;
    const auto floats = port.BufFloat;
    const Bytes readRefused = Hex("01 83 02 C0 F1");
    const Bytes writeRefused = Hex("01 90 02 CD C1");

    // Starts of 32768 and above: 2 x start must not wrap into the image.
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 03 80 00 00 01"))), readRefused);
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 03 FF FF 00 01"))), readRefused);
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 03 02 00 00 01"))), readRefused); // register 512
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 10 80 00 00 01 02 12 34"))), writeRefused);
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 10 01 FF 00 02 04 12 34 56 78"))), writeRefused);

    // Quantity 0 reads and writes nothing.
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 03 00 00 00 00"))), readRefused);
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 10 00 00 00 00 00"))), writeRefused);

    // Byte count not twice the quantity; more than 100 registers.
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 10 00 02 00 02 03 41 20 00"))), writeRefused);
    Bytes tooMany = Hex("01 10 00 00 00 65 CA");
    tooMany.resize(7 + 202, 0x55);
    EXPECT_EQ(Answer(port, WithCrc(tooMany)), writeRefused);

    // A frame shorter than its byte count says: the values would come from
    // its own CRC or from an earlier frame.
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 10 00 02 00 02 04 41 20"))), writeRefused);

    EXPECT_EQ(port.BufReg, regs);
    EXPECT_EQ(std::memcmp(port.BufFloat.data(), floats.data(), sizeof floats), 0);
}

TEST(ModbusRequest, RegistersAboveTheFloatsAreWritableAndReadable) {
    TInOutPort port;
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 10 01 9C 00 02 04 00 64 00 64"))),
              WithCrc(Hex("01 10 01 9C 00 02")));
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 03 01 9C 00 02"))),
              WithCrc(Hex("01 03 04 00 64 00 64")));
    // Registers 412 and 413 are float 206.
    EXPECT_EQ(port.BufFloat[206], std::bit_cast<float>(0x00640064u));
}

TEST(ModbusRequest, ExceptionFunctionCodesWrapModulo256) {
    TInOutPort port;
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 90 00 00 00 01"))), WithCrc(Hex("01 10 01")));
    EXPECT_EQ(Answer(port, WithCrc(Hex("01 06 00 00 00 01"))), WithCrc(Hex("01 86 01")));
}

TEST(ModbusRequest, NoAnswerForOtherAddressOrBadCrc) {
    TInOutPort port;
    EXPECT_TRUE(Answer(port, WithCrc(Hex("02 03 00 00 00 02"))).empty());
    EXPECT_EQ(port.LenOut, 0);
    Bytes corrupted = Hex("01 03 00 00 00 02 C4 0B");
    corrupted[6] = 0xC5;
    EXPECT_TRUE(Answer(port, corrupted).empty());

    // Address 0 is no broadcast; it is answered only by slave 0.
    EXPECT_TRUE(Answer(port, WithCrc(Hex("00 03 00 00 00 01"))).empty());
    port.SlaveNomer = 0;
    EXPECT_EQ(Answer(port, WithCrc(Hex("00 03 00 00 00 01"))), WithCrc(Hex("00 03 02 00 00")));

    port.SlaveNomer = 247;
    EXPECT_EQ(Answer(port, WithCrc(Hex("F7 03 00 00 00 01"))), WithCrc(Hex("F7 03 02 00 00")));
}

TEST(ModbusRequest, BurstsAreOneFrame) {
    TInOutPort port;
    // Two requests in one burst: the last two bytes are no CRC of the rest.
    Bytes two = Hex("01 03 00 00 00 02 C4 0B");
    const Bytes second = two;
    two.insert(two.end(), second.begin(), second.end());
    EXPECT_TRUE(Answer(port, two).empty());
    // A trailing byte makes the CRC fail as well.
    Bytes trailing = Hex("01 03 00 00 00 02 C4 0B 55");
    EXPECT_TRUE(Answer(port, trailing).empty());
}

TEST(ModbusRequest, LengthsOutsideTheBlockAreNeverAnswered) {
    TInOutPort port;
    const Bytes request = Hex("01 03 00 00 00 02 C4 0B");
    std::memcpy(port.BufIn.data(), request.data(), request.size());
    for (int32_t length : {-1, 0, 1025, 1 << 30}) {
        port.LenIn = length;
        port.LenOut = 99;
        port.ProcessRequest();
        EXPECT_EQ(port.LenOut, 0) << length;
    }
}

TEST(ModbusRequest, AppendCrcRefusesALengthWhoseCrcWouldNotFit) {
    TInOutPort port;
    port.BufIn.fill(0x11);
    port.BufOut.fill(0x22);
    port.BufReg.fill(0x33);
    EXPECT_EQ(port.AppendCRC(TInOutPort::BlockSize - 2), TInOutPort::BlockSize);
    EXPECT_EQ(port.LenOut, TInOutPort::BlockSize);
    EXPECT_TRUE(TInOutPort::CheckCRC(port.BufOut.data(), port.LenOut));

    const auto out = port.BufOut;
    for (const int32_t length : {TInOutPort::BlockSize - 1, TInOutPort::BlockSize, -1, -2}) {
        port.LenOut = 5;
        EXPECT_EQ(port.AppendCRC(length), 0) << length;
        EXPECT_EQ(port.LenOut, 0) << length;
    }
    EXPECT_EQ(port.BufOut, out);
    for (const auto* block : {&port.BufIn, &port.BufReg}) {
        EXPECT_EQ(std::count(block->begin(), block->end(), block->front()), TInOutPort::BlockSize);
    }
}
