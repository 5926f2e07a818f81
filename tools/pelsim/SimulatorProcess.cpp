#include "SimulatorProcess.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QThread>

#include <csignal>

namespace pelsim {

QString SimulatorExecutable() {
    return QStringLiteral(PELSIM_EXECUTABLE);
}

bool WaitForNameOwner(const QString& name, bool owned, int timeoutMs) {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr) {
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const QDBusReply<bool> reply = bus->isServiceRegistered(name);
        if (reply.isValid() && reply.value() == owned) {
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
}

qint64 NameOwnerProcess(const QString& name) {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr) {
        return 0;
    }
    const QDBusReply<uint> pid = bus->servicePid(name);
    return pid.isValid() ? pid.value() : 0;
}

bool StopNameOwner(const QString& name, int timeoutMs) {
    const qint64 pid = NameOwnerProcess(name);
    if (pid <= 0) {
        return true;
    }
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    return WaitForNameOwner(name, false, timeoutMs);
}

SimulatorProcess::SimulatorProcess(QStringList arguments, QString busName)
    : arguments_(std::move(arguments)), busName_(std::move(busName)) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

SimulatorProcess::~SimulatorProcess() {
    Stop();
}

bool SimulatorProcess::Start(QString& error, int timeoutMs) {
    process_.start(SimulatorExecutable(), arguments_);
    if (!process_.waitForStarted(timeoutMs)) {
        error = process_.errorString();
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (NameOwnerProcess(busName_) != process_.processId()) {
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            process_.waitForFinished(100);
            error = QString::fromLocal8Bit(process_.readAll());
            if (error.isEmpty()) {
                error = QStringLiteral("pelsim did not take %1").arg(busName_);
            }
            Stop();
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

void SimulatorProcess::Stop() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

} // namespace pelsim
