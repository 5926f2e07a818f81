// The Qt view: builds one widget per control model, shows the models' state
// in them and hands the operator's input to the models.
#include "FormView.h"

#include "ControlWidgets.h"
#include "MBusDataEvent.h"
#include "VisitControl.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace pelmbus {

namespace {

void ShowItems(QComboBox* box, const TComboBox& combo) {
    QStringList items;
    for (const std::string& item : combo.Items()) {
        items << ToQString(item);
    }
    QStringList shown;
    for (int i = 0; i < box->count(); ++i) {
        shown << box->itemText(i);
    }
    if (shown != items) {
        box->clear();
        box->addItems(items);
    }
    box->setCurrentIndex(combo.ItemIndex());
}

void ShowItems(QListWidget* list, const TListBox& listBox) {
    QStringList items;
    for (const std::string& item : listBox.Items()) {
        items << ToQString(item);
    }
    bool same = list->count() == items.size();
    for (int i = 0; same && i < list->count(); ++i) {
        same = list->item(i)->text() == items[i];
    }
    if (!same) {
        list->clear();
        list->addItems(items);
    }
    list->setCurrentRow(listBox.ItemIndex());
}

// Shows the model's state in its widget.
void Show(TControl& control, QWidget* widget) {
    if (!IsKind<TTabSheet>(control)) {
        widget->setVisible(control.Visible());
    }
    widget->setEnabled(control.Enabled());
    const QSignalBlocker blocker(widget);

    VisitControl(
        control,
        [widget](TEdit& edit) {
            auto* line = static_cast<QLineEdit*>(widget);
            if (line->text() != ToQString(edit.Text())) {
                line->setText(ToQString(edit.Text()));
            }
            line->setReadOnly(edit.ReadOnly);
        },
        [widget](TCheckBox& check) {
            static_cast<QCheckBox*>(widget)->setChecked(check.Checked());
        },
        [widget](TCheckListBox& checkList) {
            auto* list = static_cast<QListWidget*>(widget);
            for (int i = 0; i < checkList.Count() && i < list->count(); ++i) {
                list->item(i)->setCheckState(checkList.Checked(i) ? Qt::Checked : Qt::Unchecked);
            }
        },
        [widget](TComboBox& combo) { ShowItems(static_cast<QComboBox*>(widget), combo); },
        [widget](TListBox& listBox) { ShowItems(static_cast<QListWidget*>(widget), listBox); },
        [widget](TMemo&) { static_cast<TMemoWidget*>(widget)->ModelChanged(); },
        [widget](TPageControl& pages) {
            static_cast<QTabWidget*>(widget)->setCurrentIndex(pages.ActivePageIndex());
        },
        [widget](TShape&) { widget->update(); }, [](TControl&) {});
}

QWidget* MakeTabs(TPageControl& pages, QWidget* parent) {
    auto* tabs = new QTabWidget(parent);
    tabs->tabBar()->setMouseTracking(pages.HotTrack);
    tabs->tabBar()->installEventFilter(new TTabClickFilter(pages, tabs->tabBar()));
    QObject::connect(tabs, &QTabWidget::currentChanged, tabs, [&pages, tabs](int index) {
        // Keyboard changes: ask the model, then show what it decided.
        if (index != pages.ActivePageIndex()) {
            pages.UserSelectPage(index);
            const QSignalBlocker blocker(tabs);
            tabs->setCurrentIndex(pages.ActivePageIndex());
        }
    });
    return tabs;
}

QWidget* MakeEdit(TEdit& edit, QWidget* parent) {
    auto* line = new TEditWidget(edit, parent);
    line->setText(ToQString(edit.Text()));
    if (!edit.FontName.empty() || edit.FontHeight > 0) {
        QFont font = line->font();
        if (!edit.FontName.empty()) {
            font.setFamily(ToQString(edit.FontName));
        }
        if (edit.FontHeight > 0) {
            font.setPixelSize(edit.FontHeight);
        }
        line->setFont(font);
    }
    SetBold(line, edit.Bold);
    SetBackground(line, edit.Color);
    return line;
}

QWidget* MakeCheckList(TCheckListBox& checkList, QWidget* parent) {
    auto* list = new QListWidget(parent);
    // Rows as high as a line of text, so that all items show at once.
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setUniformItemSizes(true);
    // Slightly tighter letters: the longest kind then fits its row whole.
    QFont font = list->font();
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.2);
    list->setFont(font);
    const int rowHeight = list->fontMetrics().height();
    for (const std::string& text : checkList.Items()) {
        auto* item = new QListWidgetItem(ToQString(text), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        item->setSizeHint(QSize(0, rowHeight));
    }
    QObject::connect(list, &QListWidget::itemChanged, list,
                     [&checkList, list](QListWidgetItem* item) {
                         const int index = list->row(item);
                         if ((item->checkState() == Qt::Checked) != checkList.Checked(index)) {
                             checkList.UserToggle(index);
                         }
                         Show(checkList, list);
                     });
    return list;
}

QWidget* MakeListBox(TListBox& listBox, QWidget* parent) {
    auto* list = new QListWidget(parent);
    SetBold(list, listBox.Bold);
    SetBackground(list, listBox.Color);
    // Only a selection the operator makes (a click, the arrow keys) reaches
    // the model: the current row that Qt sets when the list takes the focus
    // selects nothing, so it loads no entry and leaves nothing for "delete"
    // to act on.
    QObject::connect(list, &QListWidget::itemSelectionChanged, list, [&listBox, list] {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        listBox.UserSelect(selected.isEmpty() ? -1 : list->row(selected.front()));
    });
    return list;
}

QWidget* MakeMemo(TMemo& memo, QWidget* parent) {
    auto* text = new TMemoWidget(memo, parent);
    text->setLineWrapMode(memo.WordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    const TScrollStyle bars = memo.ScrollBars;
    const bool horizontal = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssHorizontal;
    const bool vertical = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssVertical;
    text->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    text->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    SetBackground(text, memo.Color);
    QObject::connect(text, &QPlainTextEdit::textChanged, text, [&memo, text] {
        // Only the operator's typing: the model's own lines are shown with
        // the signals blocked.
        memo.UserSetText(ToStdString(text->toPlainText()));
    });
    return text;
}

QWidget* MakeSpeedButton(TSpeedButton& speed, QWidget* parent) {
    auto* tool = new QToolButton(parent);
    tool->setFocusPolicy(Qt::NoFocus);
    tool->setAutoRaise(speed.Flat);
    tool->setText(ToQString(speed.Caption()));
    tool->setToolTip(ToQString(speed.Hint));
    tool->setIcon(GlyphIcon(speed.Glyph, tool->style()));
    tool->setToolButtonStyle(speed.Caption().empty() ? Qt::ToolButtonIconOnly
                                                     : Qt::ToolButtonTextBesideIcon);
    QObject::connect(tool, &QToolButton::clicked, tool, [&speed] { speed.UserClick(); });
    return tool;
}

} // namespace

TFormView::TFormView(TForm& form, QWidget* parent) : QWidget(parent) {
    setWindowTitle(ToQString(form.Caption()));
    // Fixed border, system menu and minimise button only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    const TBounds& bounds = form.Bounds();
    setFixedSize(bounds.Width, bounds.Height);
    move(bounds.Left, bounds.Top);
    for (TControl* child : form.Children()) {
        Build(*child, this);
    }
    // Arrow keys in an up-down's edit step the up-down.
    for (const auto& [control, widget] : FWidgets) {
        VisitControl(
            *control,
            [this](const TUpDown& upDown) {
                // Every edit's widget is a TEditWidget.
                if (auto* edit = static_cast<TEditWidget*>(WidgetOf(upDown.Associate()))) {
                    edit->Buddy = const_cast<TUpDown*>(&upDown);
                }
            },
            [](const TControl&) {});
    }
}

TFormView::~TFormView() {
    for (TControl* control : FBound) {
        control->OnViewUpdate = nullptr;
    }
}

QWidget* TFormView::WidgetOf(const TControl& control) const {
    const auto found = FWidgets.find(&control);
    return found == FWidgets.end() ? nullptr : found->second;
}

void TFormView::Build(TControl& control, QWidget* parent) {
    QWidget* widget = MakeWidget(control, parent);
    if (widget == nullptr) {
        return;
    }
    FWidgets[&control] = widget;
    VisitControl(
        control,
        [this, widget](TWinControl& container) {
            for (TControl* child : container.Children()) {
                Build(*child, widget);
            }
        },
        [](TControl&) {});
    Bind(control, widget);
}

// The widget of one model, or none: a timer becomes a timer of the loop.
QWidget* TFormView::MakeWidget(TControl& control, QWidget* parent) {
    QWidget* widget = nullptr;
    // A page is placed by its tab widget; every other widget at its bounds.
    bool placedByParent = false;
    VisitControl(
        control,
        [&](TTabSheet& sheet) {
            widget = new QWidget;
            static_cast<QTabWidget*>(parent)->addTab(widget, ToQString(sheet.Caption()));
            placedByParent = true;
        },
        [&](TPageControl& pages) { widget = MakeTabs(pages, parent); },
        [&](TGroupBox& group) { widget = new QGroupBox(ToQString(group.Caption()), parent); },
        [&](TLabel& label) { widget = new QLabel(ToQString(label.Caption()), parent); },
        [&](TEdit& edit) { widget = MakeEdit(edit, parent); },
        [&](TUpDown& upDown) {
            widget = new TArrowPairWidget(
                [&upDown](TUDBtnType button) { upDown.UserClick(button); }, parent);
        },
        [&](TCheckBox& check) {
            auto* box = new QCheckBox(ToQString(check.Caption()), parent);
            connect(box, &QCheckBox::clicked, box, [&check, box] {
                check.UserClick();
                Show(check, box); // also when the model refused the click
            });
            widget = box;
        },
        [&](TCheckListBox& checkList) { widget = MakeCheckList(checkList, parent); },
        [&](TButton& button) {
            auto* push = new QPushButton(ToQString(button.Caption()), parent);
            connect(push, &QPushButton::clicked, push, [&button] { button.UserClick(); });
            widget = push;
        },
        [&](TComboBox& combo) {
            auto* box = new QComboBox(parent);
            connect(box, &QComboBox::activated, box,
                    [&combo](int index) { combo.UserSelect(index); });
            widget = box;
        },
        [&](TListBox& listBox) { widget = MakeListBox(listBox, parent); },
        [&](TMemo& memo) { widget = MakeMemo(memo, parent); },
        [&](TSpinButton& spin) {
            widget = new TArrowPairWidget([&spin](TUDBtnType button) { spin.UserClick(button); },
                                          parent);
        },
        [&](TSpeedButton& speed) { widget = MakeSpeedButton(speed, parent); },
        [&](TShape& shape) { widget = new TShapeWidget(shape, parent); },
        [&](TTimer& timer) {
            // Not shown: a timer of the loop, running while the model is
            // enabled.
            auto* loopTimer = new QTimer(this);
            loopTimer->setInterval(timer.Interval());
            connect(loopTimer, &QTimer::timeout, loopTimer, [&timer] { timer.Fire(); });
            const auto show = [&timer, loopTimer] {
                if (timer.Enabled() != loopTimer->isActive()) {
                    timer.Enabled() ? loopTimer->start() : loopTimer->stop();
                }
            };
            timer.OnViewUpdate = show;
            FBound.push_back(&timer);
            show();
        });
    if (widget != nullptr) {
        widget->setObjectName(ToQString(control.Name()));
        if (!placedByParent) {
            const TBounds& b = control.Bounds();
            widget->setGeometry(b.Left, b.Top, b.Width, b.Height);
        }
    }
    return widget;
}

void TFormView::Bind(TControl& control, QWidget* widget) {
    new TFocusWatch(control, widget);
    if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        new TFocusWatch(control, tabs->tabBar());
    }
    control.OnViewUpdate = [&control, widget] { Show(control, widget); };
    FBound.push_back(&control);
    Show(control, widget);
}

void TFormView::closeEvent(QCloseEvent* event) {
    if (OnClose) {
        OnClose();
    }
    event->accept();
}

bool TFormView::event(QEvent* event) {
    if (event->type() == TMBusDataEvent::EventType) {
        const auto* message = static_cast<TMBusDataEvent*>(event);
        if (OnMBusData) {
            OnMBusData(message->WParam, message->LParam);
        }
        return true;
    }
    return QWidget::event(event);
}

} // namespace pelmbus
