// pelsim: a stand-in for the metering station's application on the session
// bus. It owns the name of the server or the client program, answers
// "GetRepData" commands with report texts and raises RefreshData on a
// period. Fault options let tests and commissioning try the failure paths.
#include "CltPel_TLB.h"
#include "Pel_TLB.h"
#include "SimulatorObject.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTimer>

#include <clocale>
#include <cstdio>

namespace {

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int Fail(const QString& message) {
    std::fprintf(stderr, "pelsim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pelsim"));
    std::setlocale(LC_ALL, "");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Metering station simulator: serves DoCommand and raises RefreshData."));
    parser.addHelpOption();
    const QCommandLineOption program(
        QStringLiteral("program"),
        QStringLiteral("Which program to stand for: server (%1) or client (%2).")
            .arg(FromView(pelmbus::AutoPelIdentifiers.BusName),
                 FromView(pelmbus::AutoCltPelIdentifiers.BusName)),
        QStringLiteral("server|client"), QStringLiteral("server"));
    const QCommandLineOption period(QStringLiteral("period"),
                                    QStringLiteral("Seconds between two RefreshData events."),
                                    QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption eventLimit(QStringLiteral("event-limit"),
                                        QStringLiteral("Stop raising events after this many."),
                                        QStringLiteral("count"), QStringLiteral("0"));
    const QCommandLineOption noEvents(QStringLiteral("no-events"),
                                      QStringLiteral("Fault: never raise RefreshData."));
    const QCommandLineOption errorReplies(
        QStringLiteral("error-replies"),
        QStringLiteral("Fault: answer every command with an error."));
    const QCommandLineOption replyLines(
        QStringLiteral("reply-lines"),
        QStringLiteral("Fault when below %1: cut every reply to this many lines.")
            .arg(pelsim::ReportLineCount),
        QStringLiteral("count"), QString::number(pelsim::ReportLineCount));
    const QCommandLineOption replyDelay(QStringLiteral("reply-delay"),
                                        QStringLiteral("Fault: answer each command this late."),
                                        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption separator(
        QStringLiteral("decimal-separator"),
        QStringLiteral("Decimal separator of the values (default: the locale's)."),
        QStringLiteral("text"));
    const QCommandLineOption busName(
        QStringLiteral("bus-name"),
        QStringLiteral("Own this bus name instead of the program's (the object stays the same)."),
        QStringLiteral("name"));
    parser.addOptions({program, period, eventLimit, noEvents, errorReplies, replyLines, replyDelay,
                       separator, busName});
    parser.process(app);

    pelsim::SimulatorOptions options;
    const QString which = parser.value(program);
    const pelmbus::LinkIdentifiers* ids = nullptr;
    if (which == QLatin1String("server")) {
        ids = &pelmbus::AutoPelIdentifiers;
    } else if (which == QLatin1String("client")) {
        ids = &pelmbus::AutoCltPelIdentifiers;
    } else {
        return Fail(QStringLiteral("--program must be server or client, not %1").arg(which));
    }
    options.BusName = parser.isSet(busName) ? parser.value(busName) : FromView(ids->BusName);
    options.ObjectPath = FromView(ids->ObjectPath);
    options.Interface = FromView(ids->Interface);

    bool ok = false;
    options.PeriodSeconds = parser.value(period).toDouble(&ok);
    if (!ok || options.PeriodSeconds < 0.01 || options.PeriodSeconds > 86400) {
        return Fail(QStringLiteral("--period must be between 0.01 and 86400 seconds"));
    }
    options.EventLimit = parser.value(eventLimit).toInt(&ok);
    if (!ok || options.EventLimit < 0) {
        return Fail(QStringLiteral("--event-limit must be a count"));
    }
    options.ReplyLines = parser.value(replyLines).toInt(&ok);
    if (!ok || options.ReplyLines < 0) {
        return Fail(QStringLiteral("--reply-lines must be a count"));
    }
    options.ReplyDelayMs = parser.value(replyDelay).toInt(&ok);
    if (!ok || options.ReplyDelayMs < 0) {
        return Fail(QStringLiteral("--reply-delay must be milliseconds"));
    }
    options.NoEvents = parser.isSet(noEvents);
    options.ErrorReplies = parser.isSet(errorReplies);
    if (parser.isSet(separator)) {
        options.DecimalSeparator = parser.value(separator).toStdString();
    } else if (const lconv* conventions = std::localeconv();
               conventions != nullptr && *conventions->decimal_point != '\0') {
        options.DecimalSeparator = conventions->decimal_point;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return Fail(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
    }
    pelsim::SimulatorObject simulator(options, bus);
    QString error;
    if (!simulator.Publish(error)) {
        return Fail(error);
    }

    // Ends with its bus, so an activated simulator never outlives the session.
    QTimer busWatch;
    QObject::connect(&busWatch, &QTimer::timeout, &app, [&app] {
        if (!QDBusConnection::sessionBus().isConnected()) {
            app.quit();
        }
    });
    busWatch.start(500);
    return app.exec();
}
