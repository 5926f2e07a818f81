#include "LocaleNumbers.h"
#include "Errors.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using namespace pelmbus;

namespace {

const TFormatSettings Comma{",", "\u00A0", "dd.MM.yyyy", "hh:mm:ss"};
const TFormatSettings Point{".", ",", "MM/dd/yy", "hh:mm:ss"};

TEST(LocaleNumbers, WholeNumbersAcceptLeadingBlanksAndOneSignOnly) {
    int32_t v = 0;
    EXPECT_TRUE(TryStrToInt("178", v));
    EXPECT_EQ(v, 178);
    EXPECT_TRUE(TryStrToInt("  -12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(TryStrToInt("+7", v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(TryStrToInt("-2147483648", v));
    EXPECT_EQ(v, std::numeric_limits<int32_t>::min());
    EXPECT_TRUE(TryStrToInt("2147483647", v));
    EXPECT_EQ(v, std::numeric_limits<int32_t>::max());
    v = 99;
    for (const char* bad : {"", " ", "-", "+-1", "12 ", "1.5", "1,5", "0x10", "12a", "2147483648",
                            "-2147483649", "99999999999999999999"}) {
        EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
    }
    EXPECT_EQ(v, 99);
}

TEST(LocaleNumbers, ErrorsNameTheText) {
    try {
        StrToInt("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "\"abc\" — недопустимое целое число");
    }
    try {
        StrToFloat("12.5", Comma);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "\"12.5\" — недопустимое число");
    }
}

TEST(LocaleNumbers, FloatsTakeOnlyTheLocaleSeparator) {
    EXPECT_DOUBLE_EQ(StrToFloat("12,5", Comma), 12.5);
    EXPECT_DOUBLE_EQ(StrToFloat("  -0,25  ", Comma), -0.25);
    EXPECT_DOUBLE_EQ(StrToFloat("100 ", Comma), 100.0); // field 2 of an entry line
    EXPECT_DOUBLE_EQ(StrToFloat(",5", Comma), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("5,", Comma), 5.0);
    EXPECT_DOUBLE_EQ(StrToFloat("1,5E+3", Comma), 1500.0);
    EXPECT_DOUBLE_EQ(StrToFloat("+2e-2", Comma), 0.02);
    EXPECT_DOUBLE_EQ(StrToFloat("12.5", Point), 12.5);
    EXPECT_EQ(StrToFloat("1e-400", Comma), 0.0); // below the range: as good as zero
    EXPECT_DOUBLE_EQ(StrToFloat("1,7976931348623e308", Comma), 1.7976931348623e308);

    double v = 3.0;
    for (const char* bad : {"12.5", "100,000,5", "1\u00A0000", "", ",", "e5", "1e", "1e+", "- 1",
                            "1 2", "inf", "nan", "0x1p3", "1e999", "12,5x"}) {
        EXPECT_FALSE(TryStrToFloat(bad, v, Comma)) << bad;
    }
    EXPECT_FALSE(TryStrToFloat("100,000", v, Point));
    EXPECT_EQ(v, 3.0);
}

TEST(LocaleNumbers, GeneralFormHasFifteenDigitsAndTheLocaleSeparator) {
    EXPECT_EQ(FormatGeneral(12.5, Comma), "12,5");
    EXPECT_EQ(FormatGeneral(12.5, Point), "12.5");
    EXPECT_EQ(FormatGeneral(100.0, Comma), "100");
    EXPECT_EQ(FormatGeneral(0.0, Comma), "0");
    EXPECT_EQ(FormatGeneral(-0.001, Comma), "-0,001");
    EXPECT_EQ(FormatGeneral(0.1 + 0.2, Comma), "0,3");
    EXPECT_EQ(FormatGeneral(123456789012345678.0, Comma), "1,23456789012346e+17");
    EXPECT_EQ(FormatGeneral(1e-7, Point), "1e-07");
    // What is written reads back.
    for (double x : {12.5, -3.75e-12, 6.02214076e23, 1.0 / 3.0}) {
        EXPECT_NEAR(StrToFloat(FormatGeneral(x, Comma), Comma), x, std::abs(x) * 1e-14);
    }
}

TEST(LocaleNumbers, ThousandsGroupedWithTheLocaleSeparator) {
    EXPECT_EQ(FormatThousands(0, Point), "0");
    EXPECT_EQ(FormatThousands(999, Point), "999");
    EXPECT_EQ(FormatThousands(1000, Point), "1,000");
    EXPECT_EQ(FormatThousands(1000, Comma), "1\u00A0000");
    EXPECT_EQ(FormatThousands(-1234567, Point), "-1,234,567");
    EXPECT_EQ(FormatThousands(std::numeric_limits<int64_t>::min(), Point),
              "-9,223,372,036,854,775,808");
}

} // namespace
