// The Qt view of a form model: builds one widget per control model, shows
// the model's state and hands the operator's input to the model. It holds no
// behaviour of its own.
#pragma once

#include "Controls.h"

#include <QWidget>

#include <functional>
#include <map>

class QEvent;

namespace pelmbus {

class TFormView : public QWidget {
public:
    explicit TFormView(TForm& form, QWidget* parent = nullptr);
    ~TFormView() override;

    // The widget built for a control model (nullptr for none).
    QWidget* WidgetOf(const TControl& control) const;

    // Run when the window is asked to close, before it closes.
    std::function<void()> OnClose;
    // Run for every WM_MBUSDATA event that the loop delivers.
    std::function<void(uintptr_t wParam, intptr_t lParam)> OnMBusData;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void Build(TControl& control, QWidget* parent);
    QWidget* MakeWidget(TControl& control, QWidget* parent);
    void Bind(TControl& control, QWidget* widget);

    std::map<const TControl*, QWidget*> FWidgets;
    std::vector<TControl*> FBound;
};

} // namespace pelmbus
