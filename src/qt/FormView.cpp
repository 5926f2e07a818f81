#include "FormView.h"

#include "MBusDataEvent.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>

namespace pelmbus {

namespace {

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text) {
    return text.toUtf8().toStdString();
}

QColor ToQColor(TColor color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

void SetBackground(QWidget* widget, TColor color) {
    if (color == clDefault) {
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, ToQColor(color));
    widget->setPalette(palette);
}

void SetBold(QWidget* widget, bool bold) {
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}

// An edit: each typed character passes the model's key handler first, and
// the arrow keys step the up-down bound to it.
class TEditWidget : public QLineEdit {
public:
    TEditWidget(TEdit& model, QWidget* parent) : QLineEdit(parent), FModel(model) {
        connect(this, &QLineEdit::textEdited, this,
                [this](const QString& text) { FModel.UserSetText(ToStdString(text)); });
    }
    TUpDown* Buddy = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (Buddy != nullptr && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
            Buddy->UserClick(event->key() == Qt::Key_Up ? TUDBtnType::btNext : TUDBtnType::btPrev);
            return;
        }
        const QByteArray typed = event->text().toUtf8();
        if (!typed.isEmpty()) {
            const char key = typed[0];
            const char result = FModel.UserKeyPress(key);
            if (result == '\0') {
                return; // discarded
            }
            if (result != key) {
                if (!isReadOnly()) {
                    insert(QString(QChar(static_cast<uchar>(result))));
                    FModel.UserSetText(ToStdString(text()));
                }
                return;
            }
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    TEdit& FModel;
};

// Two arrow buttons stacked, as the window system's up-down control (with a
// buddy edit) and spin button (without one); neither takes the focus.
class TArrowPairWidget : public QWidget {
public:
    TArrowPairWidget(std::function<void(TUDBtnType)> click, QWidget* parent) : QWidget(parent) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        for (const TUDBtnType button : {TUDBtnType::btNext, TUDBtnType::btPrev}) {
            auto* arrow = new QToolButton(this);
            arrow->setArrowType(button == TUDBtnType::btNext ? Qt::UpArrow : Qt::DownArrow);
            arrow->setAutoRepeat(true);
            arrow->setFocusPolicy(Qt::NoFocus);
            arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
            arrow->setObjectName(button == TUDBtnType::btNext ? "up" : "down");
            layout->addWidget(arrow);
            connect(arrow, &QToolButton::clicked, this, [click, button] { click(button); });
        }
    }
};

QIcon GlyphIcon(TGlyph glyph, const QStyle* style) {
    switch (glyph) {
    case TGlyph::Apply:
        return style->standardIcon(QStyle::SP_DialogApplyButton);
    case TGlyph::Delete:
        return style->standardIcon(QStyle::SP_DialogDiscardButton);
    case TGlyph::None:
        break;
    }
    return {};
}

// Tells a model that the operator put the input focus into its widget.
class TFocusWatch : public QObject {
public:
    TFocusWatch(TControl& control, QWidget* widget) : QObject(widget), FControl(control) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            FControl.UserFocus();
        }
        return false;
    }

private:
    TControl& FControl;
};

// A memo whose lines are laid out only while it is on screen: a memo on a
// hidden tab takes its model's latest lines when it is shown again, so the
// exchange monitor costs nothing per frame while another tab is active. On
// screen the text follows its model a moment later, once the request that
// changed it has been answered: laying out and painting a frame's line
// takes the main thread a quarter of a millisecond, which the line's serial
// traffic would otherwise wait for.
class TMemoWidget : public QPlainTextEdit {
public:
    // Longer than the longest response delay, shorter than the cycle pause
    // that follows every response.
    static constexpr int RefreshDelayMs = 250;

    TMemoWidget(TMemo& model, QWidget* parent) : QPlainTextEdit(parent), FModel(model) {
        FRefresh.setSingleShot(true);
        FRefresh.setInterval(RefreshDelayMs);
        connect(&FRefresh, &QTimer::timeout, this, [this] { ShowLines(); });
    }

    // The model changed: its lines show when the memo is next on screen, or
    // shortly when it is on screen now.
    void ModelChanged() {
        setReadOnly(FModel.ReadOnly);
        if (!isVisible()) {
            FStale = true;
        } else if (!FRefresh.isActive() && toPlainText() != ModelText()) {
            FRefresh.start();
        }
    }

protected:
    void showEvent(QShowEvent* event) override {
        if (FStale) {
            ShowLines();
        }
        QPlainTextEdit::showEvent(event);
    }

private:
    QString ModelText() const {
        QStringList lines;
        for (const std::string& line : FModel.Lines()) {
            lines << ToQString(line);
        }
        return lines.join('\n');
    }

    void ShowLines() {
        FStale = false;
        FRefresh.stop();
        const QString text = toPlainText();
        const QString wanted = ModelText();
        if (text == wanted) {
            return;
        }
        const QSignalBlocker blocker(this);
        if (!ShiftLines(text.isEmpty() ? QStringList() : text.split('\n'),
                        wanted.isEmpty() && FModel.Lines().empty() ? QStringList()
                                                                   : wanted.split('\n'))) {
            setPlainText(wanted);
        }
    }

    // The usual update drops the oldest lines and adds new ones at the end:
    // only those are laid out, not the whole text again. False when the new
    // lines do not continue the shown ones.
    bool ShiftLines(const QStringList& shown, const QStringList& lines) {
        qsizetype dropped = 0;
        while (dropped <= shown.size() &&
               (shown.size() - dropped > lines.size() ||
                shown.mid(dropped) != lines.first(shown.size() - dropped))) {
            ++dropped;
        }
        if (dropped > shown.size() || (dropped == shown.size() && !shown.isEmpty())) {
            return false;
        }
        QTextCursor cursor(document());
        if (dropped > 0) {
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                                static_cast<int>(dropped));
            cursor.removeSelectedText();
        }
        cursor.movePosition(QTextCursor::End);
        for (qsizetype i = shown.size() - dropped; i < lines.size(); ++i) {
            if (i > 0) {
                cursor.insertBlock();
            }
            cursor.insertText(lines[i]);
        }
        return true;
    }

    TMemo& FModel;
    bool FStale = false;
    QTimer FRefresh;
};

class TShapeWidget : public QWidget {
public:
    TShapeWidget(TShape& model, QWidget* parent) : QWidget(parent), FModel(model) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::black);
        painter.setBrush(ToQColor(FModel.BrushColor()));
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(area, width() / 4.0, height() / 4.0);
    }

private:
    TShape& FModel;
};

// Asks the model before a tab chosen with the mouse becomes active.
class TTabClickFilter : public QObject {
public:
    TTabClickFilter(TPageControl& model, QTabBar* bar) : QObject(bar), FModel(model), FBar(bar) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonPress) {
            return false;
        }
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const int index = FBar->tabAt(mouse->position().toPoint());
        if (mouse->button() != Qt::LeftButton || index < 0 || index == FModel.ActivePageIndex()) {
            return false;
        }
        FModel.UserSelectPage(index);
        return true;
    }

private:
    TPageControl& FModel;
    QTabBar* FBar;
};

// Shows the model's state in its widget.
void Show(TControl& control, QWidget* widget) {
    if (dynamic_cast<TTabSheet*>(&control) == nullptr) {
        widget->setVisible(control.Visible());
    }
    widget->setEnabled(control.Enabled());
    const QSignalBlocker blocker(widget);

    if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        auto* line = static_cast<QLineEdit*>(widget);
        if (line->text() != ToQString(edit->Text())) {
            line->setText(ToQString(edit->Text()));
        }
        line->setReadOnly(edit->ReadOnly);
    } else if (auto* check = dynamic_cast<TCheckBox*>(&control)) {
        static_cast<QCheckBox*>(widget)->setChecked(check->Checked());
    } else if (auto* checkList = dynamic_cast<TCheckListBox*>(&control)) {
        auto* list = static_cast<QListWidget*>(widget);
        for (int i = 0; i < checkList->Count() && i < list->count(); ++i) {
            list->item(i)->setCheckState(checkList->Checked(i) ? Qt::Checked : Qt::Unchecked);
        }
    } else if (auto* combo = dynamic_cast<TComboBox*>(&control)) {
        auto* box = static_cast<QComboBox*>(widget);
        QStringList items;
        for (const std::string& item : combo->Items()) {
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
        box->setCurrentIndex(combo->ItemIndex());
    } else if (auto* listBox = dynamic_cast<TListBox*>(&control)) {
        auto* list = static_cast<QListWidget*>(widget);
        QStringList items;
        for (const std::string& item : listBox->Items()) {
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
        list->setCurrentRow(listBox->ItemIndex());
    } else if (dynamic_cast<TMemo*>(&control) != nullptr) {
        static_cast<TMemoWidget*>(widget)->ModelChanged();
    } else if (auto* pages = dynamic_cast<TPageControl*>(&control)) {
        static_cast<QTabWidget*>(widget)->setCurrentIndex(pages->ActivePageIndex());
    } else if (dynamic_cast<TShape*>(&control) != nullptr) {
        widget->update();
    }
}

} // namespace

TFormView::TFormView(TForm& form, QWidget* parent) : QWidget(parent), FForm(form) {
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
        if (const auto* upDown = dynamic_cast<const TUpDown*>(control)) {
            if (auto* edit = dynamic_cast<TEditWidget*>(WidgetOf(upDown->Associate()))) {
                edit->Buddy = const_cast<TUpDown*>(upDown);
            }
        }
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
    if (auto* container = dynamic_cast<TWinControl*>(&control)) {
        for (TControl* child : container->Children()) {
            Build(*child, widget);
        }
    }
    Bind(control, widget);
}

QWidget* TFormView::MakeWidget(TControl& control, QWidget* parent) {
    const TBounds& b = control.Bounds();
    QWidget* widget = nullptr;

    if (auto* sheet = dynamic_cast<TTabSheet*>(&control)) {
        // A page of its parent's tab widget, which places it.
        auto* tabs = static_cast<QTabWidget*>(parent);
        widget = new QWidget;
        tabs->addTab(widget, ToQString(sheet->Caption()));
        widget->setObjectName(ToQString(control.Name()));
        return widget;
    }
    if (auto* pages = dynamic_cast<TPageControl*>(&control)) {
        auto* tabs = new QTabWidget(parent);
        tabs->tabBar()->setMouseTracking(pages->HotTrack);
        tabs->tabBar()->installEventFilter(new TTabClickFilter(*pages, tabs->tabBar()));
        connect(tabs, &QTabWidget::currentChanged, tabs, [pages, tabs](int index) {
            // Keyboard changes: ask the model, then show what it decided.
            if (index != pages->ActivePageIndex()) {
                pages->UserSelectPage(index);
                const QSignalBlocker blocker(tabs);
                tabs->setCurrentIndex(pages->ActivePageIndex());
            }
        });
        widget = tabs;
    } else if (auto* group = dynamic_cast<TGroupBox*>(&control)) {
        widget = new QGroupBox(ToQString(group->Caption()), parent);
    } else if (auto* label = dynamic_cast<TLabel*>(&control)) {
        widget = new QLabel(ToQString(label->Caption()), parent);
    } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        auto* line = new TEditWidget(*edit, parent);
        line->setText(ToQString(edit->Text()));
        if (!edit->FontName.empty() || edit->FontHeight > 0) {
            QFont font = line->font();
            if (!edit->FontName.empty()) {
                font.setFamily(ToQString(edit->FontName));
            }
            if (edit->FontHeight > 0) {
                font.setPixelSize(edit->FontHeight);
            }
            line->setFont(font);
        }
        SetBold(line, edit->Bold);
        SetBackground(line, edit->Color);
        widget = line;
    } else if (auto* upDown = dynamic_cast<TUpDown*>(&control)) {
        widget = new TArrowPairWidget([upDown](TUDBtnType button) { upDown->UserClick(button); },
                                      parent);
    } else if (auto* check = dynamic_cast<TCheckBox*>(&control)) {
        auto* box = new QCheckBox(ToQString(check->Caption()), parent);
        connect(box, &QCheckBox::clicked, box, [check, box] {
            check->UserClick();
            Show(*check, box); // also when the model refused the click
        });
        widget = box;
    } else if (auto* checkList = dynamic_cast<TCheckListBox*>(&control)) {
        auto* list = new QListWidget(parent);
        // Rows as high as a line of text, so that all items show at once.
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setUniformItemSizes(true);
        // Slightly tighter letters: the longest kind then fits its row whole.
        QFont font = list->font();
        font.setLetterSpacing(QFont::AbsoluteSpacing, -0.2);
        list->setFont(font);
        const int rowHeight = list->fontMetrics().height();
        for (const std::string& text : checkList->Items()) {
            auto* item = new QListWidgetItem(ToQString(text), list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
            item->setSizeHint(QSize(0, rowHeight));
        }
        connect(list, &QListWidget::itemChanged, list, [checkList, list](QListWidgetItem* item) {
            const int index = list->row(item);
            if ((item->checkState() == Qt::Checked) != checkList->Checked(index)) {
                checkList->UserToggle(index);
            }
            Show(*checkList, list);
        });
        widget = list;
    } else if (auto* button = dynamic_cast<TButton*>(&control)) {
        auto* push = new QPushButton(ToQString(button->Caption()), parent);
        connect(push, &QPushButton::clicked, push, [button] { button->UserClick(); });
        widget = push;
    } else if (auto* combo = dynamic_cast<TComboBox*>(&control)) {
        auto* box = new QComboBox(parent);
        connect(box, &QComboBox::activated, box, [combo](int index) { combo->UserSelect(index); });
        widget = box;
    } else if (auto* listBox = dynamic_cast<TListBox*>(&control)) {
        auto* list = new QListWidget(parent);
        SetBold(list, listBox->Bold);
        SetBackground(list, listBox->Color);
        // Only a selection the operator makes (a click, the arrow keys)
        // reaches the model: the current row that Qt sets when the list
        // takes the focus selects nothing, so it loads no entry and leaves
        // nothing for "delete" to act on.
        connect(list, &QListWidget::itemSelectionChanged, list, [listBox, list] {
            const QList<QListWidgetItem*> selected = list->selectedItems();
            listBox->UserSelect(selected.isEmpty() ? -1 : list->row(selected.front()));
        });
        widget = list;
    } else if (auto* memo = dynamic_cast<TMemo*>(&control)) {
        auto* text = new TMemoWidget(*memo, parent);
        text->setLineWrapMode(memo->WordWrap ? QPlainTextEdit::WidgetWidth
                                             : QPlainTextEdit::NoWrap);
        const TScrollStyle bars = memo->ScrollBars;
        const bool horizontal = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssHorizontal;
        const bool vertical = bars == TScrollStyle::ssBoth || bars == TScrollStyle::ssVertical;
        text->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn
                                                      : Qt::ScrollBarAlwaysOff);
        text->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        SetBackground(text, memo->Color);
        connect(text, &QPlainTextEdit::textChanged, text, [memo, text] {
            // Only the operator's typing: the model's own lines are shown
            // with the signals blocked.
            memo->UserSetText(ToStdString(text->toPlainText()));
        });
        widget = text;
    } else if (auto* spin = dynamic_cast<TSpinButton*>(&control)) {
        widget =
            new TArrowPairWidget([spin](TUDBtnType button) { spin->UserClick(button); }, parent);
    } else if (auto* speed = dynamic_cast<TSpeedButton*>(&control)) {
        auto* tool = new QToolButton(parent);
        tool->setFocusPolicy(Qt::NoFocus);
        tool->setAutoRaise(speed->Flat);
        tool->setText(ToQString(speed->Caption()));
        tool->setToolTip(ToQString(speed->Hint));
        tool->setIcon(GlyphIcon(speed->Glyph, tool->style()));
        tool->setToolButtonStyle(speed->Caption().empty() ? Qt::ToolButtonIconOnly
                                                          : Qt::ToolButtonTextBesideIcon);
        connect(tool, &QToolButton::clicked, tool, [speed] { speed->UserClick(); });
        widget = tool;
    } else if (auto* shape = dynamic_cast<TShape*>(&control)) {
        widget = new TShapeWidget(*shape, parent);
    } else if (auto* timer = dynamic_cast<TTimer*>(&control)) {
        // Not shown: a timer of the loop, running while the model is enabled.
        auto* loopTimer = new QTimer(this);
        loopTimer->setInterval(timer->Interval());
        connect(loopTimer, &QTimer::timeout, loopTimer, [timer] { timer->Fire(); });
        const auto show = [timer, loopTimer] {
            if (timer->Enabled() != loopTimer->isActive()) {
                timer->Enabled() ? loopTimer->start() : loopTimer->stop();
            }
        };
        timer->OnViewUpdate = show;
        FBound.push_back(timer);
        show();
        return nullptr;
    } else {
        return nullptr;
    }
    widget->setObjectName(ToQString(control.Name()));
    widget->setGeometry(b.Left, b.Top, b.Width, b.Height);
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
