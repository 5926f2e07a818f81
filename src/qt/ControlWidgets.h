// The Qt widgets the form view builds where a plain Qt widget does not
// behave as the control: an edit whose keys pass its model, the arrow pair
// of an up-down, a memo that lays out its lines only on screen, the status
// shape, and the watches of the focus and of a click on a tab.
#pragma once

#include "Controls.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTabBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <string>

namespace pelmbus {

inline QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStdString(const QString& text) {
    return text.toUtf8().toStdString();
}

inline QColor ToQColor(TColor color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

inline void SetBackground(QWidget* widget, TColor color) {
    if (color == clDefault) {
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, ToQColor(color));
    widget->setPalette(palette);
}

inline void SetBold(QWidget* widget, bool bold) {
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

inline QIcon GlyphIcon(TGlyph glyph, const QStyle* style) {
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

} // namespace pelmbus
