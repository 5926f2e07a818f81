// The window with real D-Bus links to pelsim: the link-and-form scenarios
// (LinkFormScenarios.h) over the D-Bus backend.
#include "DBusStation.h"
#include "LinkFormScenarios.h"

namespace pelmbus::testsupport {
INSTANTIATE_TYPED_TEST_SUITE_P(LinkFormDBus, LinkForm, DBusStation);
} // namespace pelmbus::testsupport
