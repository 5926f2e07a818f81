// Program start: the application titled "ModBus", its one window, the
// message loop until the window closes. A close by signal ends with a
// non-zero status when a file could not be stored, which is then told on
// standard error: nobody may be at the screen to close a message window.
// A second start in the same directory shows the first window and ends.
#include "AppStyle.h"
#include "EventLoopChoice.h"
#include "FormView.h"
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
    ChooseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("ModBus");
    ApplyAppStyle(app);

    const std::string directory = ExecutableDirectory();
    DirectoryClaim claim(QString::fromStdString(directory));
    if (!claim.First()) {
        const bool shown = claim.AskFirstToShowItself();
        std::cerr << "PelMBus: в каталоге " << directory << " уже работает PelMBus"
                  << (shown ? "; его окно выведено на передний план" : "") << std::endl;
        return EXIT_SUCCESS;
    }

    TQtFormHost host;
    TFPelMBus form(host);
    TFormView view(form);
    host.SetWindow(&view);
    view.OnMBusData = [&form](uintptr_t wParam, intptr_t lParam) {
        form.RunGuarded([&] { form.WMMBusData(wParam, lParam); });
    };
    view.OnClose = [&form] { form.RunGuarded([&] { form.FormClose(); }); };

    bool closedBySignal = false;
    CloseOnTerminationSignals(view, [&] {
        closedBySignal = true;
        form.QuietClose = true;
        view.close();
        // Also ends any message window's own loop that is open at the time.
        QCoreApplication::exit(form.CloseFailure.empty() ? EXIT_SUCCESS : EXIT_FAILURE);
    });
    claim.ListenForSecondStarts([&view] {
        view.setWindowState(view.windowState() & ~Qt::WindowMinimized);
        view.show();
        view.raise();
        view.activateWindow();
    });
    form.RunGuarded([&] { form.FormCreate(); });
    view.show();
    const int status = QApplication::exec();
    if (closedBySignal && !form.CloseFailure.empty()) {
        std::cerr << "PelMBus: " << form.CloseFailure << std::endl;
        return EXIT_FAILURE;
    }
    return status;
}
