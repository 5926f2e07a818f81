// The station behind the D-Bus link in tests: pelsim on the private session
// bus the tests run on, started by the test or by activation (the build
// tree's service files), and the Qt loop the link's signals arrive on. Gives
// what the link scenarios (LinkScenarios.h) and the link-and-form scenarios
// (LinkFormScenarios.h) ask of a backend.
#pragma once

#include "AutomationFormHost.h"
#include "AutomationObject.h"
#include "CltPel_TLB.h"
#include "Pel_TLB.h"
#include "SimulatorProcess.h"
#include "SpinEventLoop.h"
#include "SystemServices.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelmbus::testsupport {

class DBusStation {
public:
    using Host = AutomationFormHost<DBusStation>;

    static constexpr std::string_view MissingProgramError =
        "org.freedesktop.DBus.Error.ServiceUnknown";
    static constexpr std::string_view FailedCallError = "ru.pel.Error.Failed";
    static constexpr bool CarriesErrorText = true;

    // No service file names it, so activation cannot start it.
    static LinkIdentifiers NobodyProvides() {
        LinkIdentifiers ids = AutoPelIdentifiers;
        ids.BusName = "ru.pel.test.Missing";
        return ids;
    }
    static LinkIdentifiers InterfaceNotServed() {
        LinkIdentifiers ids = AutoPelIdentifiers;
        ids.Interface = AutoCltPelIdentifiers.Interface;
        return ids;
    }

    static void SetUpSuite() {}
    static void TearDownSuite() {}

    // Programs that activation started belong to no test: they are ended
    // before and after each.
    void SetUp() { ASSERT_TRUE(EndPrograms()) << "a program outlived its test"; }
    ~DBusStation() { EndPrograms(); }

    void Start(const LinkIdentifiers& program, const std::vector<std::string>& options) {
        QStringList arguments;
        for (const std::string& option : options) {
            arguments << QString::fromStdString(option);
        }
        Simulator.reset(); // one at a time
        Simulator = std::make_unique<pelsim::SimulatorProcess>(arguments, BusName(program));
        QString error;
        ASSERT_TRUE(Simulator->Start(error)) << error.toStdString();
    }

    bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
        return SpinUntil(done, timeoutMs);
    }

    int CountPrograms() {
        return (pelsim::NameOwnerProcess(BusName(AutoPelIdentifiers)) != 0 ? 1 : 0) +
               (pelsim::NameOwnerProcess(BusName(AutoCltPelIdentifiers)) != 0 ? 1 : 0);
    }

    // Before the window of the link-and-form scenarios exists.
    void Prepare(Host&) {}

    // pelsim writes its numbers with the user's locale, as this test does.
    TFormatSettings Format = UserFormatSettings();

private:
    static QString BusName(const LinkIdentifiers& program) {
        return QString::fromUtf8(program.BusName.data(),
                                 static_cast<qsizetype>(program.BusName.size()));
    }
    bool EndPrograms() {
        Simulator.reset();
        return pelsim::StopNameOwner(BusName(AutoPelIdentifiers), 3000) &&
               pelsim::StopNameOwner(BusName(AutoCltPelIdentifiers), 3000);
    }
    std::unique_ptr<pelsim::SimulatorProcess> Simulator;
};

} // namespace pelmbus::testsupport
