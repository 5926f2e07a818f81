// Dates and times written with the pictures of the user's format settings,
// from explicit pictures and from two real locales.
#include "DateTimeText.h"
#include "FileTestSupport.h"
#include "SystemServices.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace pelmbus;

// With LOCPATH set, the C library's newlocale keeps its copy of the path
// list for good.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:argz_add_sep\n";
}

namespace {

const TLocalDateTime Evening{2024, 3, 5, 19, 8, 9, 40}; // a Tuesday

TEST(DateTimeText, PictureLettersRunsAndQuotes) {
    const TFormatSettings f;
    EXPECT_EQ(FormatDateTime("d.M.yy H:m:s", Evening, f), "5.3.24 19:8:9");
    EXPECT_EQ(FormatDateTime("dd.MM.yyyy hh:mm:ss.zzz", Evening, f), "05.03.2024 19:08:09.040");
    EXPECT_EQ(FormatDateTime("ddd dddd MMM MMMM", Evening, f), "Tue Tuesday Mar March");
    EXPECT_EQ(FormatDateTime("ss.z", Evening, f), "09.04");
    // Quoted text is copied, '' is one quote, other characters stay.
    EXPECT_EQ(FormatDateTime("yyyy'г. day' d''M/-y", Evening, f), "2024г. day 5'3/-y");
    EXPECT_EQ(FormatDateTime("'open", Evening, f), "open");
    // A run longer than a letter's longest form starts again.
    EXPECT_EQ(FormatDateTime("ddddd", Evening, f), "Tuesday5");
}

TEST(DateTimeText, TwelveHourClockOnlyWithAmPm) {
    TFormatSettings f;
    f.TimePMString = "pm";
    EXPECT_EQ(FormatDateTime("h:mm AP", Evening, f), "7:08 PM");
    EXPECT_EQ(FormatDateTime("hh:mm ap", Evening, f), "07:08 pm");
    EXPECT_EQ(FormatDateTime("HH:mm a", Evening, f), "19:08 pm");
    const TLocalDateTime night{2024, 3, 5, 0, 30, 0, 0};
    const TLocalDateTime noon{2024, 3, 5, 12, 0, 0, 0};
    EXPECT_EQ(FormatDateTime("h:mm A", night, f), "12:30 AM");
    EXPECT_EQ(FormatDateTime("h A", noon, f), "12 PM");
    EXPECT_EQ(FormatDateTime("h", night, f), "0");
}

TEST(DateTimeText, StandardTextLeavesTheTimeOutOnlyAtExactMidnight) {
    TFormatSettings ru;
    ru.ShortDateFormat = "dd.MM.yyyy";
    ru.LongTimeFormat = "hh:mm:ss";
    TFormatSettings us;
    us.ShortDateFormat = "MM/dd/yyyy";
    us.LongTimeFormat = "hh:mm:ss AP";
    EXPECT_EQ(DateTimeToStr(Evening, ru), "05.03.2024 19:08:09");
    EXPECT_EQ(DateTimeToStr(Evening, us), "03/05/2024 07:08:09 PM");
    const TLocalDateTime midnight{2024, 12, 31, 0, 0, 0, 0};
    EXPECT_EQ(DateTimeToStr(midnight, ru), "31.12.2024");
    EXPECT_EQ(DateTimeToStr(midnight, us), "12/31/2024");
    EXPECT_EQ(DateTimeToStr({2024, 12, 31, 0, 0, 1, 0}, us), "12/31/2024 12:00:01 AM");
}

#ifndef _WIN32
// Locales compiled into a private directory, so that the test does not
// depend on the locales installed on the machine.
class LocaleDateTime : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
            unsetenv(name);
        }
        setenv("LOCPATH", Dir.Path().c_str(), 1);
    }
    void TearDown() override { unsetenv("LOCPATH"); }
    bool Use(const std::string& name) {
        const std::string command =
            "localedef -i " + name + " -f UTF-8 " + Dir.Path() + name + ".UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            return false;
        }
        setenv("LC_ALL", (name + ".UTF-8").c_str(), 1);
        return true;
    }
    testing_files::TempDir Dir;
};

TEST_F(LocaleDateTime, RussianAndUnitedStatesLocalesGiveTheirOwnText) {
    if (!Use("ru_RU")) {
        GTEST_SKIP() << "localedef could not build ru_RU.UTF-8 here";
    }
    TFormatSettings f = UserFormatSettings();
    EXPECT_EQ(DateTimeToStr(Evening, f), "05.03.2024 19:08:09");
    EXPECT_EQ(FormatDateTime("d MMMM yyyy, ddd", Evening, f), "5 марта 2024, Вт");

    ASSERT_TRUE(Use("en_US"));
    f = UserFormatSettings();
    EXPECT_EQ(DateTimeToStr(Evening, f), "03/05/2024 07:08:09 PM");
    EXPECT_EQ(DateTimeToStr({2024, 3, 5, 0, 0, 0, 0}, f), "03/05/2024");
}

#endif

} // namespace
