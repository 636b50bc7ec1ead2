// Enter and Escape as an operator presses them, in every window of the
// program that has buttons or must not vanish by a stray key.
#include "alerts/EmargMSG.h"
#include "logview/frmLog.h"
#include "settings/Config.h"
#include "settings/LIST.h"
#include "settings/frmINPUT.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"
#include "tools/frmAbout.h"
#include "tools/frmPing.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using testsupport::FakeWindowSystem;
using testsupport::FixedClock;
using testsupport::TestFolder;

namespace {

class DialogKeysTest : public ::testing::Test {
protected:
    TestFolder folder{false};
    AppState state{folder.folder()};
    FakeWindowSystem ui;
    testsupport::FakeRemoteAccess ras;
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 10))};
    events::EventLog log{state, clock};
    testsupport::FakeSoundPlayer sound;
    QLabel sCnt;

    void SetUp() override {
        state.DatabasePath = folder.path(QStringLiteral("PLW")); // none: GO!!! says so
        state.SERVER_CNT = 1;
        state.Servers[1] = {QStringLiteral("fileserver"), QStringLiteral("ICMP Request Timeout"),
                            QString(), 1, -1};
    }
    using Make = std::function<std::unique_ptr<QDialog>()>;
    Make config = [this] { return std::make_unique<Config>(state, ui, ras); };
    Make list = [this] { return std::make_unique<LIST>(state, ui, &sCnt); };
    Make input = [this] { return std::make_unique<frmINPUT>(state, ui); };
    Make logViewer = [this] { return std::make_unique<frmLog>(state, ui, clock); };
    Make ping = [this] { return std::make_unique<frmPing>(state, ui); };
    Make about = [this] { return std::make_unique<frmAbout>(state, ui, QStringLiteral("1.0.0")); };
    Make alarm = [this] { return std::make_unique<EmargMSG>(state, sound, log); };

    static void showActive(QDialog& w) {
        w.show();
        QApplication::setActiveWindow(&w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    // What pressing a button left behind: message boxes and modal windows.
    QStringList effects() const {
        QStringList e = ui.modalShown;
        for (const auto& m : ui.messages)
            e << m.text;
        return e;
    }
};

} // namespace

TEST_F(DialogKeysTest, EnterPressesTheFocusedButtonAndNothingFromATextField) {
    // The system-information button finds no program on an empty PATH and
    // says so, which shows that it, not OK, was pressed.
    const struct Path {
        QByteArray saved = qgetenv("PATH");
        ~Path() { qputenv("PATH", saved); }
    } path;
    qputenv("PATH", folder.folder().toLocal8Bit());
    const struct {
        const char* window;
        Make make;
        const char* button;
        const char* textField; // Enter here presses nothing
        QStringList pressed;
    } cases[] = {
        {"Config", config, "Command1", "ESERVER", {QStringLiteral("LIST")}},
        {"LIST",
         list,
         "Command2",
         nullptr,
         {QStringLiteral("編集する【検証サーバー】を選択してください。")}},
        {"frmLog", logViewer, "Command1", "Y1", {QStringLiteral("データベースが見つかりません。")}},
        {"frmPing",
         ping,
         "Command1",
         "txtTimeOut",
         {QStringLiteral("【TimeOut (ミリ秒)】には数値を入力してください。")}},
        {"frmAbout",
         about,
         "cmdSysInfo",
         nullptr,
         {QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        ui.modalShown.clear();
        ui.messages.clear();
        const std::unique_ptr<QDialog> w = c.make();
        showActive(*w);
        if (auto* timeOut = w->findChild<QLineEdit*>(QStringLiteral("txtTimeOut")))
            timeOut->setText(QStringLiteral("five")); // Start refuses before any echo
        if (c.textField) {
            auto* field = w->findChild<QLineEdit*>(QLatin1String(c.textField));
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter, Qt::KeypadModifier);
            EXPECT_EQ(effects(), QStringList());
        }
        auto* button = w->findChild<QPushButton*>(QLatin1String(c.button));
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Return);
        QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"),
                       true);
        QApplication::sendEvent(button, &held);
        EXPECT_EQ(effects(), c.pressed) << "pressed once, however long Enter is held";
        EXPECT_TRUE(w->isVisible());
    }
}

TEST_F(DialogKeysTest, EscapeLeavesWindowsWithoutCancelOpenAndTheCloseBoxStillCloses) {
    const struct {
        const char* window;
        Make make;
        bool closeBox;
    } cases[] = {{"LIST", list, true},
                 {"frmINPUT", input, true},
                 {"frmLog", logViewer, true},
                 {"Config", config, false},
                 {"EmargMSG", alarm, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window);
        sCnt.clear();
        const std::unique_ptr<QDialog> w = c.make();
        state.EditName = QStringLiteral("kept");
        showActive(*w);
        if (auto* name = w->findChild<QLineEdit*>(QStringLiteral("Sname")))
            name->setText(QStringLiteral("half-typ"));
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : w.get();
        QTest::keyClick(focus, Qt::Key_Escape);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(sound.stops, 0) << "the alarm goes on";
        EXPECT_EQ(sCnt.text(), QString()) << "the list was not written";
        EXPECT_EQ(state.EditName, QStringLiteral("kept")) << "the half-typed row is not taken";
        if (c.closeBox) {
            w->close();
            EXPECT_FALSE(w->isVisible()) << "the close box closes it";
        }
    }
}
