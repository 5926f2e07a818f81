// SIGTERM and SIGINT close the window as its close button does, so that the
// settings and entries are saved and the port is closed.
#pragma once

#include <functional>

class QObject;

namespace pelmbus {

// Installs the handlers; from then on either signal runs close from the loop
// of owner's thread, once per signal. Returns false when the handlers could
// not be installed.
bool CloseOnTerminationSignals(QObject& owner, std::function<void()> close);

} // namespace pelmbus
