#include "SimulatorObject.h"

#include "StationReplies.h"

#include <QDBusError>
#include <QDBusMessage>

#include <cmath>
#include <ctime>

namespace pelsim {

SimulatorObject::SimulatorObject(SimulatorOptions options, QDBusConnection bus)
    : options_(std::move(options)), bus_(std::move(bus)),
      model_(options_.PeriodSeconds, std::time(nullptr)) {
    eventTimer_.setInterval(static_cast<int>(std::lround(options_.PeriodSeconds * 1000.0)));
    connect(&eventTimer_, &QTimer::timeout, this, &SimulatorObject::RaiseRefreshData);
}

bool SimulatorObject::Publish(QString& error) {
    if (!bus_.registerVirtualObject(options_.ObjectPath, this, QDBusConnection::SingleNode)) {
        error = QStringLiteral("cannot register object %1: %2")
                    .arg(options_.ObjectPath, bus_.lastError().message());
        return false;
    }
    if (!bus_.registerService(options_.BusName)) {
        error = QStringLiteral("cannot own bus name %1: %2")
                    .arg(options_.BusName, bus_.lastError().message());
        bus_.unregisterObject(options_.ObjectPath);
        return false;
    }
    if (!options_.NoEvents) {
        eventTimer_.start();
    }
    return true;
}

void SimulatorObject::RaiseRefreshData() {
    if (options_.EventLimit > 0 && eventsRaised_ >= options_.EventLimit) {
        eventTimer_.stop();
        return;
    }
    model_.Advance(std::time(nullptr));
    ++eventsRaised_;
    QDBusMessage signal = QDBusMessage::createSignal(options_.ObjectPath, options_.Interface,
                                                     QStringLiteral("RefreshData"));
    signal << model_.Generation();
    bus_.send(signal);
}

QDBusMessage SimulatorObject::Answer(const QDBusMessage& message) const {
    const QString command = message.arguments().value(0).toString();
    pelsim::ReplyFaults faults;
    faults.ErrorReplies = options_.ErrorReplies;
    faults.ReplyLines = options_.ReplyLines;
    faults.DecimalSeparator = options_.DecimalSeparator;
    const StationReply reply = AnswerCommand(model_, command.toStdString(), faults);
    if (!reply.Ok) {
        return message.createErrorReply(QString::fromStdString(reply.ErrorName),
                                        QString::fromStdString(reply.Text));
    }
    return message.createReply(QString::fromStdString(reply.Text));
}

bool SimulatorObject::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
    const QString interface = message.interface();
    if (message.type() != QDBusMessage::MethodCallMessage ||
        message.member() != QLatin1String("DoCommand") ||
        (!interface.isEmpty() && interface != options_.Interface)) {
        return false; // introspection and the rest are answered by the bus library
    }
    if (message.signature() != QLatin1String("s")) {
        connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                                 QStringLiteral("DoCommand takes one string")));
        return true;
    }
    const QDBusMessage reply = Answer(message);
    if (options_.ReplyDelayMs > 0) {
        QDBusConnection bus = connection;
        QTimer::singleShot(options_.ReplyDelayMs, this,
                           [bus, reply]() mutable { bus.send(reply); });
    } else {
        connection.send(reply);
    }
    return true;
}

QString SimulatorObject::introspect(const QString&) const {
    return QStringLiteral("  <interface name=\"%1\">\n"
                          "    <method name=\"DoCommand\">\n"
                          "      <arg name=\"command\" type=\"s\" direction=\"in\"/>\n"
                          "      <arg name=\"reply\" type=\"s\" direction=\"out\"/>\n"
                          "    </method>\n"
                          "    <signal name=\"RefreshData\">\n"
                          "      <arg name=\"ind\" type=\"i\"/>\n"
                          "    </signal>\n"
                          "  </interface>\n")
        .arg(options_.Interface);
}

} // namespace pelsim
