#include "EventLoopChoice.h"

#include <QByteArray>
#include <QtGlobal>

namespace pelmbus {

void ChooseEventLoop() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
}

} // namespace pelmbus
