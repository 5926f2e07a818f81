// The D-Bus transport of the metering link: the application owns a
// well-known name on the session bus, serves DoCommand on one object and
// raises RefreshData from it. A name without an owner is started by D-Bus
// activation, the Linux counterpart of starting the registered program.
#pragma once

#include "AutomationObject.h"

#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <memory>

namespace pelmbus {

// Receives the RefreshData signal on the thread of the event loop.
class RefreshDataReceiver : public QObject {
    Q_OBJECT
public:
    explicit RefreshDataReceiver(AutomationBackend::EventSink sink) : sink_(std::move(sink)) {}

public Q_SLOTS:
    void RefreshData(int ind);

private:
    AutomationBackend::EventSink sink_;
};

class DBusAutomationBackend : public AutomationBackend {
public:
    // handOvers: what a wait for a reply still runs; none for a link used
    // off the window's main thread.
    explicit DBusAutomationBackend(MainThreadHandOvers* handOvers = nullptr);
    ~DBusAutomationBackend() override;

    void Attach(const LinkIdentifiers& ids, EventSink sink, int32_t timeoutMs) override;
    void Detach() override;
    std::string Call(const std::string& command, int32_t timeoutMs) override;
    bool StartedProgram() const override { return started_; }

private:
    // Sends one call and waits for its reply or the bus's error.
    QDBusMessage Await(const QDBusMessage& message, int timeoutMs) const;
    // True when the program had to be started.
    bool EnsureRunning(int32_t timeoutMs) const;
    bool OffersInterface(int32_t timeoutMs) const;
    bool Subscribe(bool on);

    MainThreadHandOvers* handOvers_;
    QString program_;
    QString busName_;
    QString objectPath_;
    QString interface_;
    std::unique_ptr<RefreshDataReceiver> receiver_;
    bool started_ = false;
};

} // namespace pelmbus
