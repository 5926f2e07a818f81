// The simulator's station model: which commands it knows, and that its
// reports have the layout and the arithmetic PelMBus relies on.
#include "StationData.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace pelsim;

namespace {

// 7 March 2026, 09:15:30 local time.
std::time_t Moment(int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 2;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

class StationData : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

} // namespace

TEST_F(StationData, KnowsTheSevenReportCommandsOnly) {
    for (const char* command :
         {"GetRepData 0 0 0", "GetRepData 0 2 0", "GetRepData 0 2 1", "GetRepData 0 3 0",
          "GetRepData 0 3 1", "GetRepData 0 4 0", "GetRepData 0 4 1"}) {
        EXPECT_TRUE(ParseCommand(command).has_value()) << command;
    }
    for (const char* command :
         {"GetRepData 0 0 1", "GetRepData 0 1 0", "GetRepData 0 5 0", "GetRepData 1 0 0",
          "GetRepData 0 2 2", "GetRepData 0 2 0 ", "getrepdata 0 0 0", "", "GetRepData 0 20"}) {
        EXPECT_FALSE(ParseCommand(command).has_value()) << command;
    }
    const auto shift = ParseCommand("GetRepData 0 3 1");
    EXPECT_EQ(shift->Period, 3);
    EXPECT_TRUE(shift->Finished);
}

TEST_F(StationData, ReportHasTheParsedLayout) {
    StationModel model(10, Moment(7, 9, 15, 30));
    const auto lines = model.ReportLines({2, false}, ",");
    ASSERT_EQ(lines.size(), static_cast<size_t>(ReportLineCount));
    EXPECT_EQ(lines[1], "07.03.2026");
    EXPECT_EQ(lines[2], "09:15:30");
    for (int i = 3; i < ReportLineCount; ++i) {
        EXPECT_NE(lines[i].find(','), std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].find('.'), std::string::npos) << lines[i];
    }
    // The running two-hour interval began at 08:00.
    EXPECT_EQ(lines[13], "4530,0000");
    // The finished one is stamped with its end.
    const auto finished = model.ReportLines({2, true}, ".");
    EXPECT_EQ(finished[2], "08:00:00");
    EXPECT_EQ(finished[13], "7200.0000");
}

TEST_F(StationData, SummedQuantitiesFollowFlowAndDuration) {
    StationModel model(10, Moment(7, 9, 15, 30));
    for (const ReportRequest request : {ReportRequest{0, false}, ReportRequest{4, true}}) {
        const auto v = model.Values(request);
        EXPECT_NEAR(v[7], v[5] * v[10] / 3600.0, 1e-9);
        EXPECT_NEAR(v[8], v[7] * v[2] / 1000.0, 1e-9);
        EXPECT_NEAR(v[9], v[7] * v[4] / 1000.0, 1e-9);
        EXPECT_GT(v[7], 0.0);
    }
    EXPECT_EQ(model.Values({0, false})[10], 10.0) << "current values cover one refresh";
    EXPECT_EQ(model.Values({4, true})[10], 86400.0);
}

TEST_F(StationData, DataMoveOnOnlyWithARefresh) {
    StationModel model(10, Moment(7, 9, 15, 30));
    const auto before = model.Values({0, false});
    EXPECT_EQ(model.Values({0, false}), before) << "two calls between refreshes agree";
    model.Advance(Moment(7, 9, 15, 40));
    const auto after = model.Values({0, false});
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(after[i], before[i]) << "value " << i;
    }
    EXPECT_EQ(model.ReportLines({0, false}, ".")[2], "09:15:40");
}

TEST_F(StationData, ShiftsChangeAtEightAndTwenty) {
    EXPECT_EQ(PeriodStart(3, Moment(7, 7, 59, 59)), Moment(6, 20, 0, 0));
    EXPECT_EQ(PeriodStart(3, Moment(7, 8, 0, 0)), Moment(7, 8, 0, 0));
    EXPECT_EQ(PeriodStart(3, Moment(7, 23, 0, 0)), Moment(7, 20, 0, 0));
    EXPECT_EQ(PeriodStart(2, Moment(7, 9, 59, 0)), Moment(7, 8, 0, 0));
    EXPECT_EQ(PeriodStart(4, Moment(1, 0, 30, 0)), Moment(1, 0, 0, 0));
}

TEST_F(StationData, RepliesAreCutToTheLinesAsked) {
    const std::vector<std::string> lines{"a", "b", "c"};
    EXPECT_EQ(JoinReply(lines, 99), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(JoinReply(lines, 2), "a\r\nb\r\n");
    EXPECT_EQ(JoinReply(lines, 0), "");
    EXPECT_EQ(FormatValue(-0.00004, ","), "-0,0000");
    EXPECT_EQ(FormatValue(1250.5, "\xC2\xA0"), "1250\xC2\xA0"
                                               "5000");
}
