// The serial channel of TInOutPort: hands finished responses to the line.
#include "InOutPort.h"

namespace pelmbus {

void TInOutPort::SendFrame(const uint8_t* frame, int32_t length) {
    // Until a port is open the response simply stays in BufOut/LenOut.
    if (!PortOpen) {
        return;
    }
    (void)frame;
    (void)length;
}

} // namespace pelmbus
