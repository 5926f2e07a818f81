// PelMBus.exe started twice: a second start in the same directory brings the
// first window back and ends, one in another directory runs beside it, and a
// program that was killed leaves its directory free. Copies of the program
// run from directories of their own, on a display (tests/win32/with-xvfb.sh).
#include "OneProgramPerDirectory.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>

using namespace pelmbus;
namespace fs = std::filesystem;

namespace {

TEST(DirectoryClaim, OneHolderPerDirectoryWhateverTheLettersCase) {
    EXPECT_EQ(DirectoryClaimName(L"C:\\Станция\\ModBus\\"),
              DirectoryClaimName(L"c:\\станция\\MODBUS\\"));
    EXPECT_NE(DirectoryClaimName(L"C:\\ModBus1\\"), DirectoryClaimName(L"C:\\ModBus2\\"));

    auto first = std::make_unique<TDirectoryClaim>(L"C:\\Станция\\ModBus\\");
    EXPECT_TRUE(first->First());
    EXPECT_FALSE(TDirectoryClaim(L"c:\\станция\\modbus\\").First());
    EXPECT_TRUE(TDirectoryClaim(L"C:\\Станция\\ModBus2\\").First());
    first.reset(); // the holder ends
    EXPECT_TRUE(TDirectoryClaim(L"C:\\Станция\\ModBus\\").First());
}

struct WindowSearch {
    DWORD ProcessId;
    HWND Found = nullptr;
};

// A window procedure's calling convention: a lambda is not stdcall on i686.
BOOL CALLBACK MatchMainWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (owner == search.ProcessId && wcscmp(className, L"TFPelMBus") == 0) {
        search.Found = window;
        return FALSE;
    }
    return TRUE;
}

// The main window of a process, once it has one.
HWND WindowOf(DWORD processId, int timeoutMs) {
    WindowSearch search{processId};
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.Found != nullptr) {
            return search.Found;
        }
        Sleep(100);
    }
    return nullptr;
}

class TwoStarts : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root_ = fs::path(temp) / ("pelmbus-twice-" + std::to_string(GetCurrentProcessId()));
        for (const char* name : {"A", "B"}) {
            const fs::path dir = root_ / name;
            fs::create_directories(dir);
            // The build tree's path on the Linux side; Wine shows the root as Z:.
            fs::copy_file(fs::path(L"Z:" + WideFromUtf8(PELMBUS_EXECUTABLE)), dir / "PelMBus.exe");
            // A port that does not exist: the program runs without one.
            const std::wstring line = L"Настройка_COM_порта=COM200:9600,N,8,2\r\n";
            std::string bytes(line.size(), '\0');
            WideCharToMultiByte(1251, 0, line.data(), static_cast<int>(line.size()), bytes.data(),
                                static_cast<int>(bytes.size()), nullptr, nullptr);
            std::ofstream(dir / "CfgMBus.txt", std::ios::binary) << bytes;
        }
    }
    void TearDown() override {
        for (PROCESS_INFORMATION& process : started_) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    PROCESS_INFORMATION Start(const char* dir) {
        std::wstring commandLine = L"\"" + (root_ / dir / "PelMBus.exe").wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   (root_ / dir).wstring().c_str(), &startup, &info));
        CloseHandle(info.hThread);
        started_.push_back(info);
        return info;
    }

    static bool Ends(const PROCESS_INFORMATION& process, DWORD ms, DWORD* exitCode = nullptr) {
        if (WaitForSingleObject(process.hProcess, ms) != WAIT_OBJECT_0) {
            return false;
        }
        if (exitCode != nullptr) {
            GetExitCodeProcess(process.hProcess, exitCode);
        }
        return true;
    }

    fs::path root_;
    std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(TwoStarts, SecondInTheSameDirectoryShowsTheFirstAndEndsAnotherDirectoryRunsBeside) {
    const PROCESS_INFORMATION first = Start("A");
    const HWND window = WindowOf(first.dwProcessId, 60000);
    ASSERT_NE(window, nullptr) << "the first program has no window";
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(window));

    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(Ends(Start("A"), 30000, &exitCode)) << "a second program runs in one directory";
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(IsIconic(window)) << "the first window was brought back";
    EXPECT_FALSE(Ends(first, 0));

    const PROCESS_INFORMATION beside = Start("B");
    EXPECT_NE(WindowOf(beside.dwProcessId, 60000), nullptr) << "another directory runs beside";
    EXPECT_FALSE(Ends(first, 0));
}

TEST_F(TwoStarts, KilledProgramLeavesItsDirectoryFree) {
    const PROCESS_INFORMATION first = Start("A");
    ASSERT_NE(WindowOf(first.dwProcessId, 60000), nullptr);
    TerminateProcess(first.hProcess, 9);
    ASSERT_TRUE(Ends(first, 5000));
    const PROCESS_INFORMATION again = Start("A");
    EXPECT_NE(WindowOf(again.dwProcessId, 60000), nullptr) << "the claim outlived its program";
}

} // namespace
