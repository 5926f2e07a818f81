#include "TermiosMode.h"

#include <gtest/gtest.h>

using namespace pelmbus;

namespace {

termios Mapped(const char* modeText) {
    CommMode mode;
    EXPECT_TRUE(ParseCommMode(modeText, mode)) << modeText;
    termios tio{};
    // Start from a cooked terminal so that raw mode must clear things.
    tio.c_iflag = ICRNL | IXON | INPCK | ISTRIP;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    tio.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS;
    ApplyModeToTermios(mode, tio);
    return tio;
}

constexpr tcflag_t Framing = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

} // namespace

TEST(TermiosMode, FramingAndRawMode) {
    const termios standard = Mapped("9600,N,8,2");
    EXPECT_EQ(standard.c_cflag & Framing, static_cast<tcflag_t>(CS8 | CSTOPB));
    EXPECT_EQ(standard.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(standard.c_iflag, 0u);
    EXPECT_EQ(standard.c_oflag & OPOST, 0u);
    EXPECT_EQ(standard.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(standard.c_cc[VMIN], 0);

    EXPECT_EQ(Mapped("9600,E,7,1").c_cflag & Framing, static_cast<tcflag_t>(CS7 | PARENB));
    EXPECT_EQ(Mapped("9600,O,6,2").c_cflag & Framing,
              static_cast<tcflag_t>(CS6 | PARENB | PARODD | CSTOPB));
    EXPECT_EQ(Mapped("9600,M,5,1.5").c_cflag & Framing,
              static_cast<tcflag_t>(CS5 | PARENB | PARODD | CMSPAR | CSTOPB));
    EXPECT_EQ(Mapped("9600,S,8,1").c_cflag & Framing, static_cast<tcflag_t>(CS8 | PARENB | CMSPAR));

    EXPECT_EQ(Mapped("9600,N,8,1,x").c_iflag, static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(Mapped("9600,N,8,1,p").c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    EXPECT_EQ(Mapped("baud=9600 rts=hs").c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
    EXPECT_EQ(Mapped("baud=9600 octs=on").c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));
}

TEST(TermiosMode, ImpossibleFramingAndSpeeds) {
    CommMode mode;
    EXPECT_TRUE(FramingPossible(mode));
    mode.StopBits = CommStopBits::OneAndHalf;
    EXPECT_FALSE(FramingPossible(mode));
    mode.ByteSize = 5;
    EXPECT_TRUE(FramingPossible(mode));
    mode.StopBits = CommStopBits::Two;
    EXPECT_FALSE(FramingPossible(mode));

    speed_t speed = B0;
    EXPECT_TRUE(StandardSpeed(115200, speed));
    EXPECT_EQ(speed, B115200);
    EXPECT_TRUE(StandardSpeed(110, speed));
    EXPECT_EQ(speed, B110);
    EXPECT_FALSE(StandardSpeed(250000, speed));
    EXPECT_FALSE(StandardSpeed(0, speed));
}
