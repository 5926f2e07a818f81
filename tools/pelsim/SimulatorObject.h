// The automation object pelsim serves on the session bus: DoCommand answers
// report commands from the station model, RefreshData is raised on a period.
// The interface name differs between the two programs, so the object is
// registered as a virtual object that answers for whatever name it is given.
#pragma once

#include "StationData.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <QTimer>

namespace pelsim {

struct SimulatorOptions {
    QString BusName;
    QString ObjectPath;
    QString Interface;
    double PeriodSeconds = 10;
    int EventLimit = 0;               // stop after this many events; 0 never stops
    bool NoEvents = false;            // fault: never raise RefreshData
    bool ErrorReplies = false;        // fault: every command gets an error reply
    int ReplyLines = ReportLineCount; // fault when fewer: replies cut short
    int ReplyDelayMs = 0;             // fault: a slow application
    std::string DecimalSeparator = ".";
};

class SimulatorObject : public QDBusVirtualObject {
    Q_OBJECT
public:
    SimulatorObject(SimulatorOptions options, QDBusConnection bus);

    // Owns the bus name and registers the object; false with a message when
    // either is refused.
    bool Publish(QString& error);

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    QString introspect(const QString& path) const override;

    // Moves the station on and raises RefreshData with the refresh number.
    void RaiseRefreshData();
    int EventsRaised() const { return eventsRaised_; }

private:
    QDBusMessage Answer(const QDBusMessage& message) const;

    SimulatorOptions options_;
    QDBusConnection bus_;
    StationModel model_;
    QTimer eventTimer_;
    int eventsRaised_ = 0;
};

} // namespace pelsim
