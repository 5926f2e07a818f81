#include "ReportRefresh.h"
#include "ByteOrder.h"
#include "Errors.h"
#include "InOutPort.h"

#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <stdexcept>

using namespace pelmbus;

namespace {

// Serves prepared replies and records the commands in the order they came.
class FakeMeteringApp {
public:
    std::map<std::string, std::string> Replies;
    std::vector<std::string> Commands;

    std::string operator()(const std::string& command) {
        Commands.push_back(command);
        const auto reply = Replies.find(command);
        if (reply == Replies.end()) {
            throw std::runtime_error("automation error: " + command);
        }
        return reply->second;
    }
};

// A 14-line reply: title, date, time, eleven values first, first+1, ...
std::string Reply(const std::string& date, const std::string& time, double first,
                  const std::string& separator = ",", int values = 11) {
    std::string text = "Отчёт\r\n" + date + "\r\n" + time + "\r\n";
    for (int i = 0; i < values; ++i) {
        std::string number = std::to_string(first + i + 0.5);
        number = number.substr(0, number.find('.')) + separator + "5";
        text += number + "\r\n";
    }
    return text;
}

uint16_t Register(const TInOutPort& port, int r) {
    return LoadBigEndian16(&port.BufReg[2 * r]);
}

std::vector<uint16_t> Registers(const TInOutPort& port, int first, int count) {
    std::vector<uint16_t> values;
    for (int r = first; r < first + count; ++r) {
        values.push_back(Register(port, r));
    }
    return values;
}

class ReportRefreshTest : public ::testing::Test {
protected:
    ReportRefreshTest() {
        sources_.DoCommand = [this](const std::string& command) { return app_(command); };
        sources_.ManualEntries = &entries_;
        sources_.Format.DecimalSeparator = ",";
        sources_.Format.ThousandSeparator = " ";
        sources_.GetTickCount = [this] { return ++tick_; };
    }

    void ServeAllKinds() {
        const char* commands[] = {"GetRepData 0 0 0", "GetRepData 0 2 0", "GetRepData 0 2 1",
                                  "GetRepData 0 3 0", "GetRepData 0 3 1", "GetRepData 0 4 0",
                                  "GetRepData 0 4 1"};
        int day = 1;
        for (const char* command : commands) {
            app_.Replies[command] = Reply((day < 10 ? "0" : "") + std::to_string(day) + ".03.2026",
                                          "10:20:30", day * 100.0) +
                                    "строка 14\r\n";
            ++day;
        }
    }

    void Refresh() { ReportRefresh(port_, sources_, lastTick_); }

    TInOutPort port_;
    FakeMeteringApp app_;
    std::vector<std::string> entries_;
    ReportSources sources_;
    uint32_t tick_ = 1000;
    uint32_t lastTick_ = 0;
};

} // namespace

TEST_F(ReportRefreshTest, AllNineKinds) {
    ServeAllKinds();
    port_.UstUsredn = 2;
    Refresh();
    EXPECT_EQ(app_.Commands,
              (std::vector<std::string>{"GetRepData 0 0 0", "GetRepData 0 2 0", "GetRepData 0 2 1",
                                        "GetRepData 0 3 0", "GetRepData 0 3 1", "GetRepData 0 4 0",
                                        "GetRepData 0 4 1"}));
    EXPECT_EQ(port_.BufFloat[0], 100.5f);
    EXPECT_EQ(port_.BufFloat[10], 110.5f);
    const int firstFloats[] = {22, 33, 44, 55, 66, 77};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(port_.BufFloat[firstFloats[k]], (k + 2) * 100 + 0.5f) << k;
        EXPECT_EQ(port_.BufFloat[firstFloats[k] + 10], (k + 2) * 100 + 10.5f) << k;
    }
    // Sliding flow over the first sample and five zeros: f7 / f10 * 3600.
    EXPECT_FLOAT_EQ(port_.BufFloat[88], 107.5f / 110.5f * 3600.0f);
    EXPECT_EQ(port_.BufFloat[11], 0.0f) << "the first averaging period is not complete";
    EXPECT_EQ(std::bit_cast<uint32_t>(port_.BufFloat[0]),
              uint32_t{Register(port_, 0)} << 16 | Register(port_, 1));

    const std::vector<uint16_t> noDate(6, 0);
    EXPECT_EQ(Registers(port_, 250, 6), (std::vector<uint16_t>{2026, 3, 1, 10, 20, 30}));
    EXPECT_EQ(Registers(port_, 256, 6), noDate) << "kind 1 has no date before its period ends";
    EXPECT_EQ(Registers(port_, 292, 6), (std::vector<uint16_t>{2026, 3, 7, 10, 20, 30}));
    EXPECT_EQ(Registers(port_, 298, 6), Registers(port_, 250, 6)) << "kind 8 carries kind 0's";
    EXPECT_EQ(lastTick_, 1001u);

    app_.Replies["GetRepData 0 0 0"] = Reply("02.04.2026", "11:00:00", 300.0);
    Refresh();
    EXPECT_NE(port_.BufFloat[11], 0.0f) << "the second refresh completes the period";
    EXPECT_EQ(Registers(port_, 256, 6), (std::vector<uint16_t>{2026, 4, 2, 11, 0, 0}));
    EXPECT_EQ(Register(port_, 2 * 11), Register(port_, 22)); // registers follow the floats
    EXPECT_EQ(lastTick_, 1002u);
}

TEST_F(ReportRefreshTest, HeaderOfKindTwoInItsRegisters) {
    port_.DataFlags.fill(false);
    port_.DataFlags[2] = true;
    app_.Replies["GetRepData 0 2 0"] = "title\r\n07.03.2026\r\n09:15:30\r\n1,0\r\n";
    Refresh();
    EXPECT_EQ(Registers(port_, 262, 6), (std::vector<uint16_t>{2026, 3, 7, 9, 15, 30}));
    EXPECT_EQ(port_.BufReg[524], 0x07);
    EXPECT_EQ(port_.BufReg[525], 0xEA);
    EXPECT_EQ(Registers(port_, 250, 12), std::vector<uint16_t>(12, 0));
    EXPECT_EQ(Registers(port_, 268, 36), std::vector<uint16_t>(36, 0));
}

TEST_F(ReportRefreshTest, ShortReplyLeavesTheMissingValues) {
    port_.DataFlags.fill(false);
    port_.DataFlags[0] = true;
    for (int i = 0; i <= 10; ++i) {
        port_.BufFloat[i] = -1.0f;
    }
    // Lone LF and lone CR end lines too.
    app_.Replies["GetRepData 0 0 0"] = "t\n01.01.2026\r09:00:00\n1,5\n2,5\r3,5\r\n4,5\n  5,5  ";
    Refresh();
    EXPECT_EQ(port_.BufFloat[0], 1.5f);
    EXPECT_EQ(port_.BufFloat[4], 5.5f) << "blanks around a number are allowed";
    for (int i = 5; i <= 10; ++i) {
        EXPECT_EQ(port_.BufFloat[i], -1.0f) << i;
    }
}

TEST_F(ReportRefreshTest, OnlyKindZeroLeavesEverythingElse) {
    port_.DataFlags.fill(false);
    port_.DataFlags[0] = true;
    for (int i = 11; i <= 88; ++i) {
        port_.BufFloat[i] = static_cast<float>(i);
    }
    for (int r = 256; r <= 303; ++r) {
        StoreBigEndian16(&port_.BufReg[2 * r], static_cast<uint16_t>(r));
    }
    app_.Replies["GetRepData 0 0 0"] = Reply("05.05.2026", "05:05:05", 1.0);
    Refresh();
    EXPECT_EQ(app_.Commands.size(), 1u);
    for (int i = 11; i <= 88; ++i) {
        EXPECT_EQ(port_.BufFloat[i], static_cast<float>(i)) << i;
    }
    for (int r = 256; r <= 303; ++r) {
        EXPECT_EQ(Register(port_, r), r) << r;
    }
    EXPECT_EQ(port_.UsrednCount, 0u) << "the accumulated average did not run";
    EXPECT_EQ(port_.UsrednClA, std::vector<float>(6, 0.0f)) << "the sliding average did not run";
}

TEST_F(ReportRefreshTest, ManualEntries) {
    port_.DataFlags.fill(false);
    port_.BufFloat[91] = 7.0f; // register 182, whose entry was deleted
    port_.BufFloat[109] = 9.0f;
    entries_ = {"180=1,5 = Давление", "178=2 = a", "179=3 = later line wins"};
    Refresh();
    EXPECT_EQ(port_.BufFloat[90], 1.5f);
    EXPECT_EQ(port_.BufFloat[91], 0.0f);
    EXPECT_EQ(port_.BufFloat[89], 3.0f);
    EXPECT_EQ(Register(port_, 180), 0x3FC0);
    EXPECT_EQ(Register(port_, 181), 0x0000);
    EXPECT_EQ(port_.BufFloat[109], 9.0f) << "float 109 is not cleared";
    EXPECT_EQ(Register(port_, 218), 0x4110);

    // Far outside the image: skipped. Below 178: applied.
    entries_ = {"600=5 = x", "-700=5 = y", "4=6,25 = z"};
    Refresh();
    EXPECT_EQ(port_.BufFloat[2], 6.25f);
    EXPECT_EQ(port_.BufFloat[255], 0.0f);
}

TEST_F(ReportRefreshTest, BlankAndCommentLinesOfAHandEditedFileArePassedOver) {
    port_.DataFlags.fill(false);
    entries_ = {"", "; давление на входе", "180=1,5 = Давление", "   ", "\t", "182=2 = b"};
    ASSERT_NO_THROW(Refresh());
    EXPECT_EQ(port_.BufFloat[90], 1.5f);
    EXPECT_EQ(port_.BufFloat[91], 2.0f);
    EXPECT_EQ(Register(port_, 180), 0x3FC0);
    EXPECT_EQ(lastTick_, tick_);
    EXPECT_EQ(entries_.size(), 6u) << "the lines stay as they are";
}

TEST_F(ReportRefreshTest, FailuresStopTheRefreshAndKeepTheTick) {
    ServeAllKinds();
    app_.Replies.erase("GetRepData 0 3 0");
    EXPECT_THROW(Refresh(), std::runtime_error);
    EXPECT_EQ(port_.BufFloat[33], 300.5f) << "kinds before the failing command are stored";
    EXPECT_EQ(port_.BufFloat[44], 0.0f);
    EXPECT_EQ(Register(port_, 0), 0) << "registers are not updated";
    EXPECT_EQ(lastTick_, 0u);

    ServeAllKinds();
    app_.Replies["GetRepData 0 2 1"] = "title\r\n01.01.2026\r\n";
    EXPECT_THROW(Refresh(), EReportError);
    EXPECT_EQ(lastTick_, 0u);

    ServeAllKinds();
    app_.Replies["GetRepData 0 0 0"] = Reply("01.01.2026", "00:00:00", 1.0, ".");
    port_.BufFloat[0] = 0.0f;
    EXPECT_THROW(Refresh(), EConvertError) << "a point where the locale has a comma";
    EXPECT_EQ(Register(port_, 0), 0);

    ServeAllKinds();
    entries_ = {"180=abc = x"};
    EXPECT_THROW(Refresh(), EConvertError);
    EXPECT_EQ(Register(port_, 0), 0) << "no refresh reaches the registers with a bad entry";
    entries_ = {"18O=1 = x"};
    EXPECT_THROW(Refresh(), EConvertError);
    entries_ = {"180=1e39 = beyond single precision"};
    EXPECT_THROW(Refresh(), EConvertError);
    EXPECT_EQ(lastTick_, 0u);
    entries_.clear();
}

TEST_F(ReportRefreshTest, BadHeaderFieldStopsAtTheDates) {
    ServeAllKinds();
    app_.Replies["GetRepData 0 2 1"] = Reply("1.03.2026", "10:20:30", 5.0);
    EXPECT_THROW(Refresh(), EConvertError);
    EXPECT_NE(Register(port_, 0), 0) << "registers 0 to 219 are updated";
    EXPECT_EQ(Registers(port_, 262, 6), (std::vector<uint16_t>{2026, 3, 2, 10, 20, 30}));
    EXPECT_EQ(Registers(port_, 268, 6), std::vector<uint16_t>(6, 0));
    EXPECT_EQ(Registers(port_, 274, 6), std::vector<uint16_t>(6, 0));
    EXPECT_EQ(lastTick_, 0u);
}

TEST(ParseRepTime, FixedPositions) {
    const RepTime t = ParseRepTime("25.12.2026:14:05:00");
    EXPECT_EQ(t.Year, 2026);
    EXPECT_EQ(t.Month, 12);
    EXPECT_EQ(t.Day, 25);
    EXPECT_EQ(t.Hour, 14);
    EXPECT_EQ(t.Minute, 5);
    EXPECT_EQ(t.Second, 0);
    // Separators are not looked at; leading blanks are allowed.
    const RepTime u = ParseRepTime(" 1/ 2/ 999x 3- 4- 5");
    EXPECT_EQ(u.Day, 1);
    EXPECT_EQ(u.Month, 2);
    EXPECT_EQ(u.Year, 999);
    EXPECT_EQ(u.Second, 5);
    EXPECT_THROW(ParseRepTime("25.12.2026:14:05"), EConvertError) << "seconds missing";
    EXPECT_THROW(ParseRepTime(""), EConvertError);
}
