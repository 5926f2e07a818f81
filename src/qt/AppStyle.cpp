#include "AppStyle.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

namespace pelmbus {

// The window was laid out for a small sans-serif face of 11 pixels, the
// height of the classic 8-point dialog font. Liberation Sans (Arial's
// metrics, with Cyrillic) keeps the four tab captions and every label inside
// 250 x 211; the default face and tab padding would need about 334 pixels
// for the tabs alone. Pixel sizes keep the layout independent of the
// screen's dots per inch.
void ApplyAppStyle(QApplication& app) {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QFont font("Liberation Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    QApplication::setFont(font);
    app.setStyleSheet("QTabBar::tab { padding: 3px 6px; }");
}

} // namespace pelmbus
