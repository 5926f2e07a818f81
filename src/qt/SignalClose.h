// SIGTERM and SIGINT close the window as its close button does, so that the
// settings and entries are saved and the port is closed.
#pragma once

class QWidget;

namespace pelmbus {

// Installs the handlers; from then on either signal closes window from the
// loop. Returns false when the handlers could not be installed.
bool CloseOnTerminationSignals(QWidget& window);

} // namespace pelmbus
