// The Qt view on the offscreen platform: widgets show what the models hold,
// the operator's input reaches the handlers, every text fits the window, and
// WM_MBUSDATA travels through the Qt loop.
#include "FormView.h"
#include "AppStyle.h"
#include "IdleMeteringLink.h"
#include "QtFormHost.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <thread>

using namespace pelmbus;
using namespace pelmbus::testsupport;

namespace {

// The Qt host with its message windows recorded instead of shown.
class RecordingHost : public TQtFormHost {
public:
    std::unique_ptr<MeteringLink> CreateAutoPel() override {
        return std::make_unique<IdleMeteringLink>();
    }
    std::unique_ptr<MeteringLink> CreateAutoCltPel() override {
        return std::make_unique<IdleMeteringLink>();
    }
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    void ShowError(const std::string& text) override { Errors.push_back(text); }
    std::string ExecutableDirectory() override { return Directory; }
    std::vector<std::string> Messages;
    std::vector<std::string> Errors;
    std::string Directory;
};

class FormView : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pelmbus-view-XXXXXX").string();
        Host.Directory = std::string(mkdtemp(pattern.data())) + "/";
        ASSERT_TRUE(WriteTextLines(Host.Directory + "CfgMBus.txt",
                                   {"Настройка_COM_порта=/nonexistent/tty:9600,N,8,2",
                                    "Номер_slave_устройства=1", "Уставка_усреднения=6"}));
        Form = std::make_unique<TFPelMBus>(Host);
        View = std::make_unique<TFormView>(*Form);
        Host.SetWindow(View.get());
        Form->FormCreate();
        View->show();
    }
    void TearDown() override {
        View->close(); // runs no handler here: OnClose is not set
        Form->FormClose();
        View.reset();
        Form.reset();
        std::filesystem::remove_all(Host.Directory);
    }
    template <class W> W* Widget(const TControl& control) {
        auto* widget = qobject_cast<W*>(View->WidgetOf(control));
        EXPECT_NE(widget, nullptr) << control.Name();
        return widget;
    }

    RecordingHost Host;
    std::unique_ptr<TFPelMBus> Form;
    std::unique_ptr<TFormView> View;
};

} // namespace

TEST_F(FormView, WidgetsShowWhatTheModelsHold) {
    EXPECT_EQ(View->windowTitle(), "Модуль ModBus v2.20");
    EXPECT_EQ(View->size(), QSize(250, 211));
    EXPECT_EQ(View->minimumSize(), View->maximumSize());
    EXPECT_FALSE(View->windowFlags() & Qt::WindowMaximizeButtonHint);

    auto* tabs = Widget<QTabWidget>(Form->PageControl1);
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->tabText(0), "Настройка");
    EXPECT_EQ(tabs->tabText(2), "Ручн. ввод");
    EXPECT_EQ(Widget<QLineEdit>(Form->Edit10)->text(), "/nonexistent/tty:9600,N,8,2");
    EXPECT_TRUE(Widget<QLineEdit>(Form->Edit10)->font().bold());
    EXPECT_EQ(Widget<QLineEdit>(Form->Edit2)->text(), "10"); // missing from the file
    EXPECT_TRUE(Widget<QLineEdit>(Form->Edit2)->isReadOnly());
    EXPECT_FALSE(Widget<QPushButton>(Form->Button6)->isEnabled());

    auto* list = Widget<QListWidget>(Form->CheckListBox1);
    EXPECT_TRUE(list->isHidden());
    ASSERT_EQ(list->count(), 9);
    EXPECT_EQ(list->item(4)->text(), "Данные c начала текущей смены");
    EXPECT_EQ(list->item(8)->checkState(), Qt::Checked);
    EXPECT_EQ(list->geometry(), QRect(8, 30, 224, 124));
}

TEST_F(FormView, OperatorInputReachesTheHandlers) {
    auto* edit10 = Widget<QLineEdit>(Form->Edit10);
    QTest::keyClick(edit10, Qt::Key_X);
    EXPECT_EQ(edit10->text(), "/nonexistent/tty:9600,N,8,2x");
    EXPECT_EQ(Form->Edit10.Text(), "/nonexistent/tty:9600,N,8,2x");
    EXPECT_TRUE(Widget<QPushButton>(Form->Button6)->isEnabled());
    EXPECT_FALSE(Form->Timer1.Enabled());

    // The up-down's arrow and the arrow key in its edit.
    auto* up = View->WidgetOf(Form->UpDown1)->findChild<QToolButton*>("up");
    ASSERT_NE(up, nullptr);
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(Widget<QLineEdit>(Form->Edit1)->text(), "2");
    EXPECT_EQ(Form->InOutPort1->SlaveNomer, 2);
    QTest::keyClick(Widget<QLineEdit>(Form->Edit1), Qt::Key_Up);
    EXPECT_EQ(Form->InOutPort1->SlaveNomer, 3);
    QTest::keyClick(Widget<QLineEdit>(Form->Edit1), Qt::Key_5); // read-only
    EXPECT_EQ(Form->Edit1.Text(), "3");

    QTest::mouseClick(Widget<QCheckBox>(Form->CheckBox1), Qt::LeftButton);
    EXPECT_TRUE(Form->InOutPort1->DataFlags[9]);

    // Selection mode: the list shows, a tick reaches the model, a tab click
    // is refused with the guard's message.
    QTest::mouseClick(Widget<QPushButton>(Form->Button1), Qt::LeftButton);
    auto* list = Widget<QListWidget>(Form->CheckListBox1);
    EXPECT_TRUE(list->isVisible());
    EXPECT_FALSE(Widget<QGroupBox>(Form->GroupBox1)->isEnabled());
    list->item(2)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(Form->CheckListBox1.Checked(2));

    auto* tabs = Widget<QTabWidget>(Form->PageControl1);
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(Host.Messages, std::vector<std::string>{"Вы не зафиксировали выбранные параметры"});

    QTest::mouseClick(Widget<QPushButton>(Form->Button7), Qt::LeftButton);
    EXPECT_FALSE(Form->InOutPort1->DataFlags[2]);
    EXPECT_TRUE(list->isHidden());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(Form->PageControl1.ActivePageIndex(), 1);
}

TEST_F(FormView, EveryTextFitsItsControlAndTheTabsFitTheWindow) {
    auto* tabs = Widget<QTabWidget>(Form->PageControl1);
    EXPECT_LE(tabs->tabBar()->sizeHint().width(), tabs->width() - 4);
    for (const QLabel* label : View->findChildren<QLabel*>()) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text().trimmed()), label->width())
            << label->text().toStdString();
    }
    for (const QPushButton* button : View->findChildren<QPushButton*>()) {
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()) + 8, button->width())
            << button->text().toStdString();
    }
    for (const QCheckBox* box : View->findChildren<QCheckBox*>()) {
        EXPECT_LE(box->sizeHint().width(), box->width()) << box->text().toStdString();
    }
    for (const QGroupBox* group : View->findChildren<QGroupBox*>()) {
        EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()) + 16, group->width())
            << group->title().toStdString();
        // Every control lies inside its group.
        for (const QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(group->rect().contains(child->geometry()))
                << child->objectName().toStdString();
        }
    }
    // The nine data kinds show whole, without scrolling.
    auto* list = Widget<QListWidget>(Form->CheckListBox1);
    Form->Button1.UserClick();
    const QRect last = list->visualItemRect(list->item(list->count() - 1));
    EXPECT_LE(last.bottom(), list->viewport()->height());
    for (int i = 0; i < list->count(); ++i) {
        EXPECT_LE(list->fontMetrics().horizontalAdvance(list->item(i)->text()) + 24,
                  list->viewport()->width())
            << list->item(i)->text().toStdString();
    }
    // The widest values the up-down edits can hold.
    Form->UpDown2.SetPosition(1000);
    Form->UpDown3.SetPosition(300);
    Form->UpDown4.SetPosition(300);
    Form->UpDown1.SetPosition(247);
    for (const QLineEdit* edit : View->findChildren<QLineEdit*>()) {
        EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->text()) + 6, edit->width())
            << edit->objectName().toStdString();
    }
}

TEST_F(FormView, PostedMessageIsDeliveredLaterByTheLoop) {
    std::vector<uintptr_t> delivered;
    View->OnMBusData = [&](uintptr_t wParam, intptr_t lParam) {
        EXPECT_EQ(lParam, 0);
        delivered.push_back(wParam);
    };
    Host.PostWindowMessage(WM_MBUSDATA, MBusDataRefresh, 0);
    Host.PostWindowMessage(WM_MBUSDATA, MBusDataPriem, 0);
    EXPECT_TRUE(delivered.empty()); // posted, never sent
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, (std::vector<uintptr_t>{MBusDataRefresh, MBusDataPriem}));
}

// The receive thread's hand-overs wake the loop from another thread: each
// runs on the main thread, in the order posted, also one posted while the
// loop is running the one before it.
TEST_F(FormView, HandOversFromAnotherThreadRunOnTheMainThreadInOrder) {
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<int> ran;
    std::atomic<int> done{0};
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i) {
            Host.PostToMainThread([&, i] {
                EXPECT_EQ(std::this_thread::get_id(), mainThread);
                ran.push_back(i);
                ++done;
            });
            // Every other one waits for the last to run, as the receive thread does.
            while (i % 2 == 1 && done.load() <= i && std::chrono::steady_clock::now() < giveUp) {
                std::this_thread::yield();
            }
        }
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load() == 50; }, 5000));
    poster.join();
    std::vector<int> expected(50);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
}

// A message window stands in the middle of the screen, not over the small
// main window at its design place.
TEST_F(FormView, MessageWindowIsCentredOnTheScreen) {
    QRect shown;
    QTimer::singleShot(0, [&shown] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            shown = box->frameGeometry();
            box->accept();
        }
    });
    Host.TQtFormHost::ShowMessage("Ни один из видов данных не выбран");
    ASSERT_TRUE(shown.isValid());
    const QPoint screenCentre = View->screen()->availableGeometry().center();
    ASSERT_GT((View->frameGeometry().center() - screenCentre).manhattanLength(), 20);
    EXPECT_LE((shown.center() - screenCentre).manhattanLength(), 4);
}

// A close that arrives while message windows are open (one over another)
// ends both loops; the close runs only after the outer window returned, and
// no window opens from then on.
TEST_F(FormView, EndingMessagesClosesThemAndRunsTheCloseAfterTheOuterOne) {
    std::vector<std::string> steps;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(0, [&] {
            Host.EndMessages([&] { steps.push_back("close"); });
            steps.push_back("ended");
        });
        Host.TQtFormHost::ShowError("inner");
        steps.push_back("inner returned");
    });
    Host.TQtFormHost::ShowMessage("outer");
    steps.push_back("outer returned");
    Host.TQtFormHost::ShowMessage("after the close"); // returns at once
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(steps, (std::vector<std::string>{"ended", "inner returned", "outer returned"}));
    QCoreApplication::processEvents();
    EXPECT_EQ(steps.back(), "close");
}

// The three operator tabs: spin and speed buttons, focus, the combo box,
// the memos. The window is made active so that focus moves as it would.
class OperatorTabs : public FormView {
protected:
    void SetUp() override {
        FormView::SetUp();
        View->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(View.get()));
    }
    void ShowPage(int index) {
        Widget<QTabWidget>(Form->PageControl1)->setCurrentIndex(index);
        ASSERT_EQ(Form->PageControl1.ActivePageIndex(), index);
    }
    void ClickArrow(const TControl& control, const char* arrow) {
        auto* button = View->WidgetOf(control)->findChild<QToolButton*>(arrow);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }
};

TEST_F(OperatorTabs, ManualEntriesAreAddedAndDeletedOnlyFromTheFocusedList) {
    ShowPage(2);
    ClickArrow(Form->sbReg, "up");
    EXPECT_EQ(Widget<QLineEdit>(Form->eRegNum)->text(), "180");
    auto* param = Widget<QLineEdit>(Form->eParam);
    param->setFocus();
    param->selectAll();
    QTest::keyClicks(param, "2x5");
    QTest::keyClick(param, Qt::Key_Return);
    auto* list = Widget<QListWidget>(Form->lbParams);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "180=25 = Параметр №1");

    auto* del = qobject_cast<QToolButton*>(View->WidgetOf(Form->DelBtn));
    ASSERT_NE(del, nullptr);
    EXPECT_EQ(del->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(View->WidgetOf(Form->AddBtn)->toolTip(), "Занести значения в регистр");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_TRUE(Form->lbParams.Focused());
    Widget<QLineEdit>(Form->eComment)->setFocus();
    QTest::mouseClick(del, Qt::LeftButton);
    EXPECT_EQ(list->count(), 1);
    list->setFocus();
    QTest::mouseClick(del, Qt::LeftButton);
    EXPECT_EQ(list->count(), 0);
}

// Qt makes a row current when the list takes the focus by the Tab key;
// that is no choice of the operator's: nothing is loaded over the typing and
// "delete" finds nothing selected. A click and the arrow keys choose.
TEST_F(OperatorTabs, TabIntoTheEntryListLoadsNothingOnlyTheOperatorsChoiceDoes) {
    ShowPage(2);
    Form->lbParams.SetItems({"180=1 = Первый", "182=2 = Второй", "184=3 = Третий"});
    auto* comment = Widget<QLineEdit>(Form->eComment);
    comment->setFocus();
    comment->selectAll();
    QTest::keyClicks(comment, "typing");
    auto* list = Widget<QListWidget>(Form->lbParams);
    QTest::keyClick(comment, Qt::Key_Tab);
    ASSERT_TRUE(list->hasFocus());
    EXPECT_TRUE(Form->lbParams.Focused());
    EXPECT_EQ(Form->eComment.Text(), "typing");
    EXPECT_EQ(Form->eRegNum.Text(), "178");
    EXPECT_EQ(Form->lbParams.ItemIndex(), -1);
    QTest::mouseClick(View->WidgetOf(Form->DelBtn), Qt::LeftButton);
    EXPECT_EQ(Form->lbParams.Count(), 3);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(Form->eComment.Text(), "Второй");
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Form->eRegNum.Text(), "184");
    EXPECT_EQ(Form->eComment.Text(), "Третий");
}

TEST_F(OperatorTabs, InspectorMovesSwitchesAndRefusesAValueThatIsNoNumber) {
    ShowPage(3);
    ClickArrow(Form->SpinButton1, "down");
    EXPECT_EQ(Widget<QLineEdit>(Form->Edit4)->text(), "511");
    auto* combo = Widget<QComboBox>(Form->ComboBox2);
    EXPECT_EQ(combo->currentText(), "Целое");
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(Form->ComboBox2.ItemIndex(), 1);
    EXPECT_EQ(Widget<QLineEdit>(Form->Edit4)->text(), "510");
    EXPECT_EQ(Widget<QLineEdit>(Form->Edit6)->text(), "00000000");

    auto* value = Widget<QLineEdit>(Form->Edit5);
    value->selectAll();
    QTest::keyClicks(value, "x");
    auto* enter = Widget<QPushButton>(Form->Button3);
    EXPECT_TRUE(enter->isEnabled());
    EXPECT_FALSE(combo->isEnabled());
    QTest::mouseClick(enter, Qt::LeftButton);
    EXPECT_EQ(value->text(), "Ошибка");
    QTest::mouseClick(Widget<QPushButton>(Form->Button2), Qt::LeftButton);
    EXPECT_FALSE(enter->isEnabled());
    EXPECT_EQ(value->text().left(1), "0");
}

TEST_F(OperatorTabs, MonitorMemosAreLightGreenWithBothScrollBarsAndTakeTypedLines) {
    auto* memo = Widget<QPlainTextEdit>(Form->Memo2);
    EXPECT_EQ(memo->palette().color(QPalette::Base), QColor(209, 231, 209));
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);

    // On a hidden tab the memo takes its lines when the tab is shown.
    Form->PriemLen = 2;
    Form->ShowPriemFrame();
    Form->ShowPriemFrame();
    ASSERT_EQ(Form->Memo2.Lines().size(), 2u);
    EXPECT_FALSE(memo->isVisible());
    EXPECT_TRUE(memo->toPlainText().isEmpty()) << memo->toPlainText().toStdString();
    ShowPage(1);
    EXPECT_EQ(memo->toPlainText().split('\n').size(), 2);
    EXPECT_TRUE(memo->toPlainText().startsWith("0000   "));
    // On screen it follows the updates a moment later, also once the
    // oldest lines go.
    const auto shownLines = [&] {
        std::vector<std::string> lines;
        for (const QString& line : memo->toPlainText().split('\n')) {
            lines.push_back(line.toStdString());
        }
        return lines;
    };
    for (int32_t length = 1; length <= 4; ++length) {
        Form->PriemCopy[0] = static_cast<uint8_t>(length);
        Form->PriemLen = length;
        Form->ShowPriemFrame();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownLines() == Form->Memo2.Lines(); }, 5000));
    }
    EXPECT_TRUE(memo->toPlainText().split('\n').last().startsWith("04000000   "));
    memo->setFocus();
    memo->moveCursor(QTextCursor::End);
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClicks(memo, "ab");
    ASSERT_EQ(Form->Memo2.Lines().size(), 5u);
    EXPECT_EQ(Form->Memo2.Lines()[4], "ab");
}

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    ApplyAppStyle(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
