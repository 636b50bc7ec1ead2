#include "monitor/frmTray.h"

#include "platform/Artwork.h"
#include "platform/FileIo.h"
#include "settings/Settings.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#ifndef PW_FEEDBACK_ADDRESS
#define PW_FEEDBACK_ADDRESS "feedback@pulsewatch.example"
#endif

const QString frmTray::kFeedbackAddress = QStringLiteral(PW_FEEDBACK_ADDRESS);

namespace {
const QString kCloseOpenWindow = QStringLiteral("現在開いているウインドウを閉じてください。");
const QString kAlreadyRunning = QStringLiteral("Pulsewatchはすでに起動されています。");
const QString kCannotStart =
    QStringLiteral("Pulsewatchを起動できません。フォルダー【%1】に書き込めません（%2）。");
} // namespace

frmTray::frmTray(AppState& state, platform::Services& services, const monitor::ToolWindows& tools,
                 dialup::RemoteAccessService& ras, QWidget* parent)
    : QWidget(parent), m_state(state), m_services(services), m_tools(tools),
      m_instance(state.AppFolder), m_log(state, services.clock), m_cycle(state, m_log),
      m_alarms(state, services, m_log, ras),
      m_dispatch(state, m_cycle, m_log, m_alarms, services.sleeper),
      m_image1(platform::svgIcon(platform::kRunningIcon)),
      m_image2(platform::svgIcon(platform::kPausedIcon)), m_timer(new QTimer(this)),
      m_menu(new QMenu(QStringLiteral("PopUp"), this)), m_tray(new QSystemTrayIcon(this)) {
    setObjectName(QStringLiteral("frmTray"));
    setWindowTitle(QStringLiteral("タスクトレイ常駐"));
    setWindowIcon(m_image1);

    m_cycle.setAlarmSteps(m_dispatch.steps());
    m_timer->setObjectName(QStringLiteral("Timer1"));
    connect(m_timer, &QTimer::timeout, this, [this] { m_cycle.Timer1_Timer(); });

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

    // No context menu of the tray's own: the open-window check must run
    // before the menu shows.
    connect(m_tray, &QSystemTrayIcon::activated, this, &frmTray::onTrayActivated);
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
    m_tray->setIcon(m_image1);
    m_tray->setToolTip(QStringLiteral("Pulsewatch"));
    m_tray->show();
    LoadSettings(m_state);
    if (m_state.SERVER_CNT == 0) {
        stopTimer();
        if (QWidget* config = m_tools.make(monitor::Tool::Config, nullptr)) {
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
    m_instance.release();
}

void frmTray::endProgram() {
    if (m_unloaded)
        return;
    emit quitRequested();
    Form_QueryUnload();
}

void frmTray::onTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Context)
        return; // a left click or double-click does nothing
    if (refuseWhileWindowOpen())
        return;
    m_menu->popup(QCursor::pos());
}

bool frmTray::refuseWhileWindowOpen() {
    if (m_state.WindowOpen != 1)
        return false;
    m_services.ui.messageBox(kCloseOpenWindow, platform::MessageIcon::Information,
                             platform::Modality::System);
    return true;
}

void frmTray::openModal(monitor::Tool tool) {
    if (refuseWhileWindowOpen() || !m_tools.has(tool))
        return;
    if (m_state.MonitorState == 1)
        stopTimer();
    QWidget* window = m_tools.make(tool, nullptr);
    if (auto* dialog = qobject_cast<QDialog*>(window))
        m_services.ui.showModal(*dialog);
    delete window;
    if (m_state.MonitorState == 1 && !m_unloaded)
        startTimer();
}

void frmTray::mnVersion_Click() {
    if (refuseWhileWindowOpen())
        return;
    if (QWidget* about = m_tools.make(monitor::Tool::About, nullptr)) {
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
    m_timer->setInterval(kTimerIntervalMs);
    m_timer->start();
}

void frmTray::stopTimer() {
    m_timer->stop();
    m_timer->setInterval(0);
}
