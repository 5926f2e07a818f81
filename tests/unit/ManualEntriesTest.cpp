#include "ManualEntries.h"
#include "Errors.h"
#include "FileTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace pelmbus;
using testing_files::ReadBytes;
using testing_files::TempDir;
using testing_files::WriteBytes;

namespace {

const TFormatSettings Comma{",", "\u00A0", "dd.MM.yyyy", "hh:mm:ss"};
const TFormatSettings Point{".", ",", "MM/dd/yy", "hh:mm:ss"};

TEST(ManualEntries, LineHoldsNumberValueAndComment) {
    EXPECT_EQ(MakeEntryLine(178, 100.0, "Параметр №1", Comma), "178=100 = Параметр №1");
    EXPECT_EQ(MakeEntryLine(180, 12.5, "", Comma), "180=12,5 = ");
    EXPECT_EQ(MakeEntryLine(182, 12.5, "a=b", Point), "182=12.5 = a=b");
    EXPECT_EQ(MakeEntryLine(218, 1.0 / 3.0, "x", Comma), "218=0,333333333333333 = x");
}

TEST(ManualEntries, FieldsReadBackAsTheTabShowsThem) {
    auto fields = ReadEntryFields("178=100 = Параметр №1");
    EXPECT_EQ(fields.RegNum, 178);
    EXPECT_EQ(fields.ValueText, "100");
    EXPECT_EQ(fields.Comment, "Параметр №1");

    fields = ReadEntryFields("180=0 = ");
    EXPECT_EQ(fields.Comment, "");
    // A comment with "=" shows only its part before that "=".
    EXPECT_EQ(ReadEntryFields("182=1 = a=b").Comment, "a");

    EXPECT_THROW(ReadEntryFields("abc=1 = x"), EConvertError);
    EXPECT_THROW(ReadEntryFields(";178=1 = x"), EConvertError);
}

TEST(ManualEntries, ValuesForTheRefreshUseTheLocaleSeparator) {
    const auto entry = ReadEntryValue("180=12,5 = x", Comma);
    EXPECT_EQ(entry.RegNum, 180);
    EXPECT_EQ(entry.Value, 12.5f);
    EXPECT_EQ(ReadEntryValue("180=0,1 = x", Comma).Value, 0.1f); // rounded to single

    // Written under a "." locale, read under a "," one: the line stops.
    try {
        ReadEntryValue("180=12.5 = x", Comma);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "\"12.5 \" — недопустимое число");
    }
    EXPECT_THROW(ReadEntryValue("1x0=1 = x", Comma), EConvertError);
    EXPECT_THROW(ReadEntryValue("180", Comma), EConvertError);

    // Rounding to the largest float is fine; beyond the float range the
    // value is refused like text that is not a number.
    EXPECT_EQ(ReadEntryValue("180=3,4028235e38 = x", Comma).Value,
              std::numeric_limits<float>::max());
    EXPECT_THROW(ReadEntryValue("180=-1e300 = x", Comma), EConvertError);
}

TEST(ManualEntries, FloatIndexStaysInsideTheFloatImage) {
    EXPECT_EQ(EntryFloatIndex(178), 89);
    EXPECT_EQ(EntryFloatIndex(179), 89);
    EXPECT_EQ(EntryFloatIndex(218), 109);
    EXPECT_EQ(EntryFloatIndex(0), 0);
    EXPECT_EQ(EntryFloatIndex(511), 255);
    EXPECT_EQ(EntryFloatIndex(512), std::nullopt);
    EXPECT_EQ(EntryFloatIndex(-1), std::nullopt);
    EXPECT_EQ(EntryFloatIndex(std::numeric_limits<int32_t>::min()), std::nullopt);
}

TEST(ManualEntries, FindsTheFirstEntryByName) {
    const std::vector<std::string> lines = {"no delimiter", "180=1 = a", "178=2 = b", "180=3 = c"};
    EXPECT_EQ(FindEntry(lines, "180"), 1);
    EXPECT_EQ(FindEntry(lines, "178"), 2);
    EXPECT_EQ(FindEntry(lines, "18"), -1);
    EXPECT_EQ(FindEntry(lines, "no delimiter"), -1);
    EXPECT_EQ(FindEntry({"Abc=1", "abc=2"}, "ABC"), 0);
}

TEST(ManualEntries, FileRoundTripsByteForByte) {
    TempDir dir;
    const std::string path = dir.File(ManualEntryFileName);
    std::vector<std::string> lines{"untouched"};
    EXPECT_FALSE(LoadManualEntryFile(path, lines));
    EXPECT_EQ(lines, std::vector<std::string>{"untouched"});

    // Written by hand: Параметр №1, «Ёмкость» — with an odd entry and an
    // empty line, all kept as they are.
    const std::string station = "178=100 = \xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0 \xB9"
                                "1\r\n"
                                "180=12,5 = \xAB\xC5\xEC\xEA\xEE\xF1\xF2\xFC\xBB \x97\r\n"
                                "\r\n"
                                "  junk without fields\r\n";
    WriteBytes(path, station);
    ASSERT_TRUE(LoadManualEntryFile(path, lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"178=100 = Параметр №1", "180=12,5 = «Емкость» —",
                                               "", "  junk without fields"}));
    ASSERT_TRUE(SaveManualEntryFile(path, lines));
    EXPECT_EQ(ReadBytes(path), station);

    ASSERT_TRUE(SaveManualEntryFile(path, {}));
    EXPECT_EQ(ReadBytes(path), "");
    ASSERT_TRUE(LoadManualEntryFile(path, lines));
    EXPECT_TRUE(lines.empty());
}

// Directory permissions of POSIX: a step without the power to override them.
#ifndef _WIN32
TEST(ManualEntries, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File(ManualEntryFileName);
    WriteBytes(path, "178=1 = a\r\n");
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
    const auto result = testing_files::RunWithoutPermissionOverride(
        dir.Path(), [&] { return SaveManualEntryFile(path, {"178=2 = b"}); });
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
    if (result == testing_files::StepResult::CannotDropOverride) {
        GTEST_SKIP() << "this machine cannot run a step without the power to override "
                        "directory permissions";
    }
    EXPECT_EQ(result, testing_files::StepResult::False);
    EXPECT_EQ(ReadBytes(path), "178=1 = a\r\n");
}
#endif

// The same bytes on every platform, also in a directory with Cyrillic
// letters (the paths are UTF-8 inside the program).
TEST(ManualEntries, SavedAndLoadedInCyrillicDirectoryWithTheSameBytes) {
    TempDir station("Станция");
    const std::string path = station.File(ManualEntryFileName);
    ASSERT_TRUE(SaveManualEntryFile(path, {"178=1,5 = Давление", "200=-3 = Ёмкость"}));
    EXPECT_EQ(ReadBytes(path), "178=1,5 = \xC4\xE0\xE2\xEB\xE5\xED\xE8\xE5\r\n"
                               "200=-3 = \xA8\xEC\xEA\xEE\xF1\xF2\xFC\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(LoadManualEntryFile(path, lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"178=1,5 = Давление", "200=-3 = Ёмкость"}));
}

} // namespace
