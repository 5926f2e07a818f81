// The look of the program: a style and a font under which every text of the
// 250 x 211 window is fully visible.
#pragma once

class QApplication;

namespace pelmbus {

void ApplyAppStyle(QApplication& app);

} // namespace pelmbus
