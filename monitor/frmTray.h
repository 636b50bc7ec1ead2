#pragma once

#include "alerts/AlarmSet.h"
#include "events/EventLog.h"
#include "monitor/AlarmDispatch.h"
#include "monitor/MonitorCycle.h"
#include "monitor/ToolWindows.h"
#include "platform/Services.h"
#include "platform/SingleInstance.h"
#include "settings/AppState.h"

#include <QIcon>
#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QMenu;
class QTimer;

/// The hidden tray window: owns the tray icon and its menu, the monitoring
/// timer Timer1 and the cycle it drives, and opens the tool windows one at
/// a time.
class frmTray : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTimerIntervalMs = 60000;
    /// How long after start-up a tray may take to appear before the
    /// operator is told there is none: at login the panel often starts
    /// after the programs of the session.
    static constexpr int kTrayWaitMs = 5000;
    /// Where the feedback menu item sends mail; set with the CMake cache
    /// variable PW_FEEDBACK_ADDRESS when packaging.
    static const QString kFeedbackAddress;

    /// ras is the dial-up service the cycle dials through when USED_LAN is 0.
    frmTray(AppState& state, platform::Services& services, const monitor::ToolWindows& tools,
            dialup::RemoteAccessService& ras, QWidget* parent = nullptr);
    ~frmTray() override;

    /// Start-up. False when another copy is already running or no lock can
    /// be made in the program folder (each says so in its own message): the
    /// caller ends the program then, before anything else was touched.
    bool Form_Load();

    /// Stops the timer, removes the tray icon, unloads every open window,
    /// hangs up a dial-up link still up and releases the single-copy lock.
    /// Runs once, when the program ends; never refused.
    void Form_QueryUnload();

    /// Ends the program, whatever window is open: quitRequested first (the
    /// caller stops every event loop, so no window can hold the program),
    /// then Form_QueryUnload. 終了, quit signals and the end of the session
    /// all come here.
    void endProgram();
    bool unloaded() const { return m_unloaded; }

    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void mnPing_Click() { openModal(monitor::Tool::Ping); }
    void mnCal_Click() { openModal(monitor::Tool::Config); }
    void mnLog_Click() { openModal(monitor::Tool::Log); }
    void mnStart_Click();
    void mnStop_Click();
    void mnEM_Click();
    void mnVersion_Click();
    void mnFin_Click();

    void ImageStart();
    void ImageStop();

    /// One tick of Timer1: the cycle, then what the operator asked for
    /// while it ran.
    void tick();

    /// Tests shorten the wait for a tray.
    void setTrayWait(int ms) { m_trayWaitMs = ms; }
    /// Whole-program tests tick faster than once a minute.
    void setTickMs(int ms) { m_tickMs = ms; }
    /// True when the tray host draws the menu itself (StatusNotifierItem).
    bool menuOnHost() const { return m_menuOnHost; }

    QTimer* Timer1() const { return m_timer; }
    QMenu* mnuPopup() const { return m_menu; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    monitor::MonitorCycle& cycle() { return m_cycle; }
    alerts::AlarmSet& alarms() { return m_alarms; }
    events::EventLog& eventLog() { return m_log; }

signals:
    /// The program is ending (endProgram): the caller leaves its event loops.
    void quitRequested();

private:
    QAction* addItem(const char* name, const QString& caption, void (frmTray::*handler)());
    bool refuseWhileWindowOpen();
    bool refuseForHost();
    QWidget* makeTool(monitor::Tool tool);
    void gateMenu();
    void tellIfNoTray();
    void openModal(monitor::Tool tool);
    bool deferDuringCycle(std::function<void()> action);
    void runDeferred();
    void startTimer();
    void stopTimer();
    void syncChecks();

    AppState& m_state;
    platform::Services& m_services;
    const monitor::ToolWindows& m_tools;
    platform::SingleInstance m_instance;
    events::EventLog m_log;
    monitor::MonitorCycle m_cycle;
    alerts::AlarmSet m_alarms;
    monitor::AlarmDispatch m_dispatch;

    QIcon m_image1; // running
    QIcon m_image2; // paused
    QTimer* m_timer;
    QMenu* m_menu;
    QSystemTrayIcon* m_tray;
    QAction* m_mnStart = nullptr;
    QAction* m_mnStop = nullptr;
    int m_trayWaitMs = kTrayWaitMs;
    int m_tickMs = kTimerIntervalMs;
    bool m_menuOnHost = false;
    bool m_refusing = false;
    bool m_unloaded = false;
    std::vector<std::function<void()>> m_afterCycle;
};
