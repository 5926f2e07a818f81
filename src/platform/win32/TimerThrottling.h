// Keeping the fine timer the receive thread asks for while the window is
// minimized or hidden.
#pragma once

namespace pelmbus {

// Windows 11 ignores a process's timer resolution request while none of its
// windows is visible, which is how a station runs this program: every byte
// pause would then round up to the 15.6 ms tick. Opts the process out of
// that throttling; does nothing on Windows versions that lack it. True when
// the system took the request.
bool KeepTimerResolutionWhileHidden();

} // namespace pelmbus
