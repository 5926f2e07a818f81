// pelsim.exe: a stand-in for the metering station's application on Windows,
// an out-of-process COM server of the server program's or the client
// program's class. It registers its class object (so COM can start it for
// CoCreateInstance) and its object in the running-object table (so
// GetActiveObject finds it), answers DoCommand from the station model and
// raises RefreshData through its connection point on a period.
//   pelsim.exe /RegServer [/Force] [options]   register, options added to the start command
//   pelsim.exe /UnregServer [/Force]
//   pelsim.exe [options]                       serve (COM adds -Embedding)
// A program of the GUI subsystem, so that COM starts it without a console
// window; run from a command prompt, it writes its messages to that prompt's
// console.
#include "CltPel_TLB.h"
#include "ComSimulator.h"
#include "ComSupport.h"
#include "Pel_TLB.h"
#include "Registration.h"
#include "WideText.h"

#include <windows.h>

#include <shellapi.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using pelmbus::com::ComRef;

DWORD MainThread = 0;

BOOL WINAPI StopOnConsoleSignal(DWORD) {
    PostThreadMessageW(MainThread, WM_QUIT, 0, 0);
    return TRUE;
}

// Standard output and error that no one redirected go to the console of the
// command prompt this program was started from, if there is one.
void WriteToParentConsole() {
    const auto unset = [](DWORD which) {
        const HANDLE handle = GetStdHandle(which);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    const bool output = unset(STD_OUTPUT_HANDLE);
    const bool error = unset(STD_ERROR_HANDLE);
    if ((!output && !error) || !AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    if (output) {
        (void)std::freopen("CONOUT$", "w", stdout);
    }
    if (error) {
        (void)std::freopen("CONOUT$", "w", stderr);
    }
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "pelsim: %s\n", message.c_str());
    return 2;
}

bool IsVerb(const std::wstring& arg, const wchar_t* verb) {
    return (arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-')) &&
           CompareStringOrdinal(arg.c_str() + 1, -1, verb, -1, TRUE) == CSTR_EQUAL;
}

std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The user's decimal separator, as the station's application writes it.
std::string LocaleDecimalSeparator() {
    wchar_t separator[8] = L".";
    GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
    return pelmbus::Utf8FromWide(separator);
}

int Serve(ITypeLib* typeLib, const pelsim::SimulatorSettings& settings) {
    const pelmbus::LinkIdentifiers& ids =
        settings.Program == "client" ? pelmbus::AutoCltPelIdentifiers : pelmbus::AutoPelIdentifiers;
    ComRef<ITypeInfo> typeInfo;
    HRESULT hr =
        typeLib->GetTypeInfoOfGuid(pelmbus::com::ToGuid(ids.InterfaceGuid()), typeInfo.Put());
    if (FAILED(hr)) {
        return Fail("the type library lacks the interface " + std::string(ids.InterfaceId));
    }
    pelsim::ComSimulator simulator(ids, settings,
                                   settings.DecimalSeparator.value_or(LocaleDecimalSeparator()),
                                   typeInfo.Get());
    if (settings.RegisterDelaySeconds > 0) {
        Sleep(static_cast<DWORD>(std::lround(settings.RegisterDelaySeconds * 1000)));
    }
    hr = simulator.Publish();
    if (FAILED(hr)) {
        return Fail("cannot serve " + std::string(ids.ClassId) + ": " +
                    pelmbus::com::HResultText(hr));
    }
    std::printf("pelsim: serving %s %s\n", std::string(ids.ProgramName).c_str(),
                std::string(ids.ClassId).c_str());
    std::fflush(stdout);

    const UINT_PTR eventTimer =
        settings.NoEvents
            ? 0
            : SetTimer(nullptr, 0, static_cast<UINT>(std::lround(settings.PeriodSeconds * 1000)),
                       nullptr);
    const UINT_PTR lifeTimer =
        settings.LifetimeSeconds > 0
            ? SetTimer(nullptr, 0, static_cast<UINT>(std::lround(settings.LifetimeSeconds * 1000)),
                       nullptr)
            : 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            if (lifeTimer != 0 && message.wParam == lifeTimer) {
                break;
            }
            if (eventTimer != 0 && message.wParam == eventTimer && !simulator.RaiseRefreshData()) {
                KillTimer(nullptr, eventTimer);
            }
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    simulator.Revoke();
    return 0;
}

} // namespace

int main() {
    MainThread = GetCurrentThreadId();
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    bool startedByCom = false;
    for (int i = 1; i < count; ++i) {
        startedByCom =
            startedByCom || IsVerb(wide[i], L"Embedding") || IsVerb(wide[i], L"Automation");
    }
    if (!startedByCom) {
        WriteToParentConsole();
    }
    bool registerServer = false;
    bool unregisterServer = false;
    bool force = false;
    std::vector<std::string> options;
    std::wstring optionText; // the options as given, for the registered start command
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = wide[i];
        if (IsVerb(arg, L"RegServer")) {
            registerServer = true;
        } else if (IsVerb(arg, L"UnregServer")) {
            unregisterServer = true;
        } else if (IsVerb(arg, L"Force")) {
            force = true;
        } else if (IsVerb(arg, L"Embedding") || IsVerb(arg, L"Automation")) {
            // COM started this process: it has no console to write to.
        } else if (arg == L"--help" || arg == L"-h") {
            std::printf("%s       /RegServer [/Force] [options] | /UnregServer [/Force]\n",
                        pelsim::SimulatorUsage().c_str());
            return 0;
        } else {
            options.push_back(pelmbus::Utf8FromWide(arg));
            if (!optionText.empty()) {
                optionText += L" ";
            }
            optionText += arg.find(L' ') == std::wstring::npos ? arg : L"\"" + arg + L"\"";
        }
    }
    LocalFree(wide);

    pelsim::SimulatorSettings settings;
    std::string error;
    if (!pelsim::ParseSimulatorArguments(options, settings, error)) {
        return Fail(error);
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return Fail("cannot enter a COM apartment");
    }
    int result = 0;
    {
        const std::wstring exePath = ExecutablePath();
        ComRef<ITypeLib> typeLib;
        const HRESULT hr = LoadTypeLibEx(exePath.c_str(), REGKIND_NONE, typeLib.Put());
        if (FAILED(hr)) {
            result = Fail("no type library in " + pelmbus::Utf8FromWide(exePath) + ": " +
                          pelmbus::com::HResultText(hr));
        } else if (registerServer || unregisterServer) {
            std::string message;
            const bool done =
                registerServer
                    ? pelsim::RegisterServer(typeLib.Get(), exePath, optionText, force, message)
                    : pelsim::UnregisterServer(typeLib.Get(), exePath, force, message);
            std::fprintf(done ? stdout : stderr, "pelsim: %s\n", message.c_str());
            result = done ? 0 : 3;
        } else {
            SetConsoleCtrlHandler(StopOnConsoleSignal, TRUE);
            result = Serve(typeLib.Get(), settings);
        }
    }
    CoUninitialize();
    return result;
}
