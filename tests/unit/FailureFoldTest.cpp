// Folding of a failure that repeats: how many journal lines a run of
// failures leaves, and what they say.
#include "FailureFold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelmbus {
namespace {

class FailureFoldTest : public ::testing::Test {
protected:
    std::vector<std::string> Lines;
    FailureFold Fold{"Ошибка", [this](const std::string& line) { Lines.push_back(line); }};
};

TEST_F(FailureFoldTest, TwentyFailuresASecondForAMinuteAreTwoLines) {
    for (uint32_t i = 0; i < 1200; ++i) {
        Fold.Failure("нет ответа", 1000 + i * 50);
    }
    EXPECT_EQ(Lines, std::vector<std::string>{"Ошибка: нет ответа"});
    Fold.Success();
    Fold.Success();
    EXPECT_EQ(Lines, (std::vector<std::string>{"Ошибка: нет ответа",
                                               "Ошибка повторилась ещё 1199 раз за 60 с: "
                                               "нет ответа"}));
}

TEST_F(FailureFoldTest, AnotherTextEndsTheRunAndIsWrittenAtOnce) {
    Fold.Failure("A", 0);
    Fold.Failure("A", 10);
    Fold.Failure("B", 20);
    Fold.Failure("A", 30);
    EXPECT_EQ(Lines,
              (std::vector<std::string>{"Ошибка: A", "Ошибка повторилась ещё 1 раз за 0 с: A",
                                        "Ошибка: B", "Ошибка: A"}));
}

TEST_F(FailureFoldTest, ARunEndsWhenNoRepeatComesWithinTheMinute) {
    Fold.Failure("A", 0);
    Fold.Failure("A", 30000);
    Fold.Check(89999); // 59.999 s after the last one
    EXPECT_EQ(Lines.size(), 1u);
    Fold.Check(90000);
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[1], "Ошибка повторилась ещё 1 раз за 30 с: A");
    // A failure after the gap starts a new run with its own line.
    Fold.Failure("A", 95000);
    EXPECT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[2], "Ошибка: A");
}

TEST_F(FailureFoldTest, AFailureAfterAGapIsANewRunWithoutACheckInBetween) {
    Fold.Failure("A", 0);
    Fold.Failure("A", 1000);
    Fold.Failure("A", 61000);
    EXPECT_EQ(Lines, (std::vector<std::string>{
                         "Ошибка: A", "Ошибка повторилась ещё 1 раз за 1 с: A", "Ошибка: A"}));
}

TEST_F(FailureFoldTest, ASingleFailureLeavesOneLineAndFlushStartsCountingAnew) {
    Fold.Failure("A", 0);
    Fold.Success();
    EXPECT_EQ(Lines.size(), 1u);
    Fold.Failure("A", 100);
    Fold.Failure("A", 200);
    Fold.Flush();
    Fold.Failure("A", 300);
    EXPECT_EQ(Lines,
              (std::vector<std::string>{"Ошибка: A", "Ошибка: A",
                                        "Ошибка повторилась ещё 1 раз за 0 с: A", "Ошибка: A"}));
}

TEST_F(FailureFoldTest, RepeatsAcrossTheTickWrapStayOneRun) {
    Fold.Failure("A", 0xFFFFFF00u);
    Fold.Failure("A", 0x00000100u);
    Fold.Check(0x00000200u);
    Fold.Success();
    EXPECT_EQ(Lines,
              (std::vector<std::string>{"Ошибка: A", "Ошибка повторилась ещё 1 раз за 1 с: A"}));
}

} // namespace
} // namespace pelmbus
