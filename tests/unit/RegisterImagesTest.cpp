#include "ByteOrder.h"
#include "InOutPort.h"
#include "SystemServices.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace pelmbus;

namespace {

uint16_t Register(const TInOutPort& port, int r) {
    return LoadBigEndian16(&port.BufReg[2 * r]);
}

} // namespace

TEST(RegisterImages, NewInstanceHoldsCreationValues) {
    TInOutPort port;
    for (int r = 0; r < TInOutPort::RegisterCount; ++r) {
        ASSERT_EQ(Register(port, r), 0) << r;
    }
    for (float f : port.BufFloat) {
        ASSERT_EQ(f, 0.0f);
    }
    for (int k = 0; k < 9; ++k) {
        EXPECT_TRUE(port.DataFlags[k]) << k;
    }
    EXPECT_FALSE(port.DataFlags[9]);
    EXPECT_EQ(port.ZaderOtveta, 0);
    EXPECT_EQ(port.LenIn, 0);
    EXPECT_EQ(port.LenOut, 0);
    EXPECT_FALSE(port.PortOpen);
    EXPECT_FALSE(port.ServerPel);
    EXPECT_EQ(port.SlaveNomer, 1);
    EXPECT_EQ(port.StrPort, "COM1:9600,N,8,2");
    EXPECT_EQ(port.CiclOprosa, 250u);
    EXPECT_EQ(port.UstUsredn, 6u);
    EXPECT_EQ(port.UstUsrednCl(), 6u);
    EXPECT_EQ(port.UsrednClA.size(), 6u);
    EXPECT_EQ(port.UsrednClB.size(), 6u);
    EXPECT_EQ(port.SizeBufIn, 4096u);
    EXPECT_EQ(port.SizeBufOut, 4096u);
    EXPECT_EQ(port.UsrednCount, 0u);
}

TEST(RegisterImages, ByteOrderHelpers) {
    EXPECT_EQ(Swap16(0x1234), 0x3412);
    EXPECT_EQ(Swap32(0x11223344u), 0x44332211u);
    const uint32_t swapped = SwapSingle(1.0f);
    uint8_t bytes[4];
    std::memcpy(bytes, &swapped, 4);
    if constexpr (std::endian::native == std::endian::little) {
        EXPECT_EQ(bytes[0], 0x3F);
        EXPECT_EQ(bytes[1], 0x80);
        EXPECT_EQ(bytes[2], 0x00);
        EXPECT_EQ(bytes[3], 0x00);
    }
}

TEST(RegisterImages, FloatToRegWritesUpperHalfFirstAndStopsAtLastIndex) {
    TInOutPort port;
    port.BufFloat[0] = 1.0f;
    port.BufFloat[110] = 2.0f;
    port.BufReg[440] = 0xAB; // register 220
    port.FloatToReg(109);
    EXPECT_EQ(port.BufReg[0], 0x3F);
    EXPECT_EQ(port.BufReg[1], 0x80);
    EXPECT_EQ(port.BufReg[2], 0x00);
    EXPECT_EQ(port.BufReg[3], 0x00);
    EXPECT_EQ(Register(port, 0), 0x3F80);
    EXPECT_EQ(Register(port, 1), 0x0000);
    EXPECT_EQ(port.BufReg[440], 0xAB) << "register 220 is beyond float 109";
}

TEST(RegisterImages, FloatToRegNegativeOrHugeIndex) {
    TInOutPort port;
    port.BufFloat[0] = 1.0f;
    port.FloatToReg(-1);
    EXPECT_EQ(Register(port, 0), 0);
    port.BufFloat[255] = -2.5f;
    port.FloatToReg(100000); // never beyond the image
    EXPECT_EQ(Register(port, 510), 0xC020);
}

TEST(RegisterImages, RegToFloatIsTheInverse) {
    TInOutPort port;
    const uint8_t ten[] = {0x41, 0x20, 0x00, 0x00};
    std::memcpy(&port.BufReg[8], ten, 4);
    port.RegToFloat();
    EXPECT_EQ(port.BufFloat[2], 10.0f);
    std::memset(&port.BufReg[8], 0, 4);
    port.FloatToReg(2);
    EXPECT_EQ(std::memcmp(&port.BufReg[8], ten, 4), 0);

    // Every bit pattern survives the round trip through both images.
    for (int i = 0; i < TInOutPort::BlockSize; ++i) {
        port.BufReg[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    const auto before = port.BufReg;
    port.RegToFloat();
    port.BufReg.fill(0);
    port.FloatToReg(255);
    EXPECT_EQ(port.BufReg, before);
}

TEST(RegisterImages, SetUstUsrednClResizesAndClears) {
    TInOutPort port;
    port.UsrednClA[0] = 5.0f;
    port.SetUstUsrednCl(0);
    EXPECT_EQ(port.UstUsrednCl(), 6u);
    EXPECT_EQ(port.UsrednClA.size(), 6u);
    EXPECT_EQ(port.UsrednClA[0], 5.0f);

    port.SetUstUsrednCl(10);
    EXPECT_EQ(port.UstUsrednCl(), 10u);
    EXPECT_EQ(port.UsrednClA, std::vector<float>(10, 0.0f));
    EXPECT_EQ(port.UsrednClB, std::vector<float>(10, 0.0f));

    port.UsrednClB[3] = 1.0f;
    port.SetUstUsrednCl(10); // same length still drops the samples
    EXPECT_EQ(port.UsrednClB[3], 0.0f);
}

TEST(RegisterImages, EventsRunOnlyWhenAssigned) {
    TInOutPort port;
    port.DoPriemDataReady();
    port.DoPeredDataReady();
    int received = 0;
    int sent = 0;
    port.OnPriemDataReady = [&](TInOutPort& sender) {
        EXPECT_EQ(&sender, &port);
        ++received;
    };
    port.OnPeredDataReady = [&](TInOutPort&) { ++sent; };
    port.DoPriemDataReady();
    port.DoPeredDataReady();
    port.DoPeredDataReady();
    EXPECT_EQ(received, 1);
    EXPECT_EQ(sent, 2);
}

TEST(SystemServices, ExecutableDirectoryEndsWithSeparator) {
    const std::string directory = ExecutableDirectory();
    ASSERT_FALSE(directory.empty());
#ifdef _WIN32
    EXPECT_EQ(directory.back(), '\\');
    EXPECT_EQ(directory.substr(1, 2), ":\\"); // a drive, not a relative path
#else
    EXPECT_EQ(directory.back(), '/');
    EXPECT_EQ(directory.front(), '/');
#endif
}
