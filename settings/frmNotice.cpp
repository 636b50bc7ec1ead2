#include "settings/frmNotice.h"

#include "platform/DesktopNotice.h"
#include "platform/DialogKeys.h"
#include "platform/Webhook.h"
#include "settings/DetailKeys.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kTestText = QStringLiteral(
    "【Pulsewatch】テスト通知\nPulsewatch からのテスト送信です。サーバーダウンと復旧の通知も、"
    "ここに届きます。");

} // namespace

frmNotice::frmNotice(AppState& state, platform::WindowSystem& ui, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui) {
    setObjectName(QStringLiteral("frmNotice"));
    setWindowTitle(QStringLiteral("通知の詳細"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    RECOVERY = new QCheckBox(QStringLiteral("サーバーが復旧したときにも通知する"), this);
    RECOVERY->setObjectName(QStringLiteral("RECOVERY"));
    RECOVERY->setChecked(m_state.RECOVERY_NOTICE == 1);
    WEBHOOKURL = new QLineEdit(m_state.WEBHOOK_URL, this);
    WEBHOOKURL->setObjectName(QStringLiteral("WEBHOOKURL"));
    WEBHOOKURL->setMinimumWidth(320);
    WEBHOOKURL->setPlaceholderText(QStringLiteral("https://…（空欄: 使わない）"));
    WEBHOOKFORMAT = new QComboBox(this);
    WEBHOOKFORMAT->setObjectName(QStringLiteral("WEBHOOKFORMAT"));
    WEBHOOKFORMAT->addItems({QStringLiteral("JSON {\"text\": …}（Slack、Mattermost など）"),
                             QStringLiteral("テキストのみ（ntfy など）")});
    WEBHOOKFORMAT->setCurrentIndex(
        m_state.WEBHOOK_FORMAT.trimmed().compare(QLatin1String("text"), Qt::CaseInsensitive) == 0
            ? 1
            : 0);
    WEBHOOKCA = new QLineEdit(m_state.WEBHOOK_CAFILE, this);
    WEBHOOKCA->setObjectName(QStringLiteral("WEBHOOKCA"));
    WEBHOOKCA->setPlaceholderText(QStringLiteral("システムの証明書"));
    DESKTOP = new QCheckBox(QStringLiteral("デスクトップの通知にも表示する"), this);
    DESKTOP->setObjectName(QStringLiteral("DESKTOP"));
    DESKTOP->setChecked(m_state.DESKTOP_NOTICE == 1);

    const auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    auto* caselect = button("CASELECT", QStringLiteral("．．．"));
    caselect->setFixedWidth(48);
    auto* testsend = button("TESTSEND", QStringLiteral("テスト送信"));
    auto* ok = button("OK", QStringLiteral("O　K"));
    auto* cancel = button("CANCEL", QStringLiteral("キャンセル"));

    auto* caRow = new QHBoxLayout;
    caRow->addWidget(WEBHOOKCA, 1);
    caRow->addWidget(caselect);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(testsend);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* form = new QFormLayout(this);
    form->addRow(RECOVERY);
    form->addRow(QStringLiteral("Webhook URL"), WEBHOOKURL);
    form->addRow(QStringLiteral("形式"), WEBHOOKFORMAT);
    form->addRow(QStringLiteral("CA ファイル"), caRow);
    form->addRow(DESKTOP);
    form->addRow(buttons);

    connect(caselect, &QPushButton::clicked, this, &frmNotice::CASELECT_Click);
    connect(testsend, &QPushButton::clicked, this, &frmNotice::TESTSEND_Click);
    connect(ok, &QPushButton::clicked, this, &frmNotice::OK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    platform::operatorKeys(*this, platform::Escape::Closes);
}

void frmNotice::CASELECT_Click() {
    settings::chooseCaFile(m_ui, this, WEBHOOKCA);
}

bool frmNotice::fieldsUsable() {
    const auto refuse = [this](const QString& message, QWidget* focus) {
        return settings::refuseField(m_ui, message, focus);
    };
    const QString url = WEBHOOKURL->text().trimmed();
    if (!url.isEmpty())
        if (const QString problem = platform::webhookUrlProblem(url); !problem.isEmpty())
            return refuse(QStringLiteral("【Webhook URL】には") + problem, WEBHOOKURL);
    if (!WEBHOOKCA->text().isEmpty() && !settings::holdsCertificates(WEBHOOKCA->text()))
        return refuse(
            QStringLiteral("【CA ファイル】には証明書 (PEM) のファイルを指定してください。"),
            WEBHOOKCA);
    return true;
}

void frmNotice::TESTSEND_Click() {
    if (!fieldsUsable())
        return;
    QStringList said;
    // Nothing in this window may be pressed while the event loop runs in
    // the waits below.
    setEnabled(false);
    const platform::Ending never;
    if (!WEBHOOKURL->text().trimmed().isEmpty()) {
        const QString failure = platform::postWebhook(
            {WEBHOOKURL->text().trimmed(), WEBHOOKFORMAT->currentIndex() == 1 ? "text" : "",
             WEBHOOKCA->text()},
            kTestText, QDeadlineTimer(kTestWaitMs), never);
        said << (failure.isEmpty() ? QStringLiteral("Webhook: 受け付けられました。")
                                   : QStringLiteral("Webhook: 送信できませんでした（") + failure +
                                         QStringLiteral("）。"));
    }
    if (DESKTOP->isChecked()) {
        bool answered = false;
        QString failure;
        platform::notifyDesktop(QStringLiteral("Pulsewatch テスト通知"), kTestText, false,
                                [&](const QString& why) {
                                    answered = true;
                                    failure = why;
                                });
        if (platform::waitFor(never, QDeadlineTimer(kTestWaitMs), [&] { return answered; }) !=
            platform::WaitResult::Ready)
            failure = QStringLiteral("通知サービスが応答しません");
        said << (failure.isEmpty() ? QStringLiteral("デスクトップ通知: 表示しました。")
                                   : QStringLiteral("デスクトップ通知: 表示できませんでした（") +
                                         failure + QStringLiteral("）。"));
    }
    setEnabled(true);
    if (said.isEmpty())
        said << QStringLiteral("テストする通知先が設定されていません。");
    const bool failed = said.join(QString()).contains(QStringLiteral("できませんでした"));
    m_ui.messageBox(said.join(QLatin1Char('\n')),
                    failed ? platform::MessageIcon::Critical : platform::MessageIcon::Information);
}

void frmNotice::OK_Click() {
    if (!fieldsUsable())
        return;
    if (settings::saveDetailKeys(
            m_state, m_ui,
            {
                {"RECOVERY_NOTICE", RECOVERY->isChecked() ? "1" : "0", RECOVERY, "復旧の通知"},
                {"WEBHOOK_URL", WEBHOOKURL->text().trimmed(), WEBHOOKURL, "Webhook URL"},
                {"WEBHOOK_FORMAT", WEBHOOKFORMAT->currentIndex() == 1 ? "text" : "", WEBHOOKFORMAT,
                 "形式"},
                {"WEBHOOK_CAFILE", WEBHOOKCA->text(), WEBHOOKCA, "CA ファイル"},
                {"DESKTOP_NOTICE", DESKTOP->isChecked() ? "1" : "0", DESKTOP, "デスクトップ通知"},
            }))
        accept();
}
