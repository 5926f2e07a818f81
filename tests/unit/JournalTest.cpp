// The journal file: its line format, appending, the rotation at its bound
// and a journal that cannot be written. Real files in a temporary directory,
// through the platform's file service.
#include "Journal.h"

#include "FileTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace pelmbus {
namespace {

using testing_files::ReadBytes;
using testing_files::TempDir;
using testing_files::WriteBytes;

TLocalDateTime Moment(int year, int month, int day, int hour, int minute, int second) {
    TLocalDateTime t;
    t.Year = year;
    t.Month = month;
    t.Day = day;
    t.Hour = hour;
    t.Minute = minute;
    t.Second = second;
    t.Millisecond = 999; // never shown, never rounded up
    return t;
}

TEST(JournalLineTest, SortableLocalTimeThenTheEventInWindows1251WithCrLf) {
    EXPECT_EQ(FormatJournalLine(Moment(2026, 12, 9, 15, 43, 19), "Порт открыт"),
              "2026-12-09 15:43:19 \xCF\xEE\xF0\xF2 \xEE\xF2\xEA\xF0\xFB\xF2\r\n");
    EXPECT_EQ(FormatJournalLine(Moment(2027, 1, 2, 3, 4, 5), "x"), "2027-01-02 03:04:05 x\r\n");
    // An error text of several lines stays one event on one line.
    EXPECT_EQ(FormatJournalLine(Moment(2027, 1, 2, 3, 4, 5), "a\r\nb\nc\rd\n"),
              "2027-01-02 03:04:05 a; b; c; d; \r\n");
}

class JournalFileTest : public ::testing::Test {
protected:
    TempDir Dir;
    std::string Path = Dir.Path() + "PelMBus.log";
    std::vector<std::string> Problems;

    TJournal Make(std::uintmax_t bound = TJournal::DefaultBound) {
        return TJournal(
            Path, [] { return Moment(2026, 12, 9, 15, 43, 19); },
            [this](const std::string& text) { Problems.push_back(text); }, bound);
    }
};

TEST_F(JournalFileTest, AppendsToWhatAnEarlierRunWrote) {
    WriteBytes(Path, "earlier\r\n");
    TJournal journal = Make();
    journal.Record("first");
    journal.Record("second");
    EXPECT_EQ(ReadBytes(Path), "earlier\r\n"
                               "2026-12-09 15:43:19 first\r\n"
                               "2026-12-09 15:43:19 second\r\n");
    EXPECT_TRUE(Problems.empty());
}

TEST_F(JournalFileTest, ALineThatWouldPassTheBoundStartsANewFileAndKeepsOneOlder) {
    const std::string line = FormatJournalLine(Moment(2026, 12, 9, 15, 43, 19), "event 0");
    // Room for exactly three lines.
    TJournal journal = Make(3 * line.size());
    WriteBytes(journal.RotatedPath(), "the oldest\r\n");
    for (int i = 0; i < 7; ++i) {
        journal.Record("event " + std::to_string(i));
    }
    const std::string stamp = "2026-12-09 15:43:19 ";
    EXPECT_EQ(ReadBytes(journal.RotatedPath()),
              stamp + "event 3\r\n" + stamp + "event 4\r\n" + stamp + "event 5\r\n");
    EXPECT_EQ(ReadBytes(Path), stamp + "event 6\r\n");
    EXPECT_TRUE(Problems.empty());
}

TEST_F(JournalFileTest, TheDefaultBoundIsOneMebibyte) {
    WriteBytes(Path, std::string(TJournal::DefaultBound - 26, 'x'));
    TJournal journal = Make();
    journal.Record("fits"); // 26 bytes: exactly at the bound
    EXPECT_EQ(std::filesystem::file_size(testing_files::FsPath(Path)), TJournal::DefaultBound);
    journal.Record("passes");
    EXPECT_EQ(ReadBytes(Path), "2026-12-09 15:43:19 passes\r\n");
    EXPECT_EQ(std::filesystem::file_size(testing_files::FsPath(journal.RotatedPath())),
              TJournal::DefaultBound);
}

TEST_F(JournalFileTest, AJournalThatCannotBeWrittenIsReportedOnceAndNeverThrows) {
    Path = Dir.Path() + "missing" + "/PelMBus.log";
    TJournal journal = Make();
    for (int i = 0; i < 5; ++i) {
        EXPECT_NO_THROW(journal.Record("event"));
    }
    ASSERT_EQ(Problems.size(), 1u);
    EXPECT_NE(Problems[0].find(Path), std::string::npos);
}

} // namespace
} // namespace pelmbus
