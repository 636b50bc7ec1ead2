#include "settings/frmSMTP.h"

#include "platform/DialogKeys.h"
#include "settings/DetailKeys.h"
#include "settings/FieldCheck.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QLineEdit* field(QWidget* parent, const char* name, const QString& text) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

} // namespace

frmSMTP::frmSMTP(AppState& state, platform::WindowSystem& ui, const QString& server,
                 const QString& to, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui), m_server(server), m_to(to),
      m_libraryPath(platform::mailLibraryIn(state.AppFolder)) {
    setObjectName(QStringLiteral("frmSMTP"));
    setWindowTitle(QStringLiteral("送信サーバーの詳細"));
    platform::setTitleBoxes(*this, platform::TitleBoxes::CloseOnly);

    EPORT = field(this, "EPORT", m_state.EMARGE_PORT);
    EPORT->setFixedWidth(80);
    ESECURITY = new QComboBox(this);
    ESECURITY->setObjectName(QStringLiteral("ESECURITY"));
    ESECURITY->addItems(
        {QStringLiteral("なし"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    // A mode this window does not know shows as no choice: OK then asks.
    ESECURITY->setCurrentIndex(m_state.EMARGE_SECURITY >= 0 && m_state.EMARGE_SECURITY <= 2
                                   ? m_state.EMARGE_SECURITY
                                   : -1);
    EUSER = field(this, "EUSER", m_state.EMARGE_USER);
    EPWD = field(this, "EPWD", m_state.EMARGE_PWD);
    EPWD->setEchoMode(QLineEdit::Password);
    ECAFILE = field(this, "ECAFILE", m_state.EMARGE_CAFILE);
    ECAFILE->setMinimumWidth(240);
    ECAFILE->setPlaceholderText(QStringLiteral("システムの証明書"));
    EFROM = field(this, "EFROM", m_state.EMARGE_FROM);
    // Left empty, the mail goes out from the login when it is an address,
    // else from this machine.
    EFROM->setPlaceholderText(QStringLiteral("空欄: ログイン名または pulsewatch@このマシン"));
    auto* caselect = button(this, "CASELECT", QStringLiteral("．．．"));
    caselect->setFixedWidth(48);
    auto* testsend = button(this, "TESTSEND", QStringLiteral("テスト送信"));
    auto* ok = button(this, "OK", QStringLiteral("O　K"));
    auto* cancel = button(this, "CANCEL", QStringLiteral("キャンセル"));

    auto* caRow = new QHBoxLayout;
    caRow->addWidget(ECAFILE, 1);
    caRow->addWidget(caselect);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(EPORT);
    portRow->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(testsend);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("ポート"), portRow);
    form->addRow(QStringLiteral("暗号化"), ESECURITY);
    form->addRow(QStringLiteral("ユーザー名"), EUSER);
    form->addRow(QStringLiteral("パスワード"), EPWD);
    form->addRow(QStringLiteral("CA ファイル"), caRow);
    form->addRow(QStringLiteral("差出人アドレス"), EFROM);
    form->addRow(buttons);

    const auto showUsualPort = [this] {
        const int mode = ESECURITY->currentIndex();
        // The port the mail takes when the field is left empty.
        EPORT->setPlaceholderText(
            mode >= 0 ? QString::number(platform::MailRelay::usualPort(static_cast<qint16>(mode)))
                      : QString());
    };
    showUsualPort();
    connect(ESECURITY, &QComboBox::currentIndexChanged, this, showUsualPort);
    connect(caselect, &QPushButton::clicked, this, &frmSMTP::CASELECT_Click);
    connect(testsend, &QPushButton::clicked, this, &frmSMTP::TESTSEND_Click);
    connect(ok, &QPushButton::clicked, this, &frmSMTP::OK_Click);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    platform::operatorKeys(*this, platform::Escape::Closes);
}

void frmSMTP::CASELECT_Click() {
    settings::chooseCaFile(m_ui, this, ECAFILE);
}

bool frmSMTP::fieldsUsable() {
    const auto refuse = [this](const QString& message, QWidget* focus) {
        return settings::refuseField(m_ui, message, focus);
    };
    bool number = false;
    const int port = EPORT->text().toInt(&number);
    if (!EPORT->text().isEmpty() && (!number || port < 1 || port > 0xFFFF))
        return refuse(QStringLiteral("【ポート】には1から65535までの数字を入力してください。"),
                      EPORT);
    if (ESECURITY->currentIndex() < 0)
        return refuse(QStringLiteral("【暗号化】を選択してください。"), ESECURITY);
    if (!EUSER->text().isEmpty() && EPWD->text().isEmpty())
        return refuse(QStringLiteral("【パスワード】を入力してください。"), EPWD);
    if (EUSER->text().isEmpty() && !EPWD->text().isEmpty())
        return refuse(QStringLiteral("【ユーザー名】を入力してください。"), EUSER);
    if (!ECAFILE->text().isEmpty()) {
        // The library's own reading of the file: what passes here is what
        // the alert mail will trust.
        if (!settings::holdsCertificates(ECAFILE->text()))
            return refuse(
                QStringLiteral("【CA ファイル】には証明書 (PEM) のファイルを指定してください。"),
                ECAFILE);
    }
    // Mail servers refuse a sender that is no address (553 5.1.0).
    if (!EFROM->text().isEmpty() && !settings::isMailAddress(EFROM->text()))
        return refuse(QStringLiteral("【差出人アドレス】にはメールアドレス（例: "
                                     "pulsewatch@example.jp）を入力してください。"),
                      EFROM);
    return true;
}

platform::MailRelay frmSMTP::relay() const {
    return {m_server,      EPORT->text(), static_cast<qint16>(ESECURITY->currentIndex()),
            EUSER->text(), EPWD->text(),  ECAFILE->text(),
            EFROM->text()};
}

void frmSMTP::TESTSEND_Click() {
    if (!fieldsUsable())
        return;
    if (m_server.isEmpty() || m_to.isEmpty()) {
        m_ui.messageBox(m_server.isEmpty()
                            ? QStringLiteral("【緊急時SMTP-HOST】を入力してください。")
                            : QStringLiteral("【緊急送信先Email】を入力してください。"),
                        platform::MessageIcon::Critical);
        return;
    }
    // The library lets the event loop run while it waits for the server:
    // nothing in this window may be pressed meanwhile.
    setEnabled(false);
    const QString error = platform::sendMail(
        m_libraryPath, relay(),
        {QStringLiteral("Pulsewatch テスト送信"), m_to, QStringLiteral("Pulsewatch"),
         QStringLiteral("Pulsewatch からのテスト送信です。\r\n"
                        "サーバーダウンの通知も、この送信サーバーから送られます。"),
         QStringLiteral("P/L/W(Pulsewatch)")});
    setEnabled(true);
    if (error.isEmpty())
        m_ui.messageBox(QStringLiteral("テストメールは送信サーバーに受け付けられました。"),
                        platform::MessageIcon::Information);
    else
        m_ui.messageBox(QStringLiteral("テスト送信に失敗しました。\n") + error,
                        platform::MessageIcon::Critical);
}

void frmSMTP::OK_Click() {
    if (!fieldsUsable())
        return;
    if (settings::saveDetailKeys(m_state, m_ui,
                                 {
                                     {"EMARGE_PORT", EPORT->text(), EPORT, "ポート"},
                                     {"EMARGE_SECURITY", QString::number(ESECURITY->currentIndex()),
                                      ESECURITY, "暗号化"},
                                     {"EMARGE_USER", EUSER->text(), EUSER, "ユーザー名"},
                                     {"EMARGE_PWD", EPWD->text(), EPWD, "パスワード"},
                                     {"EMARGE_CAFILE", ECAFILE->text(), ECAFILE, "CA ファイル"},
                                     {"EMARGE_FROM", EFROM->text(), EFROM, "差出人アドレス"},
                                 }))
        accept();
}
