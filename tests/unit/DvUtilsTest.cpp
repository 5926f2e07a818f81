#include "DvUtils.h"

#include <gtest/gtest.h>

using namespace pelmbus;

namespace {

// The key that NumKeyFilter leaves for a typed character.
char Filtered(const std::string& text, char key, const TFormatSettings& format) {
    NumKeyFilter(text, key, format);
    return key;
}

TEST(NumKeyFilter, EitherSeparatorTypesTheLocaleOneOnce) {
    const TFormatSettings blankGroups{",", "\u00A0", "", ""};
    EXPECT_EQ(Filtered("12", '.', blankGroups), ',');
    EXPECT_EQ(Filtered("12", ',', blankGroups), ',');
    EXPECT_EQ(Filtered("12,5", ',', blankGroups), '\0');
    EXPECT_EQ(Filtered("12,5", '.', blankGroups), '\0');
    EXPECT_EQ(Filtered("12", 'e', blankGroups), '\0');
    EXPECT_EQ(Filtered("12", ' ', blankGroups), '\0');
    EXPECT_EQ(Filtered("12", '-', blankGroups), '-');
    EXPECT_EQ(Filtered("-1-", '+', blankGroups), '+');
    EXPECT_EQ(Filtered("12,5", '7', blankGroups), '7');
    EXPECT_EQ(Filtered("12,5", '\r', blankGroups), '\r');
    EXPECT_EQ(Filtered("12,5", '\b', blankGroups), '\b');

    const TFormatSettings pointGroups{",", ".", "", ""};
    EXPECT_EQ(Filtered("12", '.', pointGroups), '\0');
    EXPECT_EQ(Filtered("12", ',', pointGroups), ',');
    EXPECT_EQ(Filtered("12,", ',', pointGroups), '\0');

    const TFormatSettings point{".", ",", "", ""};
    EXPECT_EQ(Filtered("12", '.', point), '.');
    EXPECT_EQ(Filtered("12", ',', point), '\0');
    EXPECT_EQ(Filtered("1.2", '.', point), '\0');
}

TEST(ExtractField, SplitsAnEntryLineIntoItsThreeFields) {
    const std::string line = "178=100 = Параметр №1";
    EXPECT_EQ(ExtractField(line, 1, 1, '='), "178");
    EXPECT_EQ(ExtractField(line, 2, 1, '='), "100 ");
    EXPECT_EQ(ExtractField(line, 3, 1, '='), "Параметр №1");
    EXPECT_EQ(ExtractField(line, 4, 1, '='), "");
    EXPECT_EQ(ExtractField(line, 2, 2, '='), "100 = Параметр №1");
    EXPECT_EQ(ExtractField("180=0 = ", 3, 1, '='), "");
    EXPECT_EQ(ExtractField("180=1 = a=b", 3, 1, '='), "a");
}

TEST(ExtractField, EmptyForCommentsEmptyLinesAndBadNumbers) {
    for (int index : {1, 2, 3}) {
        EXPECT_EQ(ExtractField(";178=1 = x", index, 1, '='), "") << index;
    }
    EXPECT_EQ(ExtractField("", 1, 1, '='), "");
    EXPECT_EQ(ExtractField("178=1", 0, 1, '='), "");
    EXPECT_EQ(ExtractField("178=1", 1, 0, '='), "");
    EXPECT_EQ(ExtractField("178=1", -3, 1, '='), "");
}

TEST(ExtractField, RunsOfDelimitersCountAsOne) {
    EXPECT_EQ(ExtractField("a==b", 2, 1, '='), "b");
    EXPECT_EQ(ExtractField("a==b", 1, 1, '='), "a=");
    // Delimiters at the start stay in field 1; only one is removed.
    EXPECT_EQ(ExtractField("==a=b", 1, 1, '='), "=a");
    EXPECT_EQ(ExtractField("==a=b", 2, 1, '='), "b");
    // Trimmed before the delimiter is removed, not after.
    EXPECT_EQ(ExtractField("\t 178 \t=5", 1, 1, '='), "178 \t");
}

TEST(SkipFields, NeverPassesTheEndOfTheLine) {
    int position = 1;
    SkipFields("a=b", 5, position, '=');
    EXPECT_EQ(position, 4);
    position = 1;
    SkipFields("", 1, position, '=');
    EXPECT_EQ(position, 1);
    position = 1;
    SkipFields("a==b=c", 1, position, '=');
    EXPECT_EQ(position, 4);
}

TEST(TrimBlanksTest, RemovesControlCharactersAndSpacesOnly) {
    EXPECT_EQ(TrimBlanks(" \t\r a b \x01"), "a b");
    EXPECT_EQ(TrimBlanks("\u00A0x"), "\u00A0x");
    EXPECT_EQ(TrimLeftBlanks("  \tkey=v "), "key=v ");
    EXPECT_EQ(TrimBlanks("   "), "");
}

} // namespace
