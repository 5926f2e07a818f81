// The metering link against pelsim on a private session bus (the test runs
// under dbus-run-session with the build tree's service files): the link
// scenarios (LinkScenarios.h) over the D-Bus backend, and what only D-Bus
// meets: a program that cannot start or never takes its name, and no bus.
#include "DBusStation.h"
#include "LinkScenarios.h"

#include <QCoreApplication>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(DBus, Link, DBusStation);
} // namespace pelmbus::testsupport

namespace {

using DBusLink = Link<DBusStation>;

TEST_F(DBusLink, ProgramThatIsMissingCannotStartOrNeverTakesItsNameIsASystemErrorNamingIt) {
    for (const char* name : {"ru.pel.test.Missing", "ru.pel.test.Broken", "ru.pel.test.Hung"}) {
        LinkIdentifiers ids = AutoPelIdentifiers;
        ids.BusName = name;
        TAutomationObject link(ids, MakeAutomationBackend());
        try {
            // The private bus gives a program 1.5 s to take its name.
            link.Connect();
            ADD_FAILURE() << "connected to " << name;
        } catch (const EAutomationSystemError& error) {
            EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
        }
        EXPECT_FALSE(link.Connected());
    }
}

// Run with DBUS_SESSION_BUS_ADDRESS pointing nowhere.
TEST(NoBus, UnreachableBusIsASystemError) {
    TAutoPel link;
    EXPECT_THROW(link.Connect(), EAutomationSystemError);
    EXPECT_FALSE(link.Connected());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
