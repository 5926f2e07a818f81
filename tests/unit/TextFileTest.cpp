#include "TextFile.h"
#include "Cp1251.h"
#include "FileTestSupport.h"
#include "SameText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace pelmbus;
using testing_files::ReadBytes;
using testing_files::TempDir;
using testing_files::WriteBytes;

namespace {

using Lines = std::vector<std::string>;

TEST(Cp1251, EveryByteRoundTripsThroughUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string text = Cp1251ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1251(text), all);
    EXPECT_EQ(std::count(text.begin(), text.end(), '?'), 1); // only its own
}

TEST(Cp1251, CyrillicAndTypographyMapToTheirCharacters) {
    EXPECT_EQ(Cp1251ToUtf8("\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0 \xB9"
                           "1"),
              "Параметр №1");
    EXPECT_EQ(Cp1251ToUtf8("\xC0\xDF\xE0\xFF\xA8\xB8"), "АЯаяЁё");
    EXPECT_EQ(Cp1251ToUtf8("\xAB\xBB\x96\x97\x85\x88\xA0"), "«»–—…€\u00A0");
    EXPECT_EQ(Utf8ToCp1251("Ґґ Її Єє Ўў"), "\xA5\xB4 \xAF\xBF \xAA\xBA \xA1\xA2");
}

TEST(Cp1251, CharactersWithoutAFormBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a€ü中😀b"), "a\x88???b");
    // Malformed UTF-8: each stray byte is one "?", the rest survives.
    EXPECT_EQ(Utf8ToCp1251("x\xFFy\xD0"), "x?y?");
    EXPECT_EQ(Utf8ToCp1251("\xC0\xAF"), "??");      // overlong "/"
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "???"); // surrogate
}

TEST(SameTextTest, IgnoresCaseOfLatinAndCyrillicLettersOnly) {
    EXPECT_TRUE(SameText("Номер_slave_устройства", "НОМЕР_SLAVE_УСТРОЙСТВА"));
    EXPECT_TRUE(SameText("ёЁґЇ", "ЁёҐї"));
    EXPECT_FALSE(SameText("Номер", "Номера"));
    EXPECT_FALSE(SameText("е", "ё"));
    EXPECT_FALSE(SameText("a", "b"));
    EXPECT_TRUE(SameText("", ""));
}

TEST(TextFile, LinesEndAtCrLfLfOrCr) {
    EXPECT_EQ(SplitTextLines(""), Lines{});
    EXPECT_EQ(SplitTextLines("\r\n"), Lines{""});
    EXPECT_EQ(SplitTextLines("a"), Lines{"a"});
    EXPECT_EQ(SplitTextLines("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitTextLines("a\nb\rc\r\n\r\nd"), (Lines{"a", "b", "c", "", "d"}));
    EXPECT_EQ(SplitTextLines("a\n\r"), (Lines{"a", ""})); // LF then a lone CR
    EXPECT_EQ(SplitTextLines("a\r\r\n"), (Lines{"a", ""}));
}

class TextFileOnDisk : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("RegData.mrd");
};

TEST_F(TextFileOnDisk, ReadsWindows1251IntoUtf8Lines) {
    WriteBytes(path, "178=12,5 = \xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0 \xB9"
                     "1\r\n180=0 = \r\n");
    Lines lines{"old"};
    ASSERT_TRUE(ReadTextLines(path, lines));
    EXPECT_EQ(lines, (Lines{"178=12,5 = Параметр №1", "180=0 = "}));
}

TEST_F(TextFileOnDisk, MissingOrNonRegularFileIsNotRead) {
    Lines lines{"kept"};
    EXPECT_FALSE(ReadTextLines(path, lines));
    std::filesystem::create_directory(path);
    EXPECT_FALSE(ReadTextLines(path, lines));
    EXPECT_EQ(lines, Lines{"kept"});
}

TEST_F(TextFileOnDisk, WritesWindows1251WithCrLfAfterEveryLine) {
    ASSERT_TRUE(WriteTextLines(path, {"178=12,5 = Параметр №1", "", "x"}));
    EXPECT_EQ(ReadBytes(path), "178=12,5 = \xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0 \xB9"
                               "1\r\n\r\nx\r\n");
    ASSERT_TRUE(WriteTextLines(path, {}));
    EXPECT_EQ(ReadBytes(path), "");
}

TEST_F(TextFileOnDisk, FailedWriteLeavesNothingBehind) {
    // The target is a directory: the rename fails after the data was written.
    std::filesystem::create_directory(path);
    EXPECT_FALSE(WriteTextLines(path, {"a"}));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    // No directory to write into at all.
    EXPECT_FALSE(WriteTextLines(dir.File("missing/RegData.mrd"), {"a"}));
}

// Symbolic links need a privilege on Windows (and are not there under Wine).
#ifndef _WIN32
TEST_F(TextFileOnDisk, LeftoverTemporaryFileIsReplacedNotFollowed) {
    const std::string elsewhere = dir.File("elsewhere");
    WriteBytes(elsewhere, "untouched");
    std::filesystem::create_symlink(elsewhere, path + ".tmp");
    ASSERT_TRUE(WriteTextLines(path, {"new"}));
    EXPECT_EQ(ReadBytes(path), "new\r\n");
    EXPECT_EQ(ReadBytes(elsewhere), "untouched");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}
#endif

} // namespace
