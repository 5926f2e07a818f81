// A message window centred on the screen, not over its owner window: the
// main window is small, and a box over it would cover it and hide little.
#pragma once

#include <QMessageBox>

namespace pelmbus {

class TCentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace pelmbus
