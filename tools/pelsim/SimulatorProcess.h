// Starting and stopping pelsim from tests, benchmarks and the demo's
// helpers: a child process that is ready once it owns its bus name.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace pelsim {

// The pelsim built beside this program's sources.
QString SimulatorExecutable();

// Waits, running the event loop, until `name` has an owner (or none).
bool WaitForNameOwner(const QString& name, bool owned, int timeoutMs);
// Process id of the owner of `name` on the session bus, 0 when none.
qint64 NameOwnerProcess(const QString& name);
// Ends the process that owns `name` (for instance one that D-Bus activation
// started) and waits until the name is free.
bool StopNameOwner(const QString& name, int timeoutMs);

class SimulatorProcess {
public:
    // `arguments` are pelsim's options; `busName` the name it will own.
    SimulatorProcess(QStringList arguments, QString busName);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts pelsim and waits until it owns its name; false with pelsim's
    // output in `error` when it does not.
    bool Start(QString& error, int timeoutMs = 5000);
    void Stop();
    qint64 ProcessId() const { return process_.processId(); }

private:
    QStringList arguments_;
    QString busName_;
    QProcess process_;
};

} // namespace pelsim
