#include "monitor/frmTray.h"

#include "platform/Artwork.h"
#include "platform/FileIo.h"
#include "platform/TrayHost.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <cstdio>

#ifndef PW_FEEDBACK_ADDRESS
#define PW_FEEDBACK_ADDRESS "feedback@pulsewatch.example"
#endif

const QString frmTray::kFeedbackAddress = QStringLiteral(PW_FEEDBACK_ADDRESS);

namespace {
const QString kCloseOpenWindow = QStringLiteral("現在開いているウインドウを閉じてください。");
const QString kAlreadyRunning = QStringLiteral("Pulsewatchはすでに起動されています。");
const QString kNoTray = QStringLiteral(
    "通知領域（タスクトレイ）が見つからないため、Pulsewatchのアイコンを表示できません。\n"
    "監視と警報はこのまま続けます。\n\n"
    "GNOMEでは、パッケージ gnome-shell-extension-appindicator をインストールし、"
    "ログインし直してから拡張機能「AppIndicator and KStatusNotifierItem Support」を"
    "有効にしてください。\n"
    "その他のデスクトップでは、パネルに通知領域（システムトレイ）のアプレットを追加してください。\n"
    "通知領域ができてもアイコンが表示されないときは、Pulsewatchを起動し直してください。");
const QString kRowsWait =
    QStringLiteral("イベントを記録できません（ディスクの空き容量がないなど）。監視は続け、"
                   "記録できるようになりしだい、待たせているイベントを記録します。");
const QString kRowsKept =
    QStringLiteral("Pulsewatch: 記録できなかったイベント %1 件を %2 に残しました。"
                   "次の起動時に記録します。");
const QString kCannotStart =
    QStringLiteral("Pulsewatchを起動できません。フォルダー【%1】に書き込めません（%2）。");
} // namespace

frmTray::frmTray(AppState& state, platform::Services& services, const monitor::ToolWindows& tools,
                 dialup::RemoteAccessService& ras, QWidget* parent)
    : QWidget(parent), m_state(state), m_services(services), m_tools(tools),
      m_instance(state.AppFolder), m_log(state, services.clock), m_cycle(state, m_log),
      m_alarms(state, services, m_log, ras),
      m_dispatch(state, m_cycle, m_log, m_alarms, services.sleeper, services.ending,
                 services.clock),
      m_image1(platform::svgIcon(platform::kRunningIcon)),
      m_image2(platform::svgIcon(platform::kPausedIcon)), m_timer(new QTimer(this)),
      m_menu(new QMenu(QStringLiteral("PopUp"), this)), m_tray(new QSystemTrayIcon(this)) {
    setObjectName(QStringLiteral("frmTray"));
    setWindowTitle(QStringLiteral("タスクトレイ常駐"));
    setWindowIcon(m_image1);

    m_cycle.setAlarmSteps(m_dispatch.steps());
    m_cycle.setEnding(&services.ending);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    connect(m_timer, &QTimer::timeout, this, &frmTray::tick);
    // Said once each time rows begin to wait: the watch goes on meanwhile.
    m_log.onRowsWaiting = [this](const QString& why) {
        const QString text = why.isEmpty() ? kRowsWait : kRowsWait + QStringLiteral("\n") + why;
        std::fprintf(stderr, "Pulsewatch: %s\n", text.toLocal8Bit().constData());
        if (m_tray->isVisible())
            m_tray->showMessage(QStringLiteral("Pulsewatch"), text, QSystemTrayIcon::Warning);
    };

    m_menu->setObjectName(QStringLiteral("mnuPopup"));
    addItem("mnPing", QStringLiteral("Ping(&P)"), &frmTray::mnPing_Click);
    m_menu->addSeparator();
    addItem("mnCal", QStringLiteral("設定(&C)"), &frmTray::mnCal_Click);
    addItem("mnLog", QStringLiteral("ログ表示"), &frmTray::mnLog_Click);
    m_menu->addSeparator();
    m_mnStart = addItem("mnStart", QStringLiteral("開始(&S)"), &frmTray::mnStart_Click);
    m_mnStop = addItem("mnStop", QStringLiteral("一時停止(&E)"), &frmTray::mnStop_Click);
    m_menu->addSeparator();
    addItem("mnEM", QStringLiteral("ご意見・ご要望窓口(&E)"), &frmTray::mnEM_Click);
    addItem("mnVersion", QStringLiteral("バージョン情報(&V)"), &frmTray::mnVersion_Click);
    m_menu->addSeparator();
    addItem("mnFin", QStringLiteral("終了(&X)"), &frmTray::mnFin_Click);
    m_mnStart->setCheckable(true);
    m_mnStop->setCheckable(true);
    syncChecks();

    // The open-window check runs before the menu shows: on the X tray the
    // program pops the menu up itself after the check; a StatusNotifierItem
    // host shows the menu on its own and only says so (aboutToShow), so the
    // refusal comes then, over a menu whose items are greyed (gateMenu).
    connect(m_tray, &QSystemTrayIcon::activated, this, &frmTray::onTrayActivated);
    m_menuOnHost = platform::giveMenuToTrayHost(*m_tray, *m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        if (m_menuOnHost)
            refuseForHost();
    });
}

frmTray::~frmTray() {
    Form_QueryUnload();
}

QAction* frmTray::addItem(const char* name, const QString& caption, void (frmTray::*handler)()) {
    QAction* action = m_menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    connect(action, &QAction::triggered, this, handler);
    return action;
}

bool frmTray::Form_Load() {
    switch (m_instance.acquire()) {
    case platform::SingleInstance::Result::Acquired:
        break;
    case platform::SingleInstance::Result::AlreadyRunning:
        m_services.ui.messageBox(kAlreadyRunning, platform::MessageIcon::Critical,
                                 platform::Modality::System);
        return false;
    case platform::SingleInstance::Result::Failed:
        m_services.ui.messageBox(
            kCannotStart.arg(m_instance.folder(), platform::failureReason(m_instance.error())),
            platform::MessageIcon::Critical, platform::Modality::System);
        return false;
    }
    m_cycle.IntervalCount = 1;
    m_state.DatabasePath = m_state.AppFolder + QStringLiteral("PLW");
    m_log.startUp();
    m_tray->setIcon(m_image1);
    m_tray->setToolTip(QStringLiteral("Pulsewatch"));
    m_tray->show();
    QTimer::singleShot(m_trayWaitMs, this, &frmTray::tellIfNoTray);
    LoadSettings(m_state);
    if (m_state.RECOVERY_NOTICE == 1)
        m_dispatch.restoreDownSince();
    if (m_state.SERVER_CNT == 0) {
        stopTimer();
        if (QWidget* config = makeTool(monitor::Tool::Config)) {
            if (auto* dialog = qobject_cast<QDialog*>(config))
                m_services.ui.showModal(*dialog);
            delete config;
        }
        if (m_unloaded)
            return true; // the program was ended while the dialog was open
    }
    startTimer();
    m_state.MonitorState = 1;
    return true;
}

void frmTray::Form_QueryUnload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_timer->stop();
    m_tray->hide();
    // Every window the program has open is unloaded, whatever it is doing;
    // the configuration dialog, which refuses the operator's close box,
    // gives way to this.
    QList<QPointer<QWidget>> open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            open.append(w);
    for (const QPointer<QWidget>& w : open)
        if (w)
            w->close();
    // A dial-up link a cycle left up would otherwise outlive the program.
    m_alarms.hangUp();
    if (const int waiting = m_log.endOfProgram())
        std::fprintf(stderr, "%s\n",
                     kRowsKept.arg(waiting).arg(m_log.pendingPath()).toLocal8Bit().constData());
    m_instance.release();
}

void frmTray::tick() {
    m_cycle.Timer1_Timer();
    if (!m_cycle.cycleRunning() && !m_afterCycle.empty())
        QTimer::singleShot(0, this, &frmTray::runDeferred);
}

// A cycle's waits let the event loop run. A window or box with an event
// loop of its own, opened from there, would hold the cycle (its mails, its
// calls, its alarm window) until the operator closed it: such requests wait
// for the cycle's end instead.
bool frmTray::deferDuringCycle(std::function<void()> action) {
    if (!m_cycle.cycleRunning())
        return false;
    m_afterCycle.push_back(std::move(action));
    return true;
}

void frmTray::runDeferred() {
    std::vector<std::function<void()>> actions;
    actions.swap(m_afterCycle);
    for (const auto& action : actions)
        if (!m_unloaded && !deferDuringCycle(action))
            action();
}

// Once, and without stopping anything: the timer goes on under the box.
void frmTray::tellIfNoTray() {
    if (m_unloaded || m_services.ui.trayAvailable() || deferDuringCycle([this] { tellIfNoTray(); }))
        return;
    m_services.ui.messageBox(kNoTray, platform::MessageIcon::Warning);
}

void frmTray::endProgram() {
    if (m_unloaded)
        return;
    m_services.ending.request();
    emit quitRequested();
    Form_QueryUnload();
}

void frmTray::onTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Context)
        return; // a left click or double-click does nothing
    // Where a StatusNotifierItem host asked for the menu; the X tray asks
    // where the pointer is.
    const QPoint at = platform::takeHostMenuPosition().value_or(QCursor::pos());
    if (m_menuOnHost ? refuseForHost() : refuseWhileWindowOpen())
        return;
    gateMenu();
    m_menu->popup(at);
}

bool frmTray::refuseWhileWindowOpen() {
    if (m_state.WindowOpen != 1)
        return false;
    // A host may ask several times for one click: one box at a time.
    if (!m_refusing && !deferDuringCycle([this] { refuseWhileWindowOpen(); })) {
        m_refusing = true;
        m_services.ui.messageBox(kCloseOpenWindow, platform::MessageIcon::Information,
                                 platform::Modality::System);
        m_refusing = false;
    }
    return true;
}

// A StatusNotifierItem host waits for the answer to its D-Bus call, so the
// refusal, a box with an event loop of its own, comes after the answer.
bool frmTray::refuseForHost() {
    if (m_state.WindowOpen != 1)
        return false;
    QTimer::singleShot(0, this, [this] { refuseWhileWindowOpen(); });
    return true;
}

// Every item is greyed while a tool window is open, for the hosts that
// show the menu without asking first: nothing in it may open a second
// window or act under the open one.
void frmTray::gateMenu() {
    const bool free = m_state.WindowOpen != 1;
    for (QAction* action : m_menu->actions())
        action->setEnabled(free);
}

// The tool windows set WindowOpen as they are made and clear it as they
// close; the menu follows both.
QWidget* frmTray::makeTool(monitor::Tool tool) {
    QWidget* window = m_tools.make(tool, nullptr);
    if (auto* dialog = qobject_cast<QDialog*>(window))
        connect(dialog, &QDialog::finished, this, &frmTray::gateMenu);
    if (window)
        connect(window, &QObject::destroyed, this, &frmTray::gateMenu);
    gateMenu();
    return window;
}

void frmTray::openModal(monitor::Tool tool) {
    if (deferDuringCycle([this, tool] { openModal(tool); }) || refuseWhileWindowOpen() ||
        !m_tools.has(tool))
        return;
    if (m_state.MonitorState == 1)
        stopTimer();
    QWidget* window = makeTool(tool);
    if (auto* dialog = qobject_cast<QDialog*>(window))
        m_services.ui.showModal(*dialog);
    delete window;
    if (m_state.MonitorState == 1 && !m_unloaded)
        startTimer();
}

void frmTray::mnVersion_Click() {
    if (refuseWhileWindowOpen())
        return;
    if (QWidget* about = makeTool(monitor::Tool::About)) {
        about->setAttribute(Qt::WA_DeleteOnClose);
        m_services.ui.showModeless(*about);
    }
}

// A checkable menu item flips its own mark when clicked; the marks are set
// from MonitorState after every click instead, so a second "pause" leaves
// the paused mark where it was.
void frmTray::syncChecks() {
    m_mnStart->setChecked(m_state.MonitorState == 1);
    m_mnStop->setChecked(m_state.MonitorState != 1);
}

void frmTray::mnStop_Click() {
    if (m_state.MonitorState == 1) {
        m_state.MonitorState = -1;
        stopTimer();
        ImageStop();
    }
    syncChecks();
}

void frmTray::mnStart_Click() {
    if (m_state.MonitorState != 1) {
        m_state.MonitorState = 1;
        startTimer();
        ImageStart();
    }
    syncChecks();
}

void frmTray::mnEM_Click() {
    m_services.ui.openUrl(QUrl(QStringLiteral("mailto:") + kFeedbackAddress));
}

void frmTray::mnFin_Click() {
    endProgram();
}

void frmTray::ImageStart() {
    m_tray->setIcon(m_image1);
    m_tray->setToolTip(QStringLiteral("Pulse Watch"));
}

void frmTray::ImageStop() {
    m_tray->setIcon(m_image2);
    m_tray->setToolTip(QStringLiteral("Pulse Watch - STOP"));
}

void frmTray::startTimer() {
    m_timer->setInterval(m_tickMs);
    m_timer->start();
}

void frmTray::stopTimer() {
    m_timer->stop();
    m_timer->setInterval(0);
}
