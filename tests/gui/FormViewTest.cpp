// The Qt view on the offscreen platform: widgets show what the models hold,
// the operator's input reaches the handlers, every text fits the window, and
// WM_MBUSDATA travels through the Qt loop.
#include "FormView.h"
#include "AppStyle.h"
#include "QtFormHost.h"
#include "TextFile.h"
#include "UPelMBus.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>

using namespace pelmbus;

namespace {

// A metering link that connects and has no reports, so that the view's
// tests need no metering program on a bus.
class IdleMeteringLink : public MeteringLink {
public:
    void Connect() override { FConnected = true; }
    void Disconnect() override { FConnected = false; }
    bool Connected() const override { return FConnected; }
    std::string DoCommand(const std::string&) override { return {}; }

private:
    bool FConnected = false;
};

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
    Host.PostMessage(WM_MBUSDATA, MBusDataRefresh, 0);
    Host.PostMessage(WM_MBUSDATA, MBusDataPriem, 0);
    EXPECT_TRUE(delivered.empty()); // posted, never sent
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, (std::vector<uintptr_t>{MBusDataRefresh, MBusDataPriem}));
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
