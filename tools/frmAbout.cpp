#include "tools/frmAbout.h"

#include "monitor/frmTray.h"
#include "platform/Artwork.h"
#include "platform/DialogKeys.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>

namespace {

// A label that reports a click, for the picture and the mail link.
class ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent* e) override {
        QLabel::mouseReleaseEvent(e);
        if (onClick)
            onClick();
    }
};

} // namespace

const QString frmAbout::kWebAddress = QStringLiteral("https://pulsewatch.example/");

QStringList frmAbout::systemInfoPrograms() {
    // Linux has no one system-information tool: the usual programs of the
    // desktops are looked for on PATH, in this order, and the first found
    // is started.
    return {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"),
            QStringLiteral("xfce4-about"), QStringLiteral("gnome-system-monitor")};
}

frmAbout::frmAbout(AppState& state, platform::WindowSystem& ui, const QString& version,
                   QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui) {
    setObjectName(QStringLiteral("frmAbout"));
    const QString title = platform::kProgramTitle;
    setWindowTitle(title + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));

    auto* image = new ClickLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(platform::svgPixmap(platform::kRunningIcon, 64, 64));
    image->setCursor(Qt::PointingHandCursor);
    image->onClick = [this] { Image1_Click(); };

    auto* lblTitle = new QLabel(title, this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont big = lblTitle->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    lblTitle->setFont(big);
    // Major, minor and revision of the build, as "Version 1.2.3".
    const QStringList parts = version.split(QLatin1Char('.'));
    auto* lblVersion = new QLabel(QStringLiteral("Version %1.%2.%3")
                                      .arg(parts.value(0, QStringLiteral("0")).toInt())
                                      .arg(parts.value(1, QStringLiteral("0")).toInt())
                                      .arg(parts.value(2, QStringLiteral("0")).toInt()),
                                  this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    auto* mail = new ClickLabel(frmTray::kFeedbackAddress, this);
    mail->setObjectName(QStringLiteral("Label4"));
    mail->setStyleSheet(QStringLiteral("color: #1a55c9; text-decoration: underline;"));
    mail->setCursor(Qt::PointingHandCursor);
    mail->onClick = [this] { Label4_Click(); };

    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    auto* sysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    sysInfo->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(sysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    platform::operatorKeys(*this, platform::Escape::Closes);

    auto* grid = new QGridLayout(this);
    grid->addWidget(image, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(lblTitle, 0, 1);
    grid->addWidget(lblVersion, 1, 1);
    grid->addWidget(mail, 2, 1);
    grid->addWidget(line, 3, 0, 1, 3);
    grid->addWidget(ok, 4, 2);
    grid->addWidget(sysInfo, 5, 2);
    grid->setColumnStretch(1, 1);

    m_state.WindowOpen = 1;
}

void frmAbout::Image1_Click() {
    m_ui.openUrl(QUrl(kWebAddress));
}

void frmAbout::Label4_Click() {
    m_ui.openUrl(QUrl(QStringLiteral("mailto:") + frmTray::kFeedbackAddress));
}

void frmAbout::cmdSysInfo_Click() {
    for (const QString& name : systemInfoPrograms()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty() && QProcess::startDetached(path, {}))
            return;
    }
    m_ui.messageBox(QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"),
                    platform::MessageIcon::Information);
}

void frmAbout::cmdOK_Click() {
    close();
}

// Closing by the title bar frees the tray menu too: otherwise it would
// refuse every other window until the program ends.
void frmAbout::closeEvent(QCloseEvent* event) {
    m_state.WindowOpen = 0;
    QDialog::closeEvent(event);
}

void frmAbout::done(int result) {
    m_state.WindowOpen = 0;
    QDialog::done(result);
}
