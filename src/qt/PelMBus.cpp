// Program start: the application titled "ModBus", its one window, the
// message loop until the window closes.
#include "AppStyle.h"
#include "FormView.h"
#include "QtFormHost.h"
#include "SignalClose.h"
#include "UPelMBus.h"

#include <QApplication>

using namespace pelmbus;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("ModBus");
    ApplyAppStyle(app);

    TQtFormHost host;
    TFPelMBus form(host);
    TFormView view(form);
    host.SetWindow(&view);
    view.OnMBusData = [&form](uintptr_t wParam, intptr_t lParam) {
        form.RunGuarded([&] { form.WMMBusData(wParam, lParam); });
    };
    view.OnClose = [&form] { form.RunGuarded([&] { form.FormClose(); }); };

    CloseOnTerminationSignals(view);
    form.RunGuarded([&] { form.FormCreate(); });
    view.show();
    return QApplication::exec();
}
