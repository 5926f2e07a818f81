#include "DBusAutomationBackend.h"

#include "AutomationErrors.h"
#include "LinkErrorTexts.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QXmlStreamReader>

#include <chrono>
#include <climits>

namespace pelmbus {

namespace {

const QString BusService = QStringLiteral("org.freedesktop.DBus");
const QString BusPath = QStringLiteral("/org/freedesktop/DBus");

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// The error's own text, or its name when it brought none.
std::string ErrorText(const QString& name, const QString& message) {
    return ToUtf8(message.isEmpty() ? name : message);
}

QDBusConnection SessionBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const QDBusError error = bus.lastError();
        throw EAutomationSystemError(error.message().isEmpty()
                                         ? std::string("Шина D-Bus сеанса недоступна")
                                         : ToUtf8(error.message()),
                                     ToUtf8(error.name()));
    }
    return bus;
}

QDBusMessage BusCall(const QString& method) {
    return QDBusMessage::createMethodCall(BusService, BusPath, BusService, method);
}

// No limit of the caller's own: the bus ends an activation that takes too
// long with its service start time-out (120 s in the default session
// configuration), and that is the whole wait a start-up gets.
constexpr int ActivationTimeoutMs = INT_MAX;

// How often a wait that runs hand-overs looks whether its reply has come.
constexpr std::chrono::milliseconds ReplyPollInterval{2};

// True when the introspection data lists `interface` on the object itself.
bool IntrospectionOffers(const QString& xml, const QString& interface) {
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (depth == 2 && reader.name() == QLatin1String("interface") &&
                reader.attributes().value(QLatin1String("name")) == interface) {
                return true;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return false;
}

} // namespace

void RefreshDataReceiver::RefreshData(int ind) {
    sink_(static_cast<int32_t>(ind));
}

DBusAutomationBackend::DBusAutomationBackend(MainThreadHandOvers* handOvers)
    : handOvers_(handOvers) {}

DBusAutomationBackend::~DBusAutomationBackend() {
    Detach();
}

QDBusMessage DBusAutomationBackend::Await(const QDBusMessage& message, int timeoutMs) const {
    QDBusPendingCall pending = SessionBus().asyncCall(message, timeoutMs);
    if (handOvers_ == nullptr) {
        pending.waitForFinished();
        return pending.reply();
    }
    // The reply is received on the bus's own thread; this thread meanwhile
    // runs the receive thread's hand-overs and nothing else.
    while (!pending.isFinished()) {
        handOvers_->RunPending();
        handOvers_->WaitForPending(std::chrono::steady_clock::now() + ReplyPollInterval);
    }
    return pending.reply();
}

bool DBusAutomationBackend::EnsureRunning(int32_t timeoutMs) const {
    QDBusMessage ask = BusCall(QStringLiteral("NameHasOwner"));
    ask << busName_;
    QDBusMessage reply = Await(ask, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        throw EAutomationSystemError(ErrorText(reply.errorName(), reply.errorMessage()),
                                     ToUtf8(reply.errorName()));
    }
    if (reply.arguments().value(0).toBool()) {
        return false; // running already: used as it is
    }
    // Activation starts the program registered for the name and returns once
    // it owns the name, or with the bus's error when that fails.
    QDBusMessage start = BusCall(QStringLiteral("StartServiceByName"));
    start << busName_ << 0u;
    reply = Await(start, ActivationTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        throw EAutomationSystemError(ErrorText(reply.errorName(), reply.errorMessage()),
                                     ToUtf8(reply.errorName()));
    }
    return true;
}

bool DBusAutomationBackend::OffersInterface(int32_t timeoutMs) const {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        busName_, objectPath_, QStringLiteral("org.freedesktop.DBus.Introspectable"),
        QStringLiteral("Introspect"));
    const QDBusMessage reply = Await(ask, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        throw EAutomationError(ErrorText(reply.errorName(), reply.errorMessage()),
                               ToUtf8(reply.errorName()));
    }
    return IntrospectionOffers(reply.arguments().value(0).toString(), interface_);
}

bool DBusAutomationBackend::Subscribe(bool on) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString signal = QStringLiteral("RefreshData");
    return on ? bus.connect(busName_, objectPath_, interface_, signal, receiver_.get(),
                            SLOT(RefreshData(int)))
              : bus.disconnect(busName_, objectPath_, interface_, signal, receiver_.get(),
                               SLOT(RefreshData(int)));
}

void DBusAutomationBackend::Attach(const LinkIdentifiers& ids, EventSink sink, int32_t timeoutMs) {
    Detach();
    program_ = FromView(ids.ProgramName);
    busName_ = FromView(ids.BusName);
    objectPath_ = FromView(ids.ObjectPath);
    interface_ = FromView(ids.Interface);

    started_ = EnsureRunning(timeoutMs);
    receiver_ = std::make_unique<RefreshDataReceiver>(std::move(sink));
    if (!Subscribe(true)) {
        receiver_.reset();
        throw EAutomationError(linktext::SubscriptionRefused(ToUtf8(program_)));
    }
    bool offers = false;
    try {
        offers = OffersInterface(timeoutMs);
    } catch (...) {
        Detach();
        throw;
    }
    if (!offers) {
        Detach();
        throw EAutomationError(linktext::InterfaceMissing(ToUtf8(program_), ToUtf8(interface_)) +
                               " объекта " + ToUtf8(objectPath_));
    }
}

void DBusAutomationBackend::Detach() {
    if (!receiver_) {
        return;
    }
    Subscribe(false);
    receiver_.reset();
}

std::string DBusAutomationBackend::Call(const std::string& command, int32_t timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(busName_, objectPath_, interface_,
                                                       QStringLiteral("DoCommand"));
    call << QString::fromStdString(command);
    const QDBusMessage reply = Await(call, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString name = reply.errorName();
        std::string text = ErrorText(name, reply.errorMessage());
        if (name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
            name == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
            text = linktext::NoAnswerToCommand(ToUtf8(program_), timeoutMs, command) + ": " + text;
        }
        throw EAutomationError(text, ToUtf8(name));
    }
    const QList<QVariant> arguments = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || arguments.size() != 1 ||
        arguments[0].metaType().id() != QMetaType::QString) {
        throw EAutomationError("Программа " + ToUtf8(program_) + " дала ответ неверного вида на " +
                               "команду \"" + command + "\"");
    }
    return ToUtf8(arguments[0].toString());
}

std::unique_ptr<AutomationBackend> MakeAutomationBackend(MainThreadHandOvers* handOvers) {
    return std::make_unique<DBusAutomationBackend>(handOvers);
}

} // namespace pelmbus
