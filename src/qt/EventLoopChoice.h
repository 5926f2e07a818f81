// Which message loop the window runs on; chosen before the application
// object exists.
#pragma once

namespace pelmbus {

// Qt's own loop instead of the GLib one, unless the environment names one
// (QT_NO_GLIB set, also empty): the receive event of every request waits
// for this loop, and Qt's own takes it some tens of microseconds sooner.
// Nothing in the program needs GLib sources on the main thread.
void ChooseEventLoop();

} // namespace pelmbus
