// The station behind the COM link in tests: pelsim.exe in the Wine prefix
// the tests run in, registered for the server class, started by the test or
// by COM, and the thread's message loop the link's events arrive on. Gives
// what the link scenarios (LinkScenarios.h) and the link-and-form scenarios
// (LinkFormScenarios.h) ask of a backend.
#pragma once

#include "AutomationFormHost.h"
#include "AutomationObject.h"
#include "CltPel_TLB.h"
#include "Pel_TLB.h"
#include "SimulatorControl.h"
#include "WideText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelmbus::testsupport {

class ComStation {
public:
    using Host = AutomationFormHost<ComStation>;

    // The command COM starts the server with when nothing runs: a point as
    // the decimal separator, a bounded life.
    inline static const std::wstring RegisteredOptions =
        L"--no-events --decimal-separator . --lifetime 120";

    static constexpr std::string_view MissingProgramError = "0x80040154"; // REGDB_E_CLASSNOTREG
    static constexpr std::string_view FailedCallError = "0x80004005";     // E_FAIL
    // Under Wine the server's error object does not reach the caller: the
    // caller gets the system's text of the failure code instead.
    static constexpr bool CarriesErrorText = false;

    static LinkIdentifiers NobodyProvides() {
        LinkIdentifiers ids = AutoPelIdentifiers;
        ids.ClassId = "{9772B945-0000-11D4-B307-000021D9F8FD}";
        return ids;
    }
    static LinkIdentifiers InterfaceNotServed() {
        LinkIdentifiers ids = AutoPelIdentifiers;
        ids.InterfaceId = AutoCltPelIdentifiers.InterfaceId;
        return ids;
    }

    // Whatever an earlier run or another bitness left is removed first, so
    // that no leftover makes a test pass by mistake.
    static void SetUpSuite() {
        pelsim::control::EndAllSimulators();
        ASSERT_EQ(pelsim::control::RunSimulator(L"/UnregServer /Force"), 0);
        ASSERT_EQ(pelsim::control::RunSimulator(L"/RegServer " + RegisteredOptions), 0);
    }
    static void TearDownSuite() {
        pelsim::control::EndAllSimulators();
        pelsim::control::RunSimulator(L"/UnregServer");
    }

    // A leftover would be found by GetActiveObject in the next test.
    void SetUp() { ASSERT_EQ(pelsim::control::EndAllSimulators(), 0) << "a test left pelsim"; }
    ~ComStation() { pelsim::control::EndAllSimulators(); }

    // The programs the test starts write numbers as the registered one does.
    void Start(const LinkIdentifiers& program, const std::vector<std::string>& options) {
        std::wstring arguments;
        for (const std::string& option : options) {
            arguments += WideFromUtf8(option) + L" ";
        }
        ASSERT_TRUE(Simulator.Start(program, arguments + L"--decimal-separator ."));
    }

    bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        return true;
    }

    int CountPrograms() { return pelsim::control::CountSimulators(); }

    // Before the window of the link-and-form scenarios exists.
    void Prepare(Host& host) { host.Format = Format; }

    TFormatSettings Format; // a point as the decimal separator

private:
    pelsim::control::SimulatorProcess Simulator;
};

} // namespace pelmbus::testsupport
