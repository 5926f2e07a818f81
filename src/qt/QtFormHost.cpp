#include "QtFormHost.h"

#include "CltPel_TLB.h"
#include "MBusDataEvent.h"
#include "Pel_TLB.h"
#include "SystemServices.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>

#include <chrono>

namespace pelmbus {

void TQtFormHost::PostMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == WM_MBUSDATA && FWindow != nullptr) {
        QCoreApplication::postEvent(FWindow, new TMBusDataEvent(wParam, lParam));
    }
}

// Modal, one OK button, the application title as caption.
void TQtFormHost::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, "ModBus", QString::fromStdString(text), QMessageBox::Ok,
                    FWindow);
    box.exec();
}

void TQtFormHost::ShowError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, "ModBus", QString::fromStdString(text), QMessageBox::Ok,
                    FWindow);
    box.exec();
}

uint32_t TQtFormHost::TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string TQtFormHost::ExecutableDirectory() {
    return pelmbus::ExecutableDirectory();
}

TFormatSettings TQtFormHost::FormatSettings() {
    return UserFormatSettings();
}

// Safe to call from any thread. The loop is asked for one drain per batch;
// a drain that finds the queue emptied by a link's wait does nothing.
void TQtFormHost::PostToMainThread(std::function<void()> work) {
    if (FHandOvers.Post(std::move(work))) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { FHandOvers.RunPending(); },
            Qt::QueuedConnection);
    }
}

std::unique_ptr<MeteringLink> TQtFormHost::CreateAutoPel() {
    return std::make_unique<TAutoPel>(MakeAutomationBackend(&FHandOvers));
}

std::unique_ptr<MeteringLink> TQtFormHost::CreateAutoCltPel() {
    return std::make_unique<TAutoCltPel>(MakeAutomationBackend(&FHandOvers));
}

} // namespace pelmbus
