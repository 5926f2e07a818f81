// Program start: the application titled "ModBus", its one window, the
// message loop until the window closes. A close by signal ends with a
// non-zero status when a file could not be stored, which is then told on
// standard error: nobody may be at the screen to close a message window.
// A second start in the same directory shows the first window and ends.
#include "AppStyle.h"
#include "FormView.h"
#include "Journal.h"
#include "OneProgramPerDirectory.h"
#include "QtFormHost.h"
#include "SignalClose.h"
#include "SystemServices.h"
#include "UPelMBus.h"

#include <QApplication>

#include <cstdlib>
#include <iostream>

using namespace pelmbus;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("ModBus");
    ApplyAppStyle(app);

    const std::string directory = ExecutableDirectory();
    TDirectoryClaim claim(QString::fromStdString(directory));
    if (!claim.First()) {
        const bool shown = claim.AskFirstToShowItself();
        std::cerr << "PelMBus: в каталоге " << directory << " уже работает PelMBus"
                  << (shown ? "; его окно выведено на передний план" : "") << std::endl;
        return EXIT_SUCCESS;
    }

    TQtFormHost host;
    TJournal journal(host.ExecutableDirectory() + TJournal::FileName);
    TFPelMBus form(host);
    form.Journal.Sink = &journal;
    TFormView view(form);
    host.SetWindow(&view);
    view.OnMBusData = [&form](uintptr_t wParam, intptr_t lParam) {
        form.RunGuarded([&] { form.WMMBusData(wParam, lParam); });
    };
    view.OnClose = [&form] { form.RunGuarded([&] { form.FormClose(); }); };

    // A signal closes as the close button does, but never inside a message
    // window's loop: the windows end first and the close runs once, from the
    // main loop, or after start-up when the signal came during it.
    bool closeRequested = false;
    bool closedBySignal = false;
    const auto closeBySignal = [&] {
        if (closedBySignal) {
            return;
        }
        closedBySignal = true;
        form.QuietClose = true;
        form.Journal.CloseCause = TCloseCause::Signal;
        view.close();
        QCoreApplication::exit(form.CloseFailure.empty() ? EXIT_SUCCESS : EXIT_FAILURE);
    };
    CloseOnTerminationSignals(view, [&] {
        closeRequested = true;
        host.EndMessages(closeBySignal);
    });
    claim.ListenForSecondStarts([&view] {
        view.setWindowState(view.windowState() & ~Qt::WindowMinimized);
        view.show();
        view.raise();
        view.activateWindow();
    });
    form.RunGuarded([&] { form.FormCreate(); });
    int status = EXIT_SUCCESS;
    if (closeRequested) {
        closeBySignal(); // the window is never shown
    } else {
        view.show();
        status = QApplication::exec();
    }
    if (closedBySignal && !form.CloseFailure.empty()) {
        std::cerr << "PelMBus: " << form.CloseFailure << std::endl;
        return EXIT_FAILURE;
    }
    return status;
}
