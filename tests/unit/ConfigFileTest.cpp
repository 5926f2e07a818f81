#include "Cp1251.h"
#include "FileTestSupport.h"
#include "InOutPort.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelmbus;
using testing_files::ReadBytes;
using testing_files::TempDir;
using testing_files::WriteBytes;

namespace {

// The keys as Windows-1251 bytes, in file order.
const std::string Keys[17] = {
    "\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0_\xF1\xE5\xF0\xE2\xE5\xF0", // Программа_сервер
    "\xD1\xEE\xE5\xE4\xE8\xED\xE5\xED\xE8\xE5_\xF1_\xF1\xE5\xF0\xE2\xE5\xF0\xEE\xEC",
    "\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE0_COM_\xEF\xEE\xF0\xF2\xE0",
    "\xCD\xEE\xEC\xE5\xF0_slave_\xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0",
    "\xD3\xF1\xF2\xE0\xE2\xEA\xE0_\xF3\xF1\xF0\xE5\xE4\xED\xE5\xED\xE8\xFF",
    "\xD3\xF1\xF2\xE0\xE2\xEA\xE0_\xF1\xEA\xEE\xEB\xFC\xE7\xFF\xF9\xE5\xE3\xEE_\xF3\xF1\xF0\xE5"
    "\xE4\xED\xE5\xED\xE8\xFF",
    "\xD6\xE8\xEA\xEB_\xEE\xEF\xF0\xEE\xF1\xE0_\xEF\xEE\xF0\xF2\xE0",
    "\xC7\xE0\xE4\xE5\xF0\xE6\xEA\xE0_\xEE\xF2\xE2\xE5\xF2\xE0",
    "\xD2\xE5\xEA\xF3\xF9\xE8\xE5_\xE4\xE0\xED\xED\xFB\xE5", // Текущие_данные
    "\xD3\xF1\xF0\xE5\xE4\xED\xE5\xED\xED\xFB\xE5_\xF2\xE5\xEA\xF3\xF9\xE8\xE5_\xE4\xE0\xED\xED"
    "\xFB\xE5",
    "\xC4\xE2\xF3\xF5\xF7\xE0\xF1\xEE\xE2\xFB\xE5_\xF2\xE5\xEA\xF3\xF9\xE8\xE5_\xE4\xE0\xED\xED"
    "\xFB\xE5",
    "\xC4\xE2\xF3\xF5\xF7\xE0\xF1\xEE\xE2\xFB\xE5_\xEF\xF0\xE5\xE4\xFB\xE4\xF3\xF8\xE8\xE5_\xE4"
    "\xE0\xED\xED\xFB\xE5",
    "\xC4\xE0\xED\xED\xFB\xE5_\xF2\xE5\xEA\xF3\xF9\xE5\xE9_\xF1\xEC\xE5\xED\xFB",
    "\xC4\xE0\xED\xED\xFB\xE5_\xEF\xF0\xEE\xF8\xE5\xE4\xF8\xE5\xE9_\xF1\xEC\xE5\xED\xFB",
    "\xD2\xE5\xEA\xF3\xF9\xE8\xE5_\xF1\xF3\xF2\xEE\xF7\xED\xFB\xE5_\xE4\xE0\xED\xED\xFB\xE5",
    "\xC4\xE0\xED\xED\xFB\xE5_\xE7\xE0_\xEF\xF0\xEE\xF8\xE5\xE4\xF8\xE8\xE5_\xF1\xF3\xF2\xEA\xE8",
    "\xD3\xF1\xF0\xE5\xE4\xED\xE5\xED\xED\xFB\xE5_\xF1\xEA\xEE\xEB\xFC\xE7\xFF\xF9\xE8\xE5_\xE4"
    "\xE0\xED\xED\xFB\xE5",
};
enum Key { Server, Connect, Port, Slave, Average, Sliding, Cycle, Delay, FirstKind };

// The file the program writes for the creation values.
std::string CreationFile() {
    std::string bytes = Keys[Server] + "=Pel.exe\r\n" + Keys[Connect] + "=false\r\n" + Keys[Port] +
                        "=COM1:9600,N,8,2\r\n" + Keys[Slave] + "=1\r\n" + Keys[Average] + "=6\r\n" +
                        Keys[Sliding] + "=6\r\n" + Keys[Cycle] + "=250\r\n" + Keys[Delay] +
                        "=0\r\n";
    for (int k = FirstKind; k < 17; ++k) {
        bytes += Keys[k] + "=True\r\n";
    }
    return bytes;
}

class ConfigFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("CfgMBus.txt");

    // A port loaded from a file holding bytes.
    std::unique_ptr<TInOutPort> Loaded(const std::string& bytes) {
        WriteBytes(path, bytes);
        auto port = std::make_unique<TInOutPort>();
        port->ExeDir = dir.Path();
        port->LoadConfig();
        return port;
    }

    static void ExpectCreationValues(const TInOutPort& port) {
        EXPECT_FALSE(port.ServerPel);
        EXPECT_EQ(port.StrPort, "COM1:9600,N,8,2");
        EXPECT_EQ(port.SlaveNomer, 1);
        EXPECT_EQ(port.UstUsredn, 6u);
        EXPECT_EQ(port.UstUsrednCl(), 6u);
        EXPECT_EQ(port.CiclOprosa, 250u);
        EXPECT_EQ(port.ZaderOtveta, 0);
        for (int k = 0; k < 9; ++k) {
            EXPECT_TRUE(port.DataFlags[k]) << k;
        }
        EXPECT_FALSE(port.DataFlags[9]);
    }
};

TEST_F(ConfigFile, ExecutableDirectoryIsTheDefault) {
    TInOutPort port;
    EXPECT_EQ(port.ExeDir, ExecutableDirectory());
    ASSERT_FALSE(port.ExeDir.empty());
#ifdef _WIN32
    EXPECT_EQ(port.ExeDir.back(), '\\');
#else
    EXPECT_EQ(port.ExeDir.back(), '/');
#endif
    EXPECT_TRUE(std::filesystem::is_directory(port.ExeDir));
}

TEST_F(ConfigFile, NoFileNoLinesOrUnreadableKeepCreationValues) {
    TInOutPort port;
    port.ExeDir = dir.Path();
    port.LoadConfig();
    ExpectCreationValues(port);

    ExpectCreationValues(*Loaded(""));

    // A path that cannot be read as a file: start-up goes on unchanged.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    TInOutPort blocked;
    blocked.ExeDir = dir.Path();
    blocked.LoadConfig();
    ExpectCreationValues(blocked);
}

TEST_F(ConfigFile, OneLineWithoutKnownKeysGivesMissingValues) {
    for (const std::string& bytes : {std::string("\r\n"), std::string("Other=1\r\n")}) {
        SCOPED_TRACE(bytes);
        const auto port = Loaded(bytes);
        EXPECT_FALSE(port->ServerPel);
        EXPECT_EQ(port->StrPort, "");
        EXPECT_EQ(port->SlaveNomer, 0);
        EXPECT_EQ(port->UstUsredn, 0u);
        EXPECT_EQ(port->UstUsrednCl(), 6u);
        EXPECT_EQ(port->CiclOprosa, 10u);
        EXPECT_EQ(port->ZaderOtveta, 20);
        EXPECT_FALSE(port->DataFlags[9]);
        for (int k = 0; k < 9; ++k) {
            EXPECT_TRUE(port->DataFlags[k]) << k;
        }
    }
}

TEST_F(ConfigFile, BooleanFormsAreCaseSensitiveEachInItsOwnWay) {
    EXPECT_FALSE(Loaded(Keys[Connect] + "=True\r\n")->DataFlags[9]);
    EXPECT_TRUE(Loaded(Keys[Connect] + "=true\r\n")->DataFlags[9]);
    EXPECT_FALSE(Loaded(Keys[Connect] + "=true \r\n")->DataFlags[9]);

    EXPECT_TRUE(Loaded(Keys[FirstKind] + "=false\r\n")->DataFlags[0]);
    EXPECT_FALSE(Loaded(Keys[FirstKind] + "=False\r\n")->DataFlags[0]);
    const auto last = Loaded(Keys[16] + "=False\r\n");
    EXPECT_FALSE(last->DataFlags[8]);
    EXPECT_TRUE(last->DataFlags[7]);

    EXPECT_TRUE(Loaded(Keys[Server] + "=CltPel.exe\r\n")->ServerPel);
    EXPECT_TRUE(Loaded(Keys[Server] + "=cLTpEL.EXE\r\n")->ServerPel);
    EXPECT_FALSE(Loaded(Keys[Server] + "=CltPel\r\n")->ServerPel);
    EXPECT_FALSE(Loaded(Keys[Server] + "=Pel.exe\r\n")->ServerPel);
}

TEST_F(ConfigFile, KeysMatchIgnoringLatinAndCyrillicCase) {
    // Номер_SLAVE_устройства and НОМЕР_SLAVE_УСТРОЙСТВА
    EXPECT_EQ(Loaded("\xCD\xEE\xEC\xE5\xF0_SLAVE_\xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xE0=17\r\n")
                  ->SlaveNomer,
              17);
    EXPECT_EQ(Loaded("\xCD\xCE\xCC\xC5\xD0_SLAVE_\xD3\xD1\xD2\xD0\xCE\xC9\xD1\xD2\xC2\xC0=18\r\n")
                  ->SlaveNomer,
              18);
}

TEST_F(ConfigFile, BlanksBeforeKeyAndAroundValue) {
    const auto port =
        Loaded("  \t " + Keys[Slave] + "=5\r\n" + Keys[Delay] + " =7\r\n" + Keys[Cycle] +
               "=100 \r\n" + Keys[Average] + "=  9\r\n" + Keys[Port] + "= COM2:19200,E,8,1 \r\n");
    EXPECT_EQ(port->SlaveNomer, 5);
    EXPECT_EQ(port->ZaderOtveta, 20); // "key =" is another key
    EXPECT_EQ(port->CiclOprosa, 10u); // trailing blank: not a number
    EXPECT_EQ(port->UstUsredn, 9u);   // leading blanks of a number are fine
    EXPECT_EQ(port->StrPort, " COM2:19200,E,8,1 ");
}

TEST_F(ConfigFile, NumbersKeepTheLowBitsOfTheirWidth) {
    auto port = Loaded(Keys[Slave] + "=300\r\n" + Keys[Delay] + "=65537\r\n" + Keys[Average] +
                       "=-1\r\n" + Keys[Cycle] + "=+12\r\n");
    EXPECT_EQ(port->SlaveNomer, 44);
    EXPECT_EQ(port->ZaderOtveta, 1);
    EXPECT_EQ(port->UstUsredn, 4294967295u);
    EXPECT_EQ(port->CiclOprosa, 12u);

    port = Loaded(Keys[Slave] + "=-1\r\n" + Keys[Delay] + "=1.5\r\n" + Keys[Average] +
                  "=2147483648\r\n" + Keys[Cycle] + "=12abc\r\n");
    EXPECT_EQ(port->SlaveNomer, 255);
    EXPECT_EQ(port->ZaderOtveta, 20);
    EXPECT_EQ(port->UstUsredn, 0u);
    EXPECT_EQ(port->CiclOprosa, 10u);
}

TEST_F(ConfigFile, SlidingWindowLengthGoesThroughItsSetter) {
    auto port = Loaded(Keys[Sliding] + "=12\r\n");
    EXPECT_EQ(port->UstUsrednCl(), 12u);
    EXPECT_EQ(port->UsrednClA, std::vector<float>(12, 0.0f));
    EXPECT_EQ(port->UsrednClB, std::vector<float>(12, 0.0f));

    // 0, invalid text and lengths no memory could hold leave the window.
    for (const char* value : {"0", "x", "-1", "100001", "4294967295"}) {
        SCOPED_TRACE(value);
        WriteBytes(path, Keys[Sliding] + "=" + value + "\r\n");
        port->UsrednClA[3] = 7.0f;
        port->CfgList.clear();
        port->LoadConfig();
        EXPECT_EQ(port->UstUsrednCl(), 12u);
        EXPECT_EQ(port->UsrednClA.size(), 12u);
        EXPECT_EQ(port->UsrednClB.size(), 12u);
        EXPECT_EQ(port->UsrednClA[3], 7.0f);
    }
    EXPECT_EQ(Loaded(Keys[Sliding] + "=1000\r\n")->UsrednClA.size(), 1000u);
}

TEST_F(ConfigFile, FirstOfDuplicateKeysCountsAndOnlyItIsSaved) {
    auto port = Loaded(Keys[Slave] + "=3\r\n" + Keys[Slave] + "=4\r\n" + Keys[Port] + "=A\r\n" +
                       Keys[Port] + "=B\r\n");
    EXPECT_EQ(port->SlaveNomer, 3);
    EXPECT_EQ(port->StrPort, "A");
    ASSERT_TRUE(port->SaveConfig());
    const std::string saved = ReadBytes(path);
    EXPECT_NE(saved.find(Keys[Slave] + "=3\r\n"), std::string::npos);
    EXPECT_EQ(saved.find(Keys[Slave] + "=4"), std::string::npos);
    EXPECT_EQ(saved.find(Keys[Port] + "=B"), std::string::npos);
}

TEST_F(ConfigFile, LineEndsCrLfLfAndCrAreAllRead) {
    const auto port = Loaded(Keys[Slave] + "=7\n" + Keys[Delay] + "=8\r" + Keys[Cycle] + "=9");
    EXPECT_EQ(port->SlaveNomer, 7);
    EXPECT_EQ(port->ZaderOtveta, 8);
    EXPECT_EQ(port->CiclOprosa, 9u);
}

TEST_F(ConfigFile, SavedFileHasTheSeventeenLinesInOrder) {
    TInOutPort fresh;
    fresh.ExeDir = dir.Path();
    ASSERT_TRUE(fresh.SaveConfig());
    EXPECT_EQ(ReadBytes(path), CreationFile());

    // Unknown keys, duplicates, comments and another order are all gone.
    std::string messy = "; note\r\n" + Keys[16] + "=False\r\nExtra=1\r\n" + Keys[Connect] +
                        "=true\r\n   " + Keys[Server] + "=CLTPEL.EXE\r\n" + Keys[Slave] +
                        "=247\r\n" + Keys[Slave] + "=2\r\n\r\n";
    auto port = Loaded(messy);
    ASSERT_TRUE(port->SaveConfig());
    std::string expected = CreationFile();
    const auto replace = [&](const std::string& from, const std::string& to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    replace(Keys[Server] + "=Pel.exe", Keys[Server] + "=CltPel.exe");
    replace(Keys[Connect] + "=false", Keys[Connect] + "=true");
    replace(Keys[Port] + "=COM1:9600,N,8,2", Keys[Port] + "=");
    replace(Keys[Slave] + "=1", Keys[Slave] + "=247");
    replace(Keys[Average] + "=6", Keys[Average] + "=0");
    replace(Keys[Cycle] + "=250", Keys[Cycle] + "=10");
    replace(Keys[Delay] + "=0", Keys[Delay] + "=20");
    replace(Keys[16] + "=True", Keys[16] + "=False");
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(port->CfgList.size(), 17u);
}

// A station's file, and what loading it must give.
const std::string StationFile =
    Keys[Server] + "=CltPel.exe\r\n" + Keys[Connect] + "=true\r\n" + Keys[Port] +
    "=COM3:19200,E,8,1\r\n" + Keys[Slave] + "=247\r\n" + Keys[Average] + "=300\r\n" +
    Keys[Sliding] + "=60\r\n" + Keys[Cycle] + "=1000\r\n" + Keys[Delay] + "=200\r\n" + Keys[8] +
    "=False\r\n" + Keys[9] + "=True\r\n" + Keys[10] + "=False\r\n" + Keys[11] + "=True\r\n" +
    Keys[12] + "=True\r\n" + Keys[13] + "=False\r\n" + Keys[14] + "=True\r\n" + Keys[15] +
    "=True\r\n" + Keys[16] + "=False\r\n";

void ExpectStationValues(const TInOutPort& port) {
    EXPECT_TRUE(port.ServerPel);
    EXPECT_TRUE(port.DataFlags[9]);
    EXPECT_EQ(port.StrPort, "COM3:19200,E,8,1");
    EXPECT_EQ(port.SlaveNomer, 247);
    EXPECT_EQ(port.UstUsredn, 300u);
    EXPECT_EQ(port.UstUsrednCl(), 60u);
    EXPECT_EQ(port.CiclOprosa, 1000u);
    EXPECT_EQ(port.ZaderOtveta, 200);
    const bool kinds[9] = {false, true, false, true, true, false, true, true, false};
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(port.DataFlags[k], kinds[k]) << k;
    }
}

TEST_F(ConfigFile, StationFileRoundTripsByteForByte) {
    const auto port = Loaded(StationFile);
    ExpectStationValues(*port);
    std::filesystem::remove(path);
    ASSERT_TRUE(port->SaveConfig());
    EXPECT_EQ(ReadBytes(path), StationFile);
}

// The station's file as an editor saves it (Notepad: UTF-8 by default, with
// or without a mark, or "Unicode"): every setting is read, and the close
// writes the file back in Windows-1251.
struct TEditorEncoding {
    const char* Name;
    std::string (*Encode)(const std::string& cp1251);
};

std::string Utf16(const std::string& cp1251, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    const std::string text = Cp1251ToUtf8(cp1251);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = utf8::Next(text, pos); // all in the basic plane
        const char high = static_cast<char>(cp >> 8);
        const char low = static_cast<char>(cp & 0xFF);
        out += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

const TEditorEncoding EditorEncodings[] = {
    {"Utf8", [](const std::string& b) { return Cp1251ToUtf8(b); }},
    {"Utf8WithMark", [](const std::string& b) { return "\xEF\xBB\xBF" + Cp1251ToUtf8(b); }},
    {"Utf16Le", [](const std::string& b) { return Utf16(b, false); }},
    {"Utf16Be", [](const std::string& b) { return Utf16(b, true); }},
};

class ConfigFileSavedByAnEditor : public ConfigFile,
                                  public ::testing::WithParamInterface<TEditorEncoding> {};

TEST_P(ConfigFileSavedByAnEditor, KeepsEverySettingAndIsSavedAsWindows1251) {
    const auto port = Loaded(GetParam().Encode(StationFile));
    ExpectStationValues(*port);
    ASSERT_TRUE(port->SaveConfig());
    EXPECT_EQ(ReadBytes(path), StationFile);
}

INSTANTIATE_TEST_SUITE_P(Encodings, ConfigFileSavedByAnEditor, ::testing::ValuesIn(EditorEncodings),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ConfigFile, PortTextWithCyrillicAndTypographyRoundTrips) {
    // «Ёё» – — № as Windows-1251.
    const std::string station = Keys[Port] + "=\xAB\xA8\xB8\xBB \x96 \x97 \xB9\r\n";
    const auto port = Loaded(station);
    EXPECT_EQ(port->StrPort, "«Ёё» – — №");
    ASSERT_TRUE(port->SaveConfig());
    EXPECT_NE(ReadBytes(path).find(station), std::string::npos);
}

// Directory permissions of POSIX: a step without the power to override them.
#ifndef _WIN32
TEST_F(ConfigFile, FailedSaveIntoReadOnlyDirectoryKeepsTheOldFile) {
    WriteBytes(path, CreationFile());
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
    const auto result = testing_files::RunWithoutPermissionOverride(dir.Path(), [&] {
        TInOutPort port;
        port.ExeDir = dir.Path();
        port.SlaveNomer = 99;
        return port.SaveConfig();
    });
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
    if (result == testing_files::StepResult::CannotDropOverride) {
        GTEST_SKIP() << "this machine cannot run a step without the power to override "
                        "directory permissions";
    }
    EXPECT_EQ(result, testing_files::StepResult::False);
    EXPECT_EQ(ReadBytes(path), CreationFile());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST_F(ConfigFile, FileThatCouldNotBeLoadedIsNotReplacedAtSave) {
    const std::string station = CreationFile() + "hand-written note\r\n";
    WriteBytes(path, station);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const auto result = testing_files::RunWhereUnreadable(path, [&] {
        TInOutPort port;
        port.ExeDir = dir.Path();
        port.LoadConfig();
        std::string failure;
        // The creation values stay, and are not written over the file.
        return port.StrPort == "COM1:9600,N,8,2" && !port.SaveConfig(failure) && !failure.empty();
    });
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    if (result == testing_files::StepResult::CannotDropOverride) {
        GTEST_SKIP() << "this machine cannot read without the power to override permissions";
    }
    EXPECT_EQ(result, testing_files::StepResult::True);
    EXPECT_EQ(ReadBytes(path), station);
}
#endif

} // namespace

// The same bytes on every platform, also beside an executable in a directory
// with Cyrillic letters (the paths are UTF-8 inside the program).
TEST(ConfigFileInCyrillicDirectory, SavedAndLoadedWithTheSameBytes) {
    TempDir station("Станция");
    TInOutPort saved;
    saved.ExeDir = station.Path();
    saved.StrPort = "COM12:19200,E,8,1";
    saved.SlaveNomer = 17;
    ASSERT_TRUE(saved.SaveConfig());
    std::string expected = CreationFile();
    expected.replace(expected.find("COM1:9600,N,8,2"), 15, "COM12:19200,E,8,1");
    expected.replace(expected.find(Keys[Slave] + "=1\r\n"), Keys[Slave].size() + 4,
                     Keys[Slave] + "=17\r\n");
    EXPECT_EQ(ReadBytes(station.File("CfgMBus.txt")), expected);

    TInOutPort loaded;
    loaded.ExeDir = station.Path();
    loaded.LoadConfig();
    EXPECT_EQ(loaded.StrPort, "COM12:19200,E,8,1");
    EXPECT_EQ(loaded.SlaveNomer, 17);
}
