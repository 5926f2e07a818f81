#include "TextFile.h"
#include "Cp1251.h"
#include "FileTestSupport.h"
#include "SameText.h"
#include "StoredText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

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

TEST(StoredText, EncodingIsTakenFromTheMarkOrFromValidUtf8) {
    struct Case {
        std::string Bytes;
        std::string Text;
    };
    const Case cases[] = {
        // Windows-1251, as the program writes: also when a few bytes happen
        // to form UTF-8 sequences around invalid ones.
        {"\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0 \xB9"
         "1",
         "Параметр №1"},
        {"\xD0\x90\xFF", "Рђя"},
        {"COM1:9600,N,8,2\r\n", "COM1:9600,N,8,2\r\n"},
        {"", ""},
        // UTF-8 with characters beyond ASCII, without and with a mark.
        {"Параметр №1 «€»", "Параметр №1 «€»"},
        {"\xEF\xBB\xBFПорт=COM1", "Порт=COM1"},
        {"\xEF\xBB\xBF"
         "COM1",
         "COM1"},
        // A marked UTF-8 file with a stray Windows-1251 byte keeps its letter.
        {"\xEF\xBB\xBF"
         "Да \xE4",
         "Да д"},
        // UTF-16 with either mark; a pair of surrogates is one character, a
        // lone surrogate and an odd last byte are replaced.
        {std::string("\xFF\xFE\x1F\x04\x3E\x04\r\0\n\0", 10), "По\r\n"},
        {std::string("\xFE\xFF\x04\x1F\x04\x3E\0\r\0\n", 10), "По\r\n"},
        {std::string("\xFF\xFE\x3D\xD8\x00\xDEx", 7), "😀\uFFFD"},
        {std::string("\xFF\xFE\x00\xD8"
                     "a\0",
                     6),
         "\uFFFDa"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeStoredText(c.Bytes), c.Text) << c.Text;
    }
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
    // The same file after an editor saved it as UTF-8.
    WriteBytes(path, "\xEF\xBB\xBF"
                     "178=12,5 = Параметр №1\r\n180=0 = \r\n");
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    // No directory to write into at all.
    EXPECT_FALSE(WriteTextLines(dir.File("missing/RegData.mrd"), {"a"}));
}

TEST_F(TextFileOnDisk, TemporaryFilesOfCutSavesAreRemovedByTheNextSave) {
    namespace fs = std::filesystem;
    // The names this platform's save gives its temporary files.
#ifdef _WIN32
    const std::string ownNames[] = {".0123456789abcdef.tmp", ".FEDCBA9876543210.TMP"};
    const std::string lookAlike = ".0123456789abcdeg.tmp";
#else
    const std::string ownNames[] = {".abcdefghijkl.tmp", ".0123ABCDwxyz.tmp"};
    const std::string lookAlike = ".abcdefghijk.tmp";
#endif
    for (const std::string& name : ownNames) {
        WriteBytes(path + name, "cut short");
    }
    // Names that only look alike, another file's leftover and a directory
    // under an own name all stay.
    const std::string other = dir.File("CfgMBus.txt") + ownNames[0];
    const std::string kept[] = {path + lookAlike, path + ".tmp", other};
    for (const std::string& name : kept) {
        WriteBytes(name, "not ours");
    }
    fs::create_directory(path + ownNames[0] + "x");
    ASSERT_TRUE(WriteTextLines(path, {"saved"}));
    EXPECT_EQ(ReadBytes(path), "saved\r\n");
    for (const std::string& name : ownNames) {
        EXPECT_FALSE(fs::exists(path + name)) << name;
    }
    for (const std::string& name : kept) {
        EXPECT_EQ(ReadBytes(name), "not ours") << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 5);
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
    EXPECT_TRUE(std::filesystem::is_symlink(path + ".tmp")) << "a name not made by the save";
}

TEST_F(TextFileOnDisk, LinkUnderATemporaryNameIsNotRemovedNorFollowed) {
    const std::string elsewhere = dir.File("elsewhere");
    WriteBytes(elsewhere, "untouched");
    const std::string link = path + ".abcdefghijkl.tmp";
    std::filesystem::create_symlink(elsewhere, link);
    ASSERT_TRUE(WriteTextLines(path, {"saved"}));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(elsewhere), "untouched");
}

std::filesystem::perms Mode(const std::string& path) {
    return std::filesystem::status(path).permissions();
}

std::size_t EntriesIn(const std::string& dir) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST_F(TextFileOnDisk, LineWithALineBreakIsRefusedAndTheFileKept) {
    WriteBytes(path, "178=1 = a\r\n");
    for (const char* broken : {"178=1 = a\r\nb", "x\ny", "z\r"}) {
        std::string failure;
        EXPECT_FALSE(WriteTextLines(path, {"180=2 = ok", broken}, failure)) << broken;
        EXPECT_FALSE(failure.empty());
        EXPECT_EQ(ReadBytes(path), "178=1 = a\r\n");
    }
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST_F(TextFileOnDisk, SaveKeepsWhatTheOperatorSetOnTheFile) {
    namespace fs = std::filesystem;
    // Permission bits other than the defaults survive the replacement.
    WriteBytes(path, "old\r\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteTextLines(path, {"new"}));
    EXPECT_EQ(ReadBytes(path), "new\r\n");
    EXPECT_EQ(Mode(path), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A read-only file is a failed save, even for a process that could
    // write it; nothing is left behind.
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    std::string failure;
    EXPECT_FALSE(WriteTextLines(path, {"newer"}, failure));
    EXPECT_FALSE(failure.empty());
    EXPECT_EQ(ReadBytes(path), "new\r\n");
    EXPECT_EQ(Mode(path), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);

    // A save through a link replaces the link's target and keeps the link,
    // also across a chain of relative links.
    const std::string target = dir.File("target.mrd");
    WriteBytes(target, "old\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("target.mrd", dir.File("middle"));
    const std::string link = dir.File("link.mrd");
    fs::create_symlink("middle", link);
    ASSERT_TRUE(WriteTextLines(link, {"through"}));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(dir.File("middle")));
    EXPECT_EQ(ReadBytes(target), "through\r\n");
    EXPECT_EQ(Mode(target), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(EntriesIn(dir.Path()), 4u);
}

TEST_F(TextFileOnDisk, NoNamePreparedBesideTheFileCatchesTheSave) {
    // Whatever waits at a name a save might use (a FIFO that would hang an
    // open, a link that would redirect the bytes) is neither opened nor
    // followed: the save completes and writes only its own file.
    namespace fs = std::filesystem;
    const std::string elsewhere = dir.File("elsewhere");
    WriteBytes(elsewhere, "untouched");
    ASSERT_EQ(mkfifo((path + ".tmp").c_str(), 0600), 0);
    fs::create_symlink(elsewhere, path + ".new");
    fs::create_symlink(elsewhere, path + "~");
    const auto result = testing_files::RunInChild([&] { return WriteTextLines(path, {"saved"}); },
                                                  false, [] { return false; }, 10);
    EXPECT_EQ(result, testing_files::StepResult::True);
    EXPECT_EQ(ReadBytes(path), "saved\r\n");
    EXPECT_EQ(ReadBytes(elsewhere), "untouched");
    EXPECT_EQ(EntriesIn(dir.Path()), 5u);
}

TEST_F(TextFileOnDisk, UnreadableFileIsToldApartFromAMissingOne) {
    Lines lines{"kept"};
    EXPECT_EQ(ReadTextFile(path, lines), TTextFileRead::Missing);
    std::filesystem::create_symlink(dir.File("nowhere"), path); // a link to nothing yet
    EXPECT_EQ(ReadTextFile(path, lines), TTextFileRead::Missing);
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(ReadTextFile(path, lines), TTextFileRead::Unreadable);
    std::filesystem::remove(path);

    WriteBytes(path, "a\r\n");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const auto result = testing_files::RunWhereUnreadable(
        path, [&] { return ReadTextFile(path, lines) == TTextFileRead::Unreadable; });
    if (result == testing_files::StepResult::CannotDropOverride) {
        GTEST_SKIP() << "this machine cannot read without the power to override permissions";
    }
    EXPECT_EQ(result, testing_files::StepResult::True);
    EXPECT_EQ(lines, Lines{"kept"});
}
#endif

} // namespace
