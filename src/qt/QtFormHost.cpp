#include "QtFormHost.h"

#include "CentredMessageBox.h"
#include "CltPel_TLB.h"
#include "MBusDataEvent.h"
#include "Pel_TLB.h"
#include "SystemServices.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QWidget>

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <iostream>

namespace pelmbus {

TQtFormHost::TQtFormHost() {
    FWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWakeFd >= 0) {
        FWakeNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
        QObject::connect(FWakeNotifier.get(), &QSocketNotifier::activated,
                         [this] { RunHandOvers(); });
    }
}

TQtFormHost::~TQtFormHost() {
    FWakeNotifier.reset();
    if (FWakeFd >= 0) {
        close(FWakeFd);
    }
}

void TQtFormHost::PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == WM_MBUSDATA && FWindow != nullptr) {
        QCoreApplication::postEvent(FWindow, new TMBusDataEvent(wParam, lParam));
    }
}

// Modal, one OK button, the application title as caption, centred on the
// screen.
void TQtFormHost::ShowBox(QMessageBox::Icon icon, const std::string& text) {
    if (FMessagesEnded) {
        std::cerr << "PelMBus: " << text << std::endl;
        return;
    }
    TCentredMessageBox box(icon, "ModBus", QString::fromStdString(text), QMessageBox::Ok, FWindow);
    FOpenBoxes.push_back(&box);
    box.exec();
    FOpenBoxes.pop_back();
    if (FOpenBoxes.empty() && FAfterMessages) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(FAfterMessages),
                                  Qt::QueuedConnection);
        FAfterMessages = nullptr;
    }
}

void TQtFormHost::ShowMessage(const std::string& text) {
    ShowBox(QMessageBox::NoIcon, text);
}

void TQtFormHost::ShowError(const std::string& text) {
    ShowBox(QMessageBox::Critical, text);
}

void TQtFormHost::EndMessages(std::function<void()> then) {
    FMessagesEnded = true;
    if (FOpenBoxes.empty()) {
        then();
        return;
    }
    FAfterMessages = std::move(then);
    for (QMessageBox* box : FOpenBoxes) {
        box->done(QMessageBox::Ok);
    }
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
    if (!FHandOvers.Post(std::move(work))) {
        return;
    }
    if (FWakeFd >= 0) {
        const uint64_t one = 1;
        // A full counter still wakes the loop; nothing is lost.
        (void)!write(FWakeFd, &one, sizeof one);
    } else {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { FHandOvers.RunPending(); },
            Qt::QueuedConnection);
    }
}

void TQtFormHost::RunHandOvers() {
    uint64_t count = 0;
    (void)!read(FWakeFd, &count, sizeof count);
    FHandOvers.RunPending();
}

std::unique_ptr<MeteringLink> TQtFormHost::CreateAutoPel() {
    return std::make_unique<TAutoPel>(MakeAutomationBackend(&FHandOvers));
}

std::unique_ptr<MeteringLink> TQtFormHost::CreateAutoCltPel() {
    return std::make_unique<TAutoCltPel>(MakeAutomationBackend(&FHandOvers));
}

} // namespace pelmbus
