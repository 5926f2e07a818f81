// The wrapper's own rules over a scripted transport: connect once, connect
// before a command, nothing stays subscribed after a failure or after the
// wrapper is gone, and events reach OnRefreshData only while connected.
#include "AutomationErrors.h"
#include "CltPel_TLB.h"
#include "Pel_TLB.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <string>
#include <vector>

using namespace pelmbus;

namespace {

struct TransportLog {
    int Attaches = 0;
    int Detaches = 0;
    bool Attached = false;
    std::vector<std::string> Calls;
    std::string AttachedBusName;
    int32_t LastCallTimeout = 0;
    AutomationBackend::EventSink Sink;
};

class ScriptedBackend : public AutomationBackend {
public:
    explicit ScriptedBackend(TransportLog& log) : log_(log) {}
    enum class Failure { None, System, Other };
    Failure AttachFailure = Failure::None;

    void Attach(const LinkIdentifiers& ids, EventSink sink, int32_t) override {
        ++log_.Attaches;
        if (AttachFailure == Failure::System) {
            throw EAutomationSystemError("The name was not provided by any .service files");
        }
        if (AttachFailure == Failure::Other) {
            throw EAutomationError("no such interface");
        }
        log_.Attached = true;
        log_.AttachedBusName = std::string(ids.BusName);
        log_.Sink = std::move(sink);
    }
    void Detach() override {
        ++log_.Detaches;
        log_.Attached = false;
    }
    std::string Call(const std::string& command, int32_t timeoutMs) override {
        log_.Calls.push_back(command);
        log_.LastCallTimeout = timeoutMs;
        return "reply to " + command;
    }

private:
    TransportLog& log_;
};

std::unique_ptr<ScriptedBackend> Backend(TransportLog& log) {
    return std::make_unique<ScriptedBackend>(log);
}

} // namespace

TEST(LinkGuid, ParsesTheRegistryFormIntoTheGuidFields) {
    constexpr LinkGuid event = AutoCltPelIdentifiers.EventInterfaceGuid();
    EXPECT_EQ(event.Data1, 0x9772B943u);
    EXPECT_EQ(event.Data2, 0x271Du);
    EXPECT_EQ(event.Data3, 0x11D4u);
    const std::array<uint8_t, 8> tail{0xB3, 0x07, 0x00, 0x00, 0x21, 0xD9, 0xF8, 0xFD};
    EXPECT_EQ(event.Data4, tail);
    EXPECT_EQ(ParseGuid("{9772b945-271e-11d4-b307-000021d9f8fd}"), AutoPelIdentifiers.ClassGuid())
        << "either case";
    EXPECT_NE(AutoPelIdentifiers.ClassGuid(), AutoCltPelIdentifiers.ClassGuid());
}

TEST(LinkGuid, RefusesAnythingButTheRegistryForm) {
    for (const char* text :
         {"9772B945-271E-11D4-B307-000021D9F8FD", "{9772B945-271E-11D4-B307-000021D9F8F}",
          "{9772B945-271E-11D4-B307+000021D9F8FD}", "{9772B945-271E-11D4-B307-000021D9F8FG}", ""}) {
        EXPECT_THROW(ParseGuid(text), std::invalid_argument) << text;
    }
}

TEST(AutomationObject, TheTwoWrappersDifferOnlyInTheirIdentifiers) {
    TransportLog server;
    TransportLog client;
    TAutoPel pel(Backend(server));
    TAutoCltPel cltPel(Backend(client));
    pel.Connect();
    cltPel.Connect();
    EXPECT_EQ(server.AttachedBusName, "ru.pel.Pel");
    EXPECT_EQ(client.AttachedBusName, "ru.pel.CltPel");
    EXPECT_EQ(pel.Identifiers().ClassId, "{9772B945-271E-11D4-B307-000021D9F8FD}");
    EXPECT_EQ(cltPel.Identifiers().ClassId, "{9772B945-271D-11D4-B307-000021D9F8FD}");
    EXPECT_EQ(cltPel.Identifiers().EventInterfaceId, "{9772B943-271D-11D4-B307-000021D9F8FD}");
}

TEST(AutomationObject, ConnectsOnceAndNeverByItself) {
    TransportLog log;
    TAutoPel link(Backend(log));
    EXPECT_EQ(log.Attaches, 0) << "creating a wrapper does not connect";
    link.Connect();
    link.Connect();
    EXPECT_EQ(log.Attaches, 1);
    link.Disconnect();
    link.Disconnect();
    EXPECT_EQ(log.Detaches, 1);
    EXPECT_FALSE(link.Connected());
}

TEST(AutomationObject, CommandConnectsFirstAndCarriesTheTimeOut) {
    TransportLog log;
    TAutoPel link(Backend(log));
    link.CallTimeoutMs = 1234;
    EXPECT_EQ(link.DoCommand("GetRepData 0 2 1"), "reply to GetRepData 0 2 1");
    EXPECT_TRUE(link.Connected());
    EXPECT_EQ(log.Attaches, 1);
    EXPECT_EQ(log.LastCallTimeout, 1234);
    link.DoCommand("GetRepData 0 0 0");
    EXPECT_EQ(log.Attaches, 1);
    EXPECT_EQ(log.Calls.size(), 2u);
}

TEST(AutomationObject, FailedConnectLeavesItDisconnectedWithTheErrorType) {
    TransportLog log;
    auto backend = Backend(log);
    backend->AttachFailure = ScriptedBackend::Failure::System;
    TAutoPel link(std::move(backend));
    EXPECT_THROW(link.Connect(), EAutomationSystemError);
    EXPECT_FALSE(link.Connected());
    EXPECT_THROW(link.DoCommand("GetRepData 0 0 0"), EAutomationSystemError);
    EXPECT_TRUE(log.Calls.empty()) << "no call without a connection";

    TransportLog other;
    auto failing = Backend(other);
    failing->AttachFailure = ScriptedBackend::Failure::Other;
    TAutoCltPel cltPel(std::move(failing));
    EXPECT_THROW(cltPel.Connect(), EAutomationError);
    EXPECT_FALSE(cltPel.Connected());
}

TEST(AutomationObject, DestroyedWhileConnectedDisconnectsFirst) {
    TransportLog log;
    {
        TAutoPel link(Backend(log));
        link.Connect();
    }
    EXPECT_EQ(log.Detaches, 1);
    EXPECT_FALSE(log.Attached);

    TransportLog never;
    { TAutoPel link(Backend(never)); }
    EXPECT_EQ(never.Detaches, 0);
}

TEST(AutomationObject, EventsReachTheHandlerOnlyWhileConnected) {
    TransportLog log;
    TAutoPel link(Backend(log));
    std::vector<int32_t> inds;
    MeteringLink* sender = nullptr;
    link.Connect();
    log.Sink(5); // no handler assigned: ignored
    link.OnRefreshData = [&](MeteringLink& from, int32_t ind) {
        sender = &from;
        inds.push_back(ind);
    };
    log.Sink(7);
    log.Sink(-1);
    EXPECT_EQ(inds, (std::vector<int32_t>{7, -1}));
    EXPECT_EQ(sender, &link);

    link.Disconnect();
    log.Sink(8); // one still queued when the link went down
    EXPECT_EQ(inds.size(), 2u);
}

TEST(AutomationObject, HandlerMayReplaceItselfWhileRunning) {
    TransportLog log;
    TAutoPel link(Backend(log));
    int calls = 0;
    link.OnRefreshData = [&](MeteringLink& from, int32_t) {
        ++calls;
        from.OnRefreshData = nullptr;
    };
    link.Connect();
    log.Sink(1);
    log.Sink(2);
    EXPECT_EQ(calls, 1);
}
