#include "CommMode.h"

#include <gtest/gtest.h>

using namespace pelmbus;

namespace {

CommMode Parsed(const char* text) {
    CommMode mode;
    EXPECT_TRUE(ParseCommMode(text, mode)) << text;
    return mode;
}

} // namespace

TEST(CommMode, CommaForm) {
    const CommMode standard = Parsed("9600,N,8,2");
    EXPECT_EQ(standard.BaudRate, 9600u);
    EXPECT_EQ(standard.Parity, CommParity::None);
    EXPECT_EQ(standard.ByteSize, 8);
    EXPECT_EQ(standard.StopBits, CommStopBits::Two);
    EXPECT_FALSE(standard.OutX || standard.InX || standard.OutxCtsFlow || standard.OutxDsrFlow);
    EXPECT_EQ(standard.Dtr, DtrControl::Enable);
    EXPECT_EQ(standard.Rts, RtsControl::Enable);

    const CommMode odd = Parsed(" 19200 , o , 7 , 1 ");
    EXPECT_EQ(odd.BaudRate, 19200u);
    EXPECT_EQ(odd.Parity, CommParity::Odd);
    EXPECT_EQ(odd.ByteSize, 7);
    EXPECT_EQ(odd.StopBits, CommStopBits::One);

    EXPECT_EQ(Parsed("1200,M,5,1.5").StopBits, CommStopBits::OneAndHalf);
    EXPECT_EQ(Parsed("1200,m,6,1").Parity, CommParity::Mark);
    EXPECT_EQ(Parsed("1200,S,8,1").Parity, CommParity::Space);
    EXPECT_EQ(Parsed("1200,e,8,1").Parity, CommParity::Even);
    EXPECT_EQ(Parsed("250000,N,8,1").BaudRate, 250000u);

    const CommMode xon = Parsed("9600,N,8,1,x");
    EXPECT_TRUE(xon.OutX && xon.InX);
    EXPECT_FALSE(xon.OutxCtsFlow);
    const CommMode hardware = Parsed("9600,N,8,1,P");
    EXPECT_TRUE(hardware.OutxCtsFlow && hardware.OutxDsrFlow);
    EXPECT_EQ(hardware.Rts, RtsControl::Handshake);
    EXPECT_EQ(hardware.Dtr, DtrControl::Handshake);
    EXPECT_FALSE(hardware.OutX);
}

TEST(CommMode, TwoDigitBaudRates) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"11,N,8,2", 110},   {"15,N,8,1", 150},  {"30,N,8,1", 300},  {"60,N,8,1", 600},
        {"12,N,8,1", 1200},  {"24,N,8,1", 2400}, {"48,N,8,1", 4800}, {"96,N,8,1", 9600},
        {"19,N,8,1", 19200}, {"baud=96", 9600},  {"14400", 14400},   {"110,N,8,1", 110},
    };
    for (const auto& [text, baud] : cases) {
        EXPECT_EQ(Parsed(text).BaudRate, baud) << text;
    }
}

TEST(CommMode, LeftOutItemsKeepTheirValueExceptStopBits) {
    CommMode mode;
    ASSERT_TRUE(ParseCommMode("4800,E,7,2,x", mode));
    ASSERT_TRUE(ParseCommMode("19200", mode));
    EXPECT_EQ(mode.BaudRate, 19200u);
    EXPECT_EQ(mode.Parity, CommParity::Even);
    EXPECT_EQ(mode.ByteSize, 7);
    EXPECT_EQ(mode.StopBits, CommStopBits::One);
    EXPECT_FALSE(mode.OutX); // flow control is set in full by this form

    EXPECT_EQ(Parsed("110,N,8").StopBits, CommStopBits::Two);
    EXPECT_EQ(Parsed("11").StopBits, CommStopBits::Two);
    EXPECT_EQ(Parsed("110,N,8,1").StopBits, CommStopBits::One);
    EXPECT_EQ(Parsed("baud=110").StopBits, CommStopBits::Two);
}

TEST(CommMode, KeyForm) {
    const CommMode mode = Parsed("baud=9600 parity=N data=8 stop=2");
    EXPECT_EQ(mode, Parsed("9600,N,8,2"));

    const CommMode all =
        Parsed("BAUD=4800  Parity=e data=7 stop=1.5 xon=on odsr=on octs=on dtr=hs rts=tg idsr=on "
               "to=off");
    EXPECT_EQ(all.BaudRate, 4800u);
    EXPECT_EQ(all.Parity, CommParity::Even);
    EXPECT_EQ(all.ByteSize, 7);
    EXPECT_EQ(all.StopBits, CommStopBits::OneAndHalf);
    EXPECT_TRUE(all.OutX && all.InX && all.OutxDsrFlow && all.OutxCtsFlow && all.DsrSensitivity);
    EXPECT_EQ(all.Dtr, DtrControl::Handshake);
    EXPECT_EQ(all.Rts, RtsControl::Toggle);

    EXPECT_EQ(Parsed("dtr=off rts=off").Dtr, DtrControl::Disable);
    EXPECT_EQ(Parsed("dtr=off rts=off").Rts, RtsControl::Disable);
    EXPECT_EQ(Parsed("rts=hs").Rts, RtsControl::Handshake);

    // Only what is named changes, except the stop bits.
    CommMode kept;
    ASSERT_TRUE(ParseCommMode("2400,O,7,2,x", kept));
    ASSERT_TRUE(ParseCommMode("parity=s", kept));
    EXPECT_EQ(kept.BaudRate, 2400u);
    EXPECT_EQ(kept.ByteSize, 7);
    EXPECT_EQ(kept.Parity, CommParity::Space);
    EXPECT_EQ(kept.StopBits, CommStopBits::One);
    EXPECT_TRUE(kept.OutX);
}

TEST(CommMode, BadTextsFailAndChangeNothing) {
    const char* bad[] = {
        "",
        "   ",
        ",",
        "9600,",
        "9600,,8,1",
        "9600,Q,8,2",
        "9600,NN,8,2",
        "9600,N,9,2",
        "9600,N,4,2",
        "9600,N,8,3",
        "9600,N,8,1.0",
        "9600,N,8,2,z",
        "9600,N,8,2,x,1",
        "0,N,8,1",
        "-9600,N,8,1",
        "96OO,N,8,1",
        "4294967296,N,8,1",
        "99999999999",
        "9600 N 8 2",
        "baud=",
        "baud=9600 parity",
        "baud=9600 foo=1",
        "baud = 9600",
        "data=4",
        "stop=1.5x",
        "xon=yes",
        "rts=maybe",
        "dtr=tg",
        "baud=9600,parity=N",
        "=",
    };
    for (const char* text : bad) {
        CommMode mode;
        mode.BaudRate = 1234;
        mode.Parity = CommParity::Odd;
        const CommMode before = mode;
        EXPECT_FALSE(ParseCommMode(text, mode)) << '"' << text << '"';
        EXPECT_EQ(mode, before) << '"' << text << '"';
    }
}
