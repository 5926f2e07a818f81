#include "ComAutomationBackend.h"

#include "AutomationErrors.h"
#include "ComSupport.h"
#include "DefaultInterface.h"
#include "LinkErrorTexts.h"
#include "MtaWorker.h"
#include "RefreshDataSink.h"

#include <ocidl.h>

#include <atomic>

namespace pelmbus::com {

namespace {

// How far an attach came; a failure is classified by the step it stopped at.
enum class AttachStep { Obtain, Subscribe, Query, Done };

struct AttachOutcome {
    std::atomic<AttachStep> Step{AttachStep::Obtain};
    HRESULT Status = S_OK;
    bool Started = false; // no running object: a new one was created
};

// COM itself bounds how long it waits for a server it starts to register;
// this bound only keeps a start that never ends from holding the window
// for good.
constexpr int32_t ProgramStartBoundMs = 5 * 60 * 1000;

struct CallOutcome {
    HRESULT Status = E_UNEXPECTED;
    std::string Reply;
    std::string ErrorText; // the application's own description, if it gave one
};

// The description a failed call left in the thread's error object.
std::string ErrorInfoText() {
    ComRef<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) {
        return {};
    }
    Bstr description;
    if (FAILED(info->GetDescription(description.Put()))) {
        return {};
    }
    return description.Utf8();
}

// What obtaining the object left for subscribing, owned by jobs on the
// worker thread.
struct ObtainedObject {
    ComRef<IUnknown> Object;
    ComRef<IUnknown> SinkProxy;
    HRESULT SinkStatus = S_OK;

    void Release() {
        Object.Reset();
        SinkProxy.Reset();
    }
};

} // namespace

// The application's references, owned by jobs on the worker thread.
struct RemoteObject {
    ComRef<IConnectionPoint> Point;
    DWORD Cookie = 0;
    ComRef<IAutomationDoCommand> Object;

    // Unsubscribes and releases; what is left of a failed attach, too.
    void Release() {
        if (Point && Cookie != 0) {
            Point->Unadvise(Cookie);
        }
        Cookie = 0;
        Point.Reset();
        Object.Reset();
    }
};

ComAutomationBackend::ComAutomationBackend(MainThreadHandOvers* handOvers, HANDLE handOverPosted)
    : worker_(std::make_unique<MtaWorker>(handOvers, handOverPosted)) {}

ComAutomationBackend::~ComAutomationBackend() {
    Detach();
}

void ComAutomationBackend::Attach(const LinkIdentifiers& ids, EventSink sink, int32_t timeoutMs) {
    Detach();
    program_ = std::string(ids.ProgramName);
    releaseTimeoutMs_ = timeoutMs;
    const CLSID classId = ToGuid(ids.ClassGuid());
    const IID interfaceId = ToGuid(ids.InterfaceGuid());
    const IID eventId = ToGuid(ids.EventInterfaceGuid());

    // The sink lives in this thread's apartment; the worker subscribes it
    // through a proxy, so events come back through this thread's loop.
    ComRef<RefreshDataSink> localSink(new RefreshDataSink(eventId, std::move(sink)));
    IStream* sinkStream = nullptr;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID_IUnknown, localSink.Get(), &sinkStream);
    if (FAILED(hr)) {
        throw EAutomationError("Не удалось передать приемник событий для программы " + program_ +
                                   ": " + HResultText(hr),
                               HResultName(hr));
    }

    // Obtaining the object may start the program, which at a station's boot
    // can take far longer than a call: it waits as long as COM waits for a
    // server to register, bounded only by ProgramStartBoundMs. Subscribing
    // and querying are calls, bounded by the connect time-out.
    auto outcome = std::make_shared<AttachOutcome>();
    auto obtained = std::make_shared<ObtainedObject>();
    const bool obtainedInTime = worker_->Run(
        [=] {
            obtained->SinkStatus = CoGetInterfaceAndReleaseStream(sinkStream, IID_IUnknown,
                                                                  obtained->SinkProxy.PutVoid());
            HRESULT status = GetActiveObject(classId, nullptr, obtained->Object.Put());
            if (FAILED(status)) {
                status = CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                          obtained->Object.PutVoid());
                outcome->Started = SUCCEEDED(status);
            }
            if (FAILED(status)) {
                obtained->Release();
                outcome->Status = status;
                return;
            }
            outcome->Step = AttachStep::Subscribe;
        },
        ProgramStartBoundMs);

    auto remote = std::make_shared<RemoteObject>();
    bool finished = obtainedInTime;
    if (obtainedInTime && outcome->Step.load() == AttachStep::Subscribe) {
        finished = worker_->Run(
            [=] {
                ComRef<IUnknown> object = std::move(obtained->Object);
                ComRef<IUnknown> sinkProxy = std::move(obtained->SinkProxy);
                HRESULT status = obtained->SinkStatus;
                if (FAILED(status)) {
                    outcome->Status = status;
                    return;
                }
                ComRef<IConnectionPointContainer> container;
                status = object->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
                if (SUCCEEDED(status)) {
                    status = container->FindConnectionPoint(eventId, remote->Point.Put());
                }
                if (SUCCEEDED(status)) {
                    status = remote->Point->Advise(sinkProxy.Get(), &remote->Cookie);
                }
                if (FAILED(status)) {
                    remote->Cookie = 0;
                    remote->Release();
                    outcome->Status = status;
                    return;
                }
                outcome->Step = AttachStep::Query;
                status = object->QueryInterface(interfaceId, remote->Object.PutVoid());
                if (FAILED(status)) {
                    remote->Release(); // nothing stays subscribed
                    outcome->Status = status;
                    return;
                }
                outcome->Step = AttachStep::Done;
            },
            timeoutMs);
    }

    const AttachStep step = outcome->Step.load();
    if (finished && step == AttachStep::Done) {
        sink_ = localSink.Get();
        sink_->AddRef();
        remote_ = remote;
        started_ = outcome->Started;
        return;
    }
    // Cut the sink off, so that a subscription the worker still makes or
    // has left is never heard; a late attach is undone after it ends.
    localSink->Disconnect();
    if (!finished) {
        worker_->Post([obtained, remote] {
            obtained->Release();
            remote->Release();
        });
    }
    CoDisconnectObject(localSink.Get(), 0);

    const HRESULT status = outcome->Status;
    if (step == AttachStep::Obtain) {
        if (!finished) {
            throw EAutomationSystemError("Программа " + program_ + " не запустилась за " +
                                             std::to_string(ProgramStartBoundMs / 60000) + " мин",
                                         "Timeout");
        }
        throw EAutomationSystemError("Не удалось получить объект программы " + program_ + " " +
                                         std::string(ids.ClassId) + ": " + HResultText(status),
                                     HResultName(status));
    }
    if (!finished) {
        throw EAutomationError("Программа " + program_ + " не ответила за " +
                                   std::to_string(timeoutMs) + " мс при подключении",
                               "Timeout");
    }
    if (step == AttachStep::Subscribe) {
        throw EAutomationError(linktext::SubscriptionRefused(program_) + ": " + HResultText(status),
                               HResultName(status));
    }
    throw EAutomationError(linktext::InterfaceMissing(program_, ids.InterfaceId) + ": " +
                               HResultText(status),
                           HResultName(status));
}

void ComAutomationBackend::Detach() {
    if (sink_ == nullptr) {
        return;
    }
    sink_->Disconnect();
    std::shared_ptr<RemoteObject> remote = std::move(remote_);
    remote_.reset();
    // At most the time-out: a hung application is left to the worker, which
    // unsubscribes and releases once it answers. Behind a call that is hung
    // already the release cannot start, so the window does not wait for it.
    auto release = [remote] { remote->Release(); };
    if (worker_->Stuck()) {
        worker_->Post(release);
    } else {
        worker_->Run(release, releaseTimeoutMs_);
    }
    CoDisconnectObject(sink_, 0);
    sink_->Release();
    sink_ = nullptr;
}

std::string ComAutomationBackend::Call(const std::string& command, int32_t timeoutMs) {
    if (!remote_) {
        throw EAutomationError("Нет связи с программой " + program_);
    }
    releaseTimeoutMs_ = timeoutMs;
    auto outcome = std::make_shared<CallOutcome>();
    const bool finished = worker_->Run(
        [remote = remote_, outcome, command] {
            Bstr text(command);
            Bstr reply;
            outcome->Status = remote->Object->DoCommand(text.Get(), reply.Put());
            if (SUCCEEDED(outcome->Status)) {
                outcome->Reply = reply.Utf8();
            } else {
                outcome->ErrorText = ErrorInfoText();
            }
        },
        timeoutMs);
    if (!finished) {
        throw EAutomationError(linktext::NoAnswerToCommand(program_, timeoutMs, command),
                               "Timeout");
    }
    if (FAILED(outcome->Status)) {
        const HRESULT status = outcome->Status;
        throw EAutomationError(outcome->ErrorText.empty() ? HResultText(status)
                                                          : outcome->ErrorText,
                               HResultName(status));
    }
    return std::move(outcome->Reply);
}

} // namespace pelmbus::com

namespace pelmbus {

std::unique_ptr<AutomationBackend> MakeAutomationBackend(MainThreadHandOvers* handOvers) {
    return std::make_unique<com::ComAutomationBackend>(handOvers);
}

} // namespace pelmbus
