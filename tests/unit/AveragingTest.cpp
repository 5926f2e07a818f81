#include "InOutPort.h"

#include <gtest/gtest.h>

using namespace pelmbus;

namespace {

void Current(TInOutPort& port, float f0, float f7, float f10, float f8 = 0, float f9 = 0) {
    port.BufFloat[0] = f0;
    port.BufFloat[7] = f7;
    port.BufFloat[8] = f8;
    port.BufFloat[9] = f9;
    port.BufFloat[10] = f10;
}

} // namespace

TEST(AccumAverage, TwoRefreshPeriod) {
    TInOutPort port;
    port.UstUsredn = 2;
    Current(port, 10, 1, 30);
    EXPECT_FALSE(port.AccumAverage());
    EXPECT_EQ(port.UsrednAcc[0], 10.0f);
    EXPECT_EQ(port.UsrednAcc[5], 120.0f);
    EXPECT_EQ(port.BufFloat[11], 0.0f) << "nothing published before the period ends";

    Current(port, 20, 3, 30, 2, 6);
    EXPECT_TRUE(port.AccumAverage());
    EXPECT_EQ(port.BufFloat[11], 17.5f);
    EXPECT_EQ(port.BufFloat[16], 240.0f);
    EXPECT_EQ(port.BufFloat[17], 360.0f); // f9 sum 6 over 60 s
    EXPECT_EQ(port.BufFloat[18], 4.0f);
    EXPECT_EQ(port.BufFloat[19], 2.0f);
    EXPECT_EQ(port.BufFloat[20], 6.0f);
    EXPECT_EQ(port.BufFloat[21], 60.0f);
    for (float a : port.UsrednAcc) {
        EXPECT_EQ(a, 0.0f);
    }
    EXPECT_EQ(port.UsrednCount, 0u);
}

TEST(AccumAverage, SetPointOnePublishesEveryStep) {
    TInOutPort port;
    port.UstUsredn = 1;
    Current(port, 7.25f, 2, 60);
    port.BufFloat[4] = -3.5f;
    EXPECT_TRUE(port.AccumAverage());
    EXPECT_EQ(port.BufFloat[11], 7.25f);
    EXPECT_EQ(port.BufFloat[15], -3.5f);
    EXPECT_EQ(port.BufFloat[16], 120.0f);

    // No weight: the means stay 0; no duration: the flow stays 0.
    Current(port, 5, 0, 0);
    EXPECT_TRUE(port.AccumAverage());
    EXPECT_EQ(port.BufFloat[11], 0.0f);
    EXPECT_EQ(port.BufFloat[16], 0.0f);
    EXPECT_EQ(port.BufFloat[18], 0.0f);

    Current(port, 5, 1e-7f, 0.05f);
    EXPECT_TRUE(port.AccumAverage());
    EXPECT_EQ(port.BufFloat[11], 0.0f) << "weight 1e-7 is below the threshold";
    EXPECT_EQ(port.BufFloat[16], 0.0f) << "duration 0.05 s is below the threshold";
}

TEST(AccumAverage, ZeroWeightThroughoutAPeriod) {
    TInOutPort port;
    port.UstUsredn = 3;
    for (int i = 0; i < 2; ++i) {
        Current(port, 50, 0, 30);
        EXPECT_FALSE(port.AccumAverage());
    }
    Current(port, 50, 0, 30);
    EXPECT_TRUE(port.AccumAverage());
    EXPECT_EQ(port.BufFloat[11], 0.0f);
    EXPECT_EQ(port.BufFloat[18], 0.0f);
    EXPECT_EQ(port.BufFloat[21], 90.0f);
}

TEST(AccumAverage, SetPointLoweredMidPeriodEndsItAtTheNextStep) {
    TInOutPort port;
    port.UstUsredn = 5;
    Current(port, 1, 1, 1);
    EXPECT_FALSE(port.AccumAverage());
    EXPECT_FALSE(port.AccumAverage());
    port.UstUsredn = 2; // the count of 2 already reached: the next step publishes
    EXPECT_TRUE(port.AccumAverage());
    EXPECT_EQ(port.BufFloat[18], 3.0f);
}

TEST(SlidingAverage, WindowOfThreeSlides) {
    TInOutPort port;
    port.SetUstUsrednCl(3);
    for (float volume : {1.0f, 2.0f, 3.0f}) {
        Current(port, 0, volume, 60);
        port.SlidingAverage();
    }
    EXPECT_EQ(port.BufFloat[88], 120.0f);
    Current(port, 0, 4, 60);
    port.SlidingAverage();
    EXPECT_EQ(port.BufFloat[88], 180.0f);
    EXPECT_EQ(port.UsrednClA, (std::vector<float>{2, 3, 4}));
}

TEST(SlidingAverage, ResizeDropsSamplesAndZerosAddNothing) {
    TInOutPort port;
    Current(port, 0, 9, 60);
    port.SlidingAverage();
    port.SetUstUsrednCl(5);
    Current(port, 0, 2, 60);
    port.SlidingAverage();
    EXPECT_EQ(port.BufFloat[88], 120.0f);
}

TEST(SlidingAverage, FixedValuesWithoutVolumeOrDuration) {
    TInOutPort port;
    port.SetUstUsrednCl(3);
    for (float duration : {0.0f, 60.0f, -5.0f}) {
        Current(port, 0, 0, duration);
        port.SlidingAverage();
    }
    EXPECT_EQ(port.BufFloat[88], 0.0f);

    for (int i = 0; i < 3; ++i) {
        Current(port, 0, 5, 0);
        port.SlidingAverage();
    }
    EXPECT_EQ(port.BufFloat[88], 100000.0f);
}

TEST(SlidingAverage, WindowOfOneUsesTheCurrentRefresh) {
    TInOutPort port;
    port.SetUstUsrednCl(1);
    Current(port, 0, 3, 90);
    port.SlidingAverage();
    EXPECT_EQ(port.BufFloat[88], 120.0f);
    Current(port, 0, 1, 3600);
    port.SlidingAverage();
    EXPECT_EQ(port.BufFloat[88], 1.0f);
}

TEST(SlidingAverage, SumsInDoubleFromIndexZero) {
    TInOutPort port;
    port.SetUstUsrednCl(3);
    // 2^24 + 1 + 1 is exact in double; summed in single precision each 1 is lost.
    for (float volume : {16777216.0f, 1.0f, 1.0f}) {
        Current(port, 0, volume, 1200);
        port.SlidingAverage();
    }
    EXPECT_EQ(port.BufFloat[88], 16777218.0f);
}
