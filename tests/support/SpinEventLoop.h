// Runs the Qt event loop of a test until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace pelmbus::testsupport {

// True once `done` holds; false when `timeoutMs` ran out first.
template <typename Condition> bool SpinUntil(Condition done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

} // namespace pelmbus::testsupport
