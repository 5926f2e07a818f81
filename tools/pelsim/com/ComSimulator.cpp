#include "ComSimulator.h"

#include "ComSupport.h"
#include "PelSim.h"
#include "StationReplies.h"
#include "WideText.h"

#include <ocidl.h>
#include <olectl.h>

#include <ctime>
#include <utility>
#include <vector>

namespace pelsim {

using pelmbus::com::ComRef;
using pelmbus::com::ToGuid;

namespace {

// Reference counting of the three small objects below, each made with new
// and deleted by its last Release.
class Counted {
public:
    virtual ~Counted() = default;

protected:
    ULONG AddReference() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG ReleaseReference() {
        const auto left = static_cast<ULONG>(InterlockedDecrement(&references_));
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    LONG references_ = 1;
};

bool SinkIsGone(HRESULT hr) {
    return hr == RPC_E_DISCONNECTED || hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == CO_E_OBJNOTCONNECTED;
}

} // namespace

class RefreshDataPoint;

class SimulatorAutomationObject final : public IAutoPel,
                                        public IConnectionPointContainer,
                                        public ISupportErrorInfo,
                                        Counted {
public:
    SimulatorAutomationObject(const pelmbus::LinkIdentifiers& ids,
                              const SimulatorSettings& settings, std::string decimalSeparator,
                              ITypeInfo* typeInfo);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseReference(); }

    // IDispatch, from the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (index != 0) {
            return DISP_E_BADINDEX;
        }
        typeInfo_->AddRef();
        *info = typeInfo_.Get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        return DispGetIDsOfNames(typeInfo_.Get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override {
        return DispInvoke(static_cast<IAutoPel*>(this), typeInfo_.Get(), id, flags, params, result,
                          exception, argumentError);
    }

    // The default interface
    HRESULT STDMETHODCALLTYPE DoCommand(BSTR command, BSTR* reply) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override {
        *points = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, interfaceId_) ? S_OK : S_FALSE;
    }

    bool RaiseRefreshData();

private:
    ~SimulatorAutomationObject();

    IID interfaceId_;
    ComRef<ITypeInfo> typeInfo_;
    ReplyFaults faults_;
    int replyDelayMs_;
    StationModel model_;
    RefreshDataPoint* point_;
};

class RefreshDataPoint final : public IConnectionPoint, Counted {
public:
    RefreshDataPoint(IConnectionPointContainer* container, const IID& eventId)
        : container_(container), eventId_(eventId) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
            *object = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseReference(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        *iid = eventId_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
        if (container_ == nullptr) {
            return E_UNEXPECTED;
        }
        container_->AddRef();
        *c = container_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (sink == nullptr || cookie == nullptr) {
            return E_POINTER;
        }
        ComRef<IDispatch> dispatch;
        // The sink is asked for the event interface, as a client's sink must
        // answer it.
        if (FAILED(sink->QueryInterface(eventId_, dispatch.PutVoid()))) {
            return CONNECT_E_CANNOTCONNECT;
        }
        *cookie = ++lastCookie_;
        sinks_.emplace_back(*cookie, std::move(dispatch));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
            if (it->first == cookie) {
                sinks_.erase(it);
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** e) override {
        *e = nullptr;
        return E_NOTIMPL;
    }

    void Raise(int32_t ind) {
        // Unadvise may run inside an outgoing call: work on a copy.
        std::vector<std::pair<DWORD, IDispatch*>> sinks;
        for (auto& [cookie, sink] : sinks_) {
            sink->AddRef();
            sinks.emplace_back(cookie, sink.Get());
        }
        for (auto& [cookie, sink] : sinks) {
            VARIANT argument;
            VariantInit(&argument);
            argument.vt = VT_I4;
            argument.lVal = ind;
            DISPPARAMS params{&argument, nullptr, 1, 0};
            const HRESULT hr = sink->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                            &params, nullptr, nullptr, nullptr);
            sink->Release();
            if (SinkIsGone(hr)) {
                Unadvise(cookie); // a client that ended without unsubscribing
            }
        }
    }

    void Orphan() {
        container_ = nullptr;
        sinks_.clear();
    }

private:
    IConnectionPointContainer* container_; // not counted: the container owns this point
    IID eventId_;
    DWORD lastCookie_ = 0;
    std::vector<std::pair<DWORD, ComRef<IDispatch>>> sinks_;
};

SimulatorAutomationObject::SimulatorAutomationObject(const pelmbus::LinkIdentifiers& ids,
                                                     const SimulatorSettings& settings,
                                                     std::string decimalSeparator,
                                                     ITypeInfo* typeInfo)
    : interfaceId_(ToGuid(ids.InterfaceGuid())), replyDelayMs_(settings.ReplyDelayMs),
      model_(settings.PeriodSeconds, std::time(nullptr)),
      point_(new RefreshDataPoint(this, ToGuid(ids.EventInterfaceGuid()))) {
    typeInfo->AddRef();
    *typeInfo_.Put() = typeInfo;
    faults_.ErrorReplies = settings.ErrorReplies;
    faults_.ReplyLines = settings.ReplyLines;
    faults_.DecimalSeparator = std::move(decimalSeparator);
}

SimulatorAutomationObject::~SimulatorAutomationObject() {
    point_->Orphan();
    point_->Release();
}

HRESULT STDMETHODCALLTYPE SimulatorAutomationObject::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, interfaceId_)) {
        *object = static_cast<IAutoPel*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SimulatorAutomationObject::DoCommand(BSTR command, BSTR* reply) {
    if (reply == nullptr) {
        return E_POINTER;
    }
    *reply = nullptr;
    if (replyDelayMs_ > 0) {
        Sleep(static_cast<DWORD>(replyDelayMs_)); // a hung application serves nothing meanwhile
    }
    const std::string text = command == nullptr
                                 ? std::string()
                                 : pelmbus::Utf8FromWide({command, SysStringLen(command)});
    const StationReply answer = AnswerCommand(model_, text, faults_);
    const std::wstring wide = pelmbus::WideFromUtf8(answer.Text);
    if (!answer.Ok) {
        ComRef<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(create.Put()))) {
            create->SetGUID(interfaceId_);
            create->SetSource(const_cast<LPOLESTR>(L"pelsim"));
            create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
            ComRef<IErrorInfo> info;
            if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.PutVoid()))) {
                SetErrorInfo(0, info.Get());
            }
        }
        return answer.ErrorName == "ru.pel.Error.UnknownCommand" ? E_INVALIDARG : E_FAIL;
    }
    *reply = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *reply == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT STDMETHODCALLTYPE SimulatorAutomationObject::FindConnectionPoint(REFIID riid,
                                                                         IConnectionPoint** point) {
    if (point == nullptr) {
        return E_POINTER;
    }
    IID eventId;
    point_->GetConnectionInterface(&eventId);
    if (!IsEqualIID(riid, eventId)) {
        *point = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    point_->AddRef();
    *point = point_;
    return S_OK;
}

bool SimulatorAutomationObject::RaiseRefreshData() {
    model_.Advance(std::time(nullptr));
    point_->Raise(model_.Generation());
    return true;
}

namespace {

// Every instance a client asks for is the one automation object, as the
// station's application serves it.
class SimulatorClassFactory final : public IClassFactory, Counted {
public:
    explicit SimulatorClassFactory(IUnknown* object) : object_(object) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseReference(); }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return object_->QueryInterface(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    IUnknown* object_; // not counted: the simulator outlives its class object
};

} // namespace

ComSimulator::ComSimulator(const pelmbus::LinkIdentifiers& ids, const SimulatorSettings& settings,
                           const std::string& decimalSeparator, ITypeInfo* typeInfo)
    : classId_(ToGuid(ids.ClassGuid())),
      object_(new SimulatorAutomationObject(ids, settings, decimalSeparator, typeInfo)),
      factory_(new SimulatorClassFactory(static_cast<IAutoPel*>(object_))),
      eventLimit_(settings.EventLimit) {}

ComSimulator::~ComSimulator() {
    Revoke();
    factory_->Release();
    object_->Release();
}

HRESULT ComSimulator::Publish() {
    HRESULT hr = CoRegisterClassObject(classId_, factory_, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                       &classCookie_);
    if (FAILED(hr)) {
        classCookie_ = 0;
        return hr;
    }
    hr = RegisterActiveObject(static_cast<IAutoPel*>(object_), classId_, ACTIVEOBJECT_STRONG,
                              &activeCookie_);
    if (FAILED(hr)) {
        activeCookie_ = 0;
        Revoke();
    }
    return hr;
}

void ComSimulator::Revoke() {
    if (activeCookie_ != 0) {
        RevokeActiveObject(activeCookie_, nullptr);
        activeCookie_ = 0;
    }
    if (classCookie_ != 0) {
        CoRevokeClassObject(classCookie_);
        classCookie_ = 0;
    }
    // Clients keep nothing alive once the simulator ends.
    CoDisconnectObject(static_cast<IAutoPel*>(object_), 0);
}

bool ComSimulator::RaiseRefreshData() {
    if (eventLimit_ > 0 && eventsRaised_ >= eventLimit_) {
        return false;
    }
    ++eventsRaised_;
    return object_->RaiseRefreshData();
}

} // namespace pelsim
