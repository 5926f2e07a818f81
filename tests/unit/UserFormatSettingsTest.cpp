#include "FileTestSupport.h"
#include "SystemServices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

using namespace pelmbus;

// With LOCPATH set, the C library's newlocale keeps its copy of the path
// list for good; only this test sets LOCPATH.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:argz_add_sep\n";
}

namespace {

// Runs with a locale environment of its own and puts the old one back.
class UserFormat : public ::testing::Test {
protected:
    testing_files::TempDir localeDir;

    // A Russian locale compiled into a private directory, so that the test
    // does not depend on the locales installed on the machine.
    bool BuildRussian() {
        const std::string command =
            "localedef -i ru_RU -f UTF-8 " + localeDir.Path() + "ru_RU.UTF-8 >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

    void SetUp() override {
        for (const char* name : Names) {
            const char* value = std::getenv(name);
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(Names); ++i) {
            if (saved_[i]) {
                setenv(Names[i], saved_[i]->c_str(), 1);
            } else {
                unsetenv(Names[i]);
            }
        }
    }

private:
    static constexpr const char* Names[] = {"LC_ALL", "LC_NUMERIC", "LC_TIME", "LANG", "LOCPATH"};
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(UserFormat, CLocaleGivesPointAndCommaAndItsPictures) {
    setenv("LC_ALL", "C", 1);
    const TFormatSettings format = UserFormatSettings();
    EXPECT_EQ(format.DecimalSeparator, ".");
    EXPECT_EQ(format.ThousandSeparator, ","); // the C locale names none
    EXPECT_EQ(format.ShortDateFormat, "MM/dd/yy");
    EXPECT_EQ(format.LongTimeFormat, "hh:mm:ss");
}

TEST_F(UserFormat, UnknownLocaleFallsBackToTheDefaults) {
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    const TFormatSettings format = UserFormatSettings();
    const TFormatSettings defaults;
    EXPECT_EQ(format.DecimalSeparator, defaults.DecimalSeparator);
    EXPECT_EQ(format.ThousandSeparator, defaults.ThousandSeparator);
    EXPECT_EQ(format.ShortDateFormat, defaults.ShortDateFormat);
    EXPECT_EQ(format.LongTimeFormat, defaults.LongTimeFormat);
}

TEST_F(UserFormat, RussianLocaleGivesCommaAndDayFirstDates) {
    if (!BuildRussian()) {
        GTEST_SKIP() << "localedef could not build ru_RU.UTF-8 here";
    }
    setenv("LOCPATH", localeDir.Path().c_str(), 1);
    setenv("LANG", "ru_RU.UTF-8", 1);
    TFormatSettings format = UserFormatSettings();
    EXPECT_EQ(format.DecimalSeparator, ",");
    EXPECT_EQ(format.ThousandSeparator, "\u202F");
    EXPECT_EQ(format.ShortDateFormat, "dd.MM.yyyy");
    EXPECT_EQ(format.LongTimeFormat, "hh:mm:ss");

    // Each category follows its own variable.
    setenv("LC_TIME", "C", 1);
    format = UserFormatSettings();
    EXPECT_EQ(format.DecimalSeparator, ",");
    EXPECT_EQ(format.ShortDateFormat, "MM/dd/yy");
}

} // namespace
