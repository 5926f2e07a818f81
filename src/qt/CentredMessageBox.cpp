#include "CentredMessageBox.h"

#include <QScreen>

namespace pelmbus {

// The box has its final size only once the message box has laid itself out
// in its own show event; the window is not on the screen yet, so the move
// shows no jump.
void TCentredMessageBox::showEvent(QShowEvent* event) {
    QMessageBox::showEvent(event);
    const QWidget* owner = parentWidget();
    const QScreen* screen = owner != nullptr ? owner->screen() : this->screen();
    if (screen != nullptr) {
        QRect area = rect();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
}

} // namespace pelmbus
