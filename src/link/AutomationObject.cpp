#include "AutomationObject.h"

#include "AutomationErrors.h"

namespace pelmbus {

TAutomationObject::TAutomationObject(const LinkIdentifiers& ids,
                                     std::unique_ptr<AutomationBackend> backend)
    : ids_(ids), backend_(std::move(backend)) {
    if (!backend_) {
        throw EAutomationSystemError("Нет транспорта для связи с программой " +
                                     std::string(ids_.ProgramName));
    }
}

TAutomationObject::~TAutomationObject() {
    // A wrapper destroyed while connected leaves no subscription behind.
    Disconnect();
}

void TAutomationObject::Connect() {
    if (connected_) {
        return;
    }
    backend_->Attach(
        ids_, [this](int32_t ind) { DispatchRefreshData(ind); }, ConnectTimeoutMs);
    connected_ = true;
}

void TAutomationObject::Disconnect() {
    if (!connected_) {
        return;
    }
    connected_ = false;
    backend_->Detach();
}

std::string TAutomationObject::DoCommand(const std::string& command) {
    Connect();
    return backend_->Call(command, CallTimeoutMs);
}

void TAutomationObject::DispatchRefreshData(int32_t ind) {
    // An event without a handler, or one still queued after a disconnect,
    // is dropped.
    if (!connected_ || !OnRefreshData) {
        return;
    }
    // A copy, so that a handler which reassigns OnRefreshData stays valid.
    const TRefreshDataEvent handler = OnRefreshData;
    handler(*this, ind);
}

} // namespace pelmbus
