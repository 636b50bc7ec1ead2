#include "monitor/frmTray.h"

#include "platform/QuitSignals.h"
#include "settings/Settings.h"
#include "support/FakePlatform.h"
#include "support/FakeRemoteAccess.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QSessionManager>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::FakeWindowSystem;
using testsupport::FixedClock;
using testsupport::TestFolder;

namespace {

const QString kCloseOpenWindow = QStringLiteral("現在開いているウインドウを閉じてください。");

/// A tool window that marks WindowOpen while it lives, as the real ones do.
class FakeTool : public QDialog {
public:
    FakeTool(AppState& state, const QString& name) : m_state(state) {
        setObjectName(name);
        m_state.WindowOpen = 1;
    }
    ~FakeTool() override { m_state.WindowOpen = 0; }

private:
    AppState& m_state;
};

class TrayTest : public ::testing::Test {
protected:
    TestFolder folder;
    AppState state{folder.folder()};
    FakeWindowSystem ui;
    FixedClock clock{QDateTime(QDate(2026, 12, 7), QTime(10, 15, 30))};
    testsupport::FakeSoundPlayer sound;
    testsupport::RecordingSleeper sleeper;
    platform::Ending ending;
    platform::Services services{ui, clock, sound, sleeper, ending};
    testsupport::FakeRemoteAccess ras;
    monitor::ToolWindows tools;
    std::unique_ptr<frmTray> tray;

    // Timer1's state and whether any menu item is usable, seen from inside
    // each modal window.
    QList<bool> timerActiveInModal;
    QList<bool> menuUsableInModal;
    // Modeless, they delete themselves when closed; the recorder never shows them.
    QList<QPointer<QWidget>> aboutBoxes;

    void TearDown() override {
        tray.reset();
        qDeleteAll(aboutBoxes);
    }

    void SetUp() override {
        for (auto [tool, name] :
             {std::pair{monitor::Tool::Ping, "frmPing"}, std::pair{monitor::Tool::Config, "Config"},
              std::pair{monitor::Tool::Log, "frmLog"}})
            tools.set(tool, [this, name = QString::fromLatin1(name)](QWidget*) {
                return new FakeTool(state, name);
            });
        tools.set(monitor::Tool::About, [this](QWidget*) {
            auto* w = new QWidget;
            w->setObjectName(QStringLiteral("frmAbout"));
            aboutBoxes << w;
            return w;
        });
        ui.onModal = [this](QDialog&) {
            timerActiveInModal << tray->Timer1()->isActive();
            menuUsableInModal << menuUsable();
        };
    }

    void withServers() {
        WriteIniKey(state, kSettingsSection, QStringLiteral("SERVER_CNT"), QStringLiteral("1"),
                    kServerListFile);
        WriteIniKey(state, kSettingsSection, QStringLiteral("SERVER_NAME1"),
                    QStringLiteral("127.0.0.1"), kServerListFile);
    }

    frmTray& load() {
        tray = std::make_unique<frmTray>(state, services, tools, ras);
        EXPECT_TRUE(tray->Form_Load());
        return *tray;
    }

    QAction* item(const char* name) { return tray->findChild<QAction*>(QLatin1String(name)); }
    bool menuUsable() {
        const QList<QAction*> items = tray->mnuPopup()->actions();
        return std::any_of(items.begin(), items.end(), [](QAction* a) { return a->isEnabled(); });
    }
    bool timerRunning() {
        return tray->Timer1()->isActive() &&
               tray->Timer1()->interval() == frmTray::kTimerIntervalMs;
    }
};

} // namespace

TEST_F(TrayTest, StartsMonitoringWithTheRunningIcon) {
    withServers();
    frmTray& t = load();
    EXPECT_TRUE(timerRunning());
    EXPECT_EQ(state.MonitorState, 1);
    EXPECT_EQ(state.SERVER_CNT, 1);
    EXPECT_EQ(state.DatabasePath, folder.path(QStringLiteral("PLW")));
    EXPECT_EQ(t.cycle().IntervalCount, 1);
    EXPECT_EQ(t.trayIcon()->toolTip(), QStringLiteral("Pulsewatch"));
    EXPECT_TRUE(item("mnStart")->isChecked());
    EXPECT_FALSE(item("mnStop")->isChecked());
    EXPECT_TRUE(ui.modalShown.isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(t.windowTitle(), QStringLiteral("タスクトレイ常駐"));
}

TEST_F(TrayTest, TheMenuHasEveryItemInOrder) {
    load();
    QStringList captions;
    for (QAction* a : tray->mnuPopup()->actions())
        captions << (a->isSeparator() ? QStringLiteral("-")
                                      : a->objectName() + QLatin1Char('=') + a->text());
    EXPECT_EQ(captions,
              (QStringList{QStringLiteral("mnPing=Ping(&P)"), QStringLiteral("-"),
                           QStringLiteral("mnCal=設定(&C)"), QStringLiteral("mnLog=ログ表示"),
                           QStringLiteral("-"), QStringLiteral("mnStart=開始(&S)"),
                           QStringLiteral("mnStop=一時停止(&E)"), QStringLiteral("-"),
                           QStringLiteral("mnEM=ご意見・ご要望窓口(&E)"),
                           QStringLiteral("mnVersion=バージョン情報(&V)"), QStringLiteral("-"),
                           QStringLiteral("mnFin=終了(&X)")}));
}

// A copy that cannot take the lock says why and ends before it touches
// anything: a second copy with the known message, a folder that takes no
// lock with the folder and the reason.
TEST_F(TrayTest, ACopyThatCannotStartSaysWhyBeforeItTouchesAnything) {
    withServers();
    load();
    const QString gone = folder.path(QStringLiteral("gone")) + QLatin1Char('/');
    const std::pair<QString, QString> cases[] = {
        {folder.folder(), QStringLiteral("Pulsewatchはすでに起動されています。")},
        {gone, QStringLiteral("Pulsewatchを起動できません。フォルダー【") + gone +
                   QStringLiteral("】に書き込めません（フォルダーがありません）。")},
    };
    for (const auto& [where, message] : cases) {
        SCOPED_TRACE(where);
        ui.messages.clear();
        AppState second(where);
        frmTray other(second, services, tools, ras);
        EXPECT_FALSE(other.Form_Load());
        ASSERT_EQ(ui.messages.size(), 1);
        EXPECT_EQ(ui.messages[0].text, message);
        EXPECT_EQ(ui.messages[0].icon, platform::MessageIcon::Critical);
        EXPECT_EQ(ui.messages[0].modality, platform::Modality::System);
        EXPECT_EQ(second.SERVER_CNT, 0);
        EXPECT_FALSE(other.Timer1()->isActive());
        EXPECT_FALSE(other.trayIcon()->isVisible());
    }
    EXPECT_TRUE(timerRunning()); // the first copy goes on
}

TEST_F(TrayTest, TheLockIsReleasedOnQuitAndALeftoverOneIsTakenOver) {
    withServers();
    load();
    QSignalSpy quit(tray.get(), &frmTray::quitRequested);
    item("mnFin")->trigger();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_FALSE(tray->trayIcon()->isVisible());
    EXPECT_FALSE(tray->Timer1()->isActive());
    EXPECT_FALSE(testsupport::folderLocked(state.AppFolder));

    // A copy that crashed: its lock must not keep the next copy out.
    const pid_t child = ::fork();
    if (child == 0) {
        platform::SingleInstance crashed(state.AppFolder);
        ::_exit(crashed.acquire() == platform::SingleInstance::Result::Acquired ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    platform::SingleInstance again(state.AppFolder);
    EXPECT_EQ(again.acquire(), platform::SingleInstance::Result::Acquired);
}

TEST_F(TrayTest, WithoutServersTheConfigurationDialogComesFirst) {
    load();
    EXPECT_EQ(ui.modalShown, QList<QString>{QStringLiteral("Config")});
    EXPECT_EQ(timerActiveInModal, QList<bool>{false});
    EXPECT_TRUE(timerRunning());
    EXPECT_EQ(state.WindowOpen, 0);
}

TEST_F(TrayTest, PauseAndResumeAreEachOnlyDoneOnce) {
    withServers();
    load();
    tray->cycle().IntervalCount = 3;

    item("mnStart")->trigger(); // already monitoring: nothing
    EXPECT_EQ(tray->trayIcon()->toolTip(), QStringLiteral("Pulsewatch"));

    item("mnStop")->trigger();
    EXPECT_EQ(state.MonitorState, -1);
    EXPECT_FALSE(tray->Timer1()->isActive());
    EXPECT_EQ(tray->Timer1()->interval(), 0);
    EXPECT_FALSE(item("mnStart")->isChecked());
    EXPECT_TRUE(item("mnStop")->isChecked());
    EXPECT_EQ(tray->trayIcon()->toolTip(), QStringLiteral("Pulse Watch - STOP"));

    item("mnStop")->trigger(); // the second pause does nothing
    EXPECT_EQ(state.MonitorState, -1);
    EXPECT_TRUE(item("mnStop")->isChecked());
    EXPECT_EQ(tray->trayIcon()->toolTip(), QStringLiteral("Pulse Watch - STOP"));

    item("mnStart")->trigger();
    EXPECT_EQ(state.MonitorState, 1);
    EXPECT_TRUE(timerRunning());
    EXPECT_TRUE(item("mnStart")->isChecked());
    EXPECT_FALSE(item("mnStop")->isChecked());
    EXPECT_EQ(tray->trayIcon()->toolTip(), QStringLiteral("Pulse Watch"));
    EXPECT_EQ(tray->cycle().IntervalCount, 3);
}

TEST_F(TrayTest, TheTimerRestsWhileAModalWindowIsOpen) {
    withServers();
    load();
    item("mnLog")->trigger();
    EXPECT_TRUE(timerRunning());

    item("mnStop")->trigger();
    item("mnCal")->trigger();
    EXPECT_FALSE(tray->Timer1()->isActive()); // paused stays paused

    EXPECT_EQ(ui.modalShown, (QList<QString>{QStringLiteral("frmLog"), QStringLiteral("Config")}));
    EXPECT_EQ(timerActiveInModal, (QList<bool>{false, false}));
    // A tray host that draws the menu itself finds every item greyed.
    EXPECT_EQ(menuUsableInModal, (QList<bool>{false, false}));
    EXPECT_EQ(state.WindowOpen, 0);
    EXPECT_TRUE(menuUsable());
}

TEST_F(TrayTest, OnlyOneToolWindowAtATime) {
    withServers();
    load();
    // The About box is modeless, so the menu is still reachable.
    item("mnVersion")->trigger();
    EXPECT_EQ(ui.modelessShown, QList<QString>{QStringLiteral("frmAbout")});
    EXPECT_TRUE(timerRunning());

    state.WindowOpen = 1;
    for (const char* name : {"mnPing", "mnCal", "mnLog", "mnVersion"})
        item(name)->trigger();
    tray->onTrayActivated(QSystemTrayIcon::Context);
    ASSERT_EQ(ui.messages.size(), 5);
    for (const auto& m : ui.messages) {
        EXPECT_EQ(m.text, kCloseOpenWindow);
        EXPECT_EQ(m.icon, platform::MessageIcon::Information);
        EXPECT_EQ(m.modality, platform::Modality::System);
    }
    EXPECT_TRUE(ui.modalShown.isEmpty());
    EXPECT_EQ(ui.modelessShown.size(), 1);
    EXPECT_FALSE(tray->mnuPopup()->isVisible());
    EXPECT_TRUE(timerRunning());
}

TEST_F(TrayTest, TrayClicksOnlyOpenTheMenuOnTheRightButton) {
    withServers();
    load();
    tray->onTrayActivated(QSystemTrayIcon::DoubleClick);
    tray->onTrayActivated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(tray->mnuPopup()->isVisible());
    tray->onTrayActivated(QSystemTrayIcon::Context);
    EXPECT_TRUE(tray->mnuPopup()->isVisible());
    tray->mnuPopup()->hide();
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(TrayTest, WithoutATrayTheOperatorIsToldOnceAndTheWatchGoesOn) {
    withServers();
    for (const bool trayShows : {true, false}) {
        SCOPED_TRACE(trayShows);
        ui.messages.clear();
        ui.tray = trayShows;
        tray = std::make_unique<frmTray>(state, services, tools, ras);
        tray->setTrayWait(0);
        ASSERT_TRUE(tray->Form_Load());
        EXPECT_TRUE(ui.messages.isEmpty()); // not before start-up is done
        QTest::qWait(20);
        QTest::qWait(20);
        EXPECT_TRUE(timerRunning());
        if (trayShows) {
            EXPECT_TRUE(ui.messages.isEmpty());
        } else {
            ASSERT_EQ(ui.messages.size(), 1);
            EXPECT_TRUE(ui.messages[0].text.startsWith(QStringLiteral("通知領域")));
            EXPECT_TRUE(ui.messages[0].text.contains(u"gnome-shell-extension-appindicator"));
            EXPECT_EQ(ui.messages[0].icon, platform::MessageIcon::Warning);
            EXPECT_EQ(ui.messages[0].modality, platform::Modality::Application);
        }
        tray.reset();
    }
}

TEST_F(TrayTest, FeedbackOpensAMailToTheProject) {
    load();
    item("mnEM")->trigger();
    ASSERT_EQ(ui.urls.size(), 1);
    EXPECT_EQ(ui.urls[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(ui.urls[0].path(), frmTray::kFeedbackAddress);
}

TEST_F(TrayTest, TimerTicksDriveTheCycle) {
    withServers();
    WriteIniKey(state, kSettingsSection, QStringLiteral("mINTERVAL"), QStringLiteral("5"),
                kGeneralFile);
    load();
    QMetaObject::invokeMethod(tray->Timer1(), "timeout", Qt::DirectConnection);
    QMetaObject::invokeMethod(tray->Timer1(), "timeout", Qt::DirectConnection);
    EXPECT_EQ(tray->cycle().IntervalCount, 3);
}

// Ending is never refused, whatever window is open: the window is unloaded,
// the watch is not started again behind it, the lock and a dial-up link
// still up are let go. From the tray's 設定(&C) and from the first-run
// dialog.
TEST_F(TrayTest, EndingWithAWindowOpenUnloadsItAndStartsNothingAgain) {
    for (const bool firstRun : {true, false}) {
        SCOPED_TRACE(firstRun ? "first-run dialog" : "設定(&C)");
        if (!firstRun)
            withServers();
        ras.entries = {QStringLiteral("isp")};
        tray = std::make_unique<frmTray>(state, services, tools, ras);
        QSignalSpy quit(tray.get(), &frmTray::quitRequested);
        bool stillOpen = true;
        ui.onModal = [&](QDialog& d) {
            d.show();
            tray->endProgram();
            stillOpen = d.isVisible();
        };
        ASSERT_TRUE(tray->Form_Load());
        if (!firstRun) {
            ASSERT_TRUE(tray->alarms().Dialup(QStringLiteral("isp"), QString(), QString()));
            item("mnCal")->trigger();
        }
        EXPECT_FALSE(stillOpen);
        EXPECT_EQ(quit.count(), 1);
        EXPECT_TRUE(tray->unloaded());
        EXPECT_FALSE(tray->Timer1()->isActive());
        EXPECT_FALSE(tray->trayIcon()->isVisible());
        EXPECT_FALSE(testsupport::folderLocked(state.AppFolder));
        EXPECT_TRUE(ras.connections.isEmpty()) << "the dial-up link outlived the program";
        tray->endProgram();
        EXPECT_EQ(quit.count(), 1) << "ending twice";
        tray.reset();
    }
}

// A session manager's request to save state is not the end of the session:
// the watch goes on. The end of the session and each quit signal end it.
TEST_F(TrayTest, OnlyARealEndOfTheSessionOrASignalEndsTheWatch) {
    withServers();
    load();
    auto hooks =
        platform::onQuitRequests(*QCoreApplication::instance(), [this] { tray->endProgram(); });
    QSignalSpy quit(tray.get(), &frmTray::quitRequested);
    // Nothing here reads the manager; Qt hands the real one to the signals.
    alignas(QSessionManager) unsigned char storage[sizeof(QSessionManager)] = {};
    auto& manager = *reinterpret_cast<QSessionManager*>(storage);
    emit qGuiApp->commitDataRequest(manager);
    emit qGuiApp->saveStateRequest(manager);
    EXPECT_TRUE(timerRunning());
    EXPECT_TRUE(tray->trayIcon()->isVisible());
    EXPECT_TRUE(testsupport::folderLocked(state.AppFolder));
    EXPECT_EQ(quit.count(), 0);

    // What Qt sends when the session manager says the session ends.
    QEvent end(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &end);
    EXPECT_EQ(quit.count(), 1);
    EXPECT_TRUE(tray->unloaded());

    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        tray = std::make_unique<frmTray>(state, services, tools, ras);
        ASSERT_TRUE(tray->Form_Load());
        QSignalSpy ended(tray.get(), &frmTray::quitRequested);
        ::raise(sig);
        EXPECT_TRUE(ended.wait(2000));
        EXPECT_TRUE(tray->unloaded());
    }
}

// A cycle lets the event loop run while it waits. A window or box asked for
// meanwhile would hold the cycle, with its alarms, until the operator closed
// it: it opens once the cycle has ended.
TEST_F(TrayTest, WindowsAskedForDuringACycleOpenWhenItEnds) {
    withServers();
    WriteIniKey(state, kSettingsSection, QStringLiteral("SERVER_CHECK1"), QStringLiteral("1"),
                kServerListFile);
    WriteIniKey(state, kSettingsSection, QStringLiteral("USED_LAN"), QStringLiteral("1"),
                kGeneralFile);
    ui.tray = false;
    tray = std::make_unique<frmTray>(state, services, tools, ras);
    tray->setTrayWait(0);
    ASSERT_TRUE(tray->Form_Load());
    int probes = 0;
    QList<QString> openDuring;
    qsizetype messagesDuring = -1;
    tray->cycle().setProbeListener([&](qint32) {
        ++probes;
        QTest::qWait(20); // the no-tray notice falls due now
        tray->mnCal_Click();
        openDuring = ui.modalShown;
        messagesDuring = ui.messages.size();
    });
    tray->tick();
    ASSERT_EQ(probes, 1);
    EXPECT_TRUE(openDuring.isEmpty());
    EXPECT_EQ(messagesDuring, 0);
    QTest::qWait(50);
    EXPECT_EQ(ui.modalShown, QList<QString>{QStringLiteral("Config")});
    EXPECT_EQ(ui.messages.size(), 1);
}
