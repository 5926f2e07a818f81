// The Win32 platform layer where it has logic of its own: port names, the
// line settings in a DCB, locale pictures, and the durable file replace.
#include "CommMode.h"
#include "FileTestSupport.h"
#include "LocalePictures.h"
#include "SystemServices.h"
#include "TextFile.h"
#include "WideText.h"
#include "Win32CommDevice.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

using namespace pelmbus;
using testing_files::ReadBytes;
using testing_files::TempDir;
using testing_files::WriteBytes;

namespace {

// ComPortNameTest holds the names; here only their way into UTF-16.
TEST(Win32CommDevice, PortFileNamesInUtf16) {
    EXPECT_EQ(CommFileName("COM10"), L"\\\\.\\COM10");
    EXPECT_EQ(CommFileName("\\\\.\\Порт"), L"\\\\.\\\x041F\x043E\x0440\x0442");
}

TEST(Win32CommDevice, ModeStringFillsTheDcb) {
    CommMode mode;
    ASSERT_TRUE(
        ParseCommMode("baud=19200 parity=O data=7 stop=1.5 octs=on dtr=hs rts=tg xon=on", mode));
    DCB dcb{};
    dcb.fAbortOnError = TRUE;
    dcb.fNull = TRUE;
    ApplyModeToDcb(mode, dcb);
    EXPECT_EQ(dcb.DCBlength, sizeof dcb);
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, ODDPARITY);
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_TRUE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_TRUE(dcb.fOutX);
    EXPECT_TRUE(dcb.fInX);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
    // Bytes are data: no null stripping, no stop on a line error.
    EXPECT_FALSE(dcb.fNull);
    EXPECT_FALSE(dcb.fAbortOnError);
    // XON and XOFF must differ or SetCommState refuses the record.
    EXPECT_NE(dcb.XonChar, dcb.XoffChar);

    ASSERT_TRUE(ParseCommMode("9600,N,8,2", mode));
    ApplyModeToDcb(mode, dcb);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_FALSE(dcb.fParity);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.ByteSize, 8);
}

TEST(Win32CommDevice, MissingPortDoesNotOpen) {
    Win32CommDevice device;
    EXPECT_FALSE(device.Open("COM199"));
    EXPECT_FALSE(device.IsOpen());
    CommStatus status;
    EXPECT_FALSE(device.ClearErrors(status));
    uint32_t mask = 1;
    EXPECT_EQ(device.WaitEvent(mask), CommWait::Failed);
    EXPECT_EQ(mask, 0u);
}

TEST(LocalePictures, WindowsPicturesInTheProgramsLetters) {
    EXPECT_EQ(PictureFromWindows("dd.MM.yyyy"), "dd.MM.yyyy");
    EXPECT_EQ(PictureFromWindows("H:mm:ss"), "H:mm:ss");
    EXPECT_EQ(PictureFromWindows("HH:mm:ss"), "HH:mm:ss");
    EXPECT_EQ(PictureFromWindows("h:mm:ss tt"), "h:mm:ss AP");
    EXPECT_EQ(PictureFromWindows("M/d/y"), "M/d/yy");
    EXPECT_EQ(PictureFromWindows("dddd, MMMM d, yyyyy"), "dddd, MMMM d, yyyy");
    EXPECT_EQ(PictureFromWindows("gg yyyy"), " yyyy");
    EXPECT_EQ(PictureFromWindows("d 'de' MMMM"), "d 'de' MMMM");
    // A letter that is only text there must not become a picture letter.
    EXPECT_EQ(PictureFromWindows("HH' h 'mm Z"), "HH' h 'mm 'Z'");
}

TEST(LocalePictures, UserFormatsGiveTextThatReadsBack) {
    const TFormatSettings format = UserFormatSettings();
    EXPECT_FALSE(format.DecimalSeparator.empty());
    EXPECT_NE(format.DecimalSeparator, format.ThousandSeparator);
    const std::string text = DateTimeToStr({2024, 3, 5, 19, 8, 9, 0}, format);
    EXPECT_NE(text.find("2024"), std::string::npos) << text;
    EXPECT_NE(text.find("08"), std::string::npos) << text;
}

TEST(WideText, Utf8AndUtf16RoundTrip) {
    const std::string text = "C:\\Станция\\ModBus\\ Ёё №";
    const std::wstring wide = WideFromUtf8(text);
    EXPECT_EQ(wide.substr(0, 4), L"C:\\\x0421");
    EXPECT_EQ(Utf8FromWide(wide), text);
    EXPECT_EQ(WideFromUtf8(""), L"");
    EXPECT_EQ(WideFromUtf8("\xFF"), L"\xFFFD");
}

class FileReplace : public ::testing::Test {
protected:
    TempDir dir{"Станция"};
    std::string path = dir.File("RegData.mrd");
    std::wstring wide = WideFromUtf8(path);

    std::string Listing() const {
        std::string names;
        for (const auto& entry :
             std::filesystem::directory_iterator(testing_files::FsPath(dir.Path()))) {
            names += entry.path().filename().string() + " ";
        }
        return names;
    }
    size_t FilesInDirectory() const {
        return static_cast<size_t>(std::distance(
            std::filesystem::directory_iterator(testing_files::FsPath(dir.Path())), {}));
    }
};

TEST_F(FileReplace, NewAndReplacedFilesLeaveNoTemporaryFile) {
    ASSERT_EQ(ReplaceFileContents(path, "first"), std::error_code{});
    ASSERT_EQ(ReplaceFileContents(path, "second, longer"), std::error_code{});
    EXPECT_EQ(ReadBytes(path), "second, longer");
    EXPECT_EQ(FilesInDirectory(), 1u);
}

TEST_F(FileReplace, ReadOnlyFileIsAFailedSaveAndStaysAsItWas) {
    WriteBytes(path, "old");
    ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteTextLines(path, {"new"}));
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(FilesInDirectory(), 1u);
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileReplace, OldFilesAttributesStay) {
    WriteBytes(path, "old");
    ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    if ((GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_HIDDEN) == 0) {
        GTEST_SKIP() << "this file system keeps no hidden attribute";
    }
    ASSERT_EQ(ReplaceFileContents(path, "new"), std::error_code{});
    EXPECT_EQ(ReadBytes(path), "new");
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// A virus scanner or the search indexer holds the file for a moment without
// sharing it. The save waits for it a short while; one that outlasts the
// wait is a failed save, and the old file stays whole either way.
TEST_F(FileReplace, FileHeldUnsharedForAMomentIsReplacedOnceReleased) {
    WriteBytes(path, "old");
    HANDLE holder = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread scanner([holder] {
        Sleep(600);
        CloseHandle(holder);
    });
    const ULONGLONG start = GetTickCount64();
    const std::error_code result = ReplaceFileContents(path, "new");
    const ULONGLONG took = GetTickCount64() - start;
    scanner.join();
    EXPECT_EQ(result, std::error_code{}) << result.message();
    EXPECT_GE(took, 500u) << "the file was not held: this system shares it anyway";
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(FilesInDirectory(), 1u) << Listing();
}

TEST_F(FileReplace, FileHeldLongerThanTheWaitIsAFailedSaveAndStaysAsItWas) {
    WriteBytes(path, "old");
    const HANDLE holder = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const ULONGLONG start = GetTickCount64();
    const std::error_code result = ReplaceFileContents(path, "new");
    const ULONGLONG took = GetTickCount64() - start;
    CloseHandle(holder);
    EXPECT_NE(result, std::error_code{});
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 4000u) << "bounded";
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(Listing().find("RegData.mrd."), std::string::npos) << "the temporary file stays";
}

TEST_F(FileReplace, MissingDirectoryOrDirectoryInTheWayFails) {
    EXPECT_NE(ReplaceFileContents(dir.File("нет\\RegData.mrd"), "x"), std::error_code{});
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
    EXPECT_NE(ReplaceFileContents(path, "x"), std::error_code{});
    EXPECT_EQ(FilesInDirectory(), 1u);
}

} // namespace
