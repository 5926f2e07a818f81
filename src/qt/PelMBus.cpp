// Program start: the application titled "ModBus", its one window, the
// message loop until the window closes. A close by signal ends with a
// non-zero status when a file could not be stored, which is then told on
// standard error: nobody may be at the screen to close a message window.
#include "AppStyle.h"
#include "EventLoopChoice.h"
#include "FormView.h"
#include "Journal.h"
#include "QtFormHost.h"
#include "SignalClose.h"
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

    bool closedBySignal = false;
    CloseOnTerminationSignals(view, [&] {
        closedBySignal = true;
        form.QuietClose = true;
        form.Journal.CloseCause = TCloseCause::Signal;
        view.close();
        // Also ends any message window's own loop that is open at the time.
        QCoreApplication::exit(form.CloseFailure.empty() ? EXIT_SUCCESS : EXIT_FAILURE);
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
