#include "settings/Config.h"

#include "dialup/VBRas.h"
#include "platform/DialogKeys.h"
#include "platform/NumericText.h"
#include "settings/DetailKeys.h"
#include "settings/FieldCheck.h"
#include "settings/IniFile.h"
#include "settings/LIST.h"
#include "settings/Settings.h"
#include "settings/frmNotice.h"
#include "settings/frmSMTP.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// A field, chars digits wide when chars is given: sized by the font, so it
// takes no more room than its text needs at any scale.
QLineEdit* field(QWidget* parent, const char* name, const QString& text = QString(),
                 int chars = 0) {
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QLatin1String(name));
    if (chars > 0)
        e->setFixedWidth(e->fontMetrics().horizontalAdvance(QString(chars, u'0')) +
                         e->fontMetrics().averageCharWidth() + 8);
    return e;
}

QPushButton* dots(QWidget* parent, const char* name) {
    auto* b = new QPushButton(QStringLiteral("．．．"), parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    b->setFixedWidth(48);
    return b;
}

QString countText(int n) {
    return QString::number(n) + QStringLiteral(" 件");
}

} // namespace

Config::Config(AppState& state, platform::WindowSystem& ui, dialup::RemoteAccessService& ras,
               QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(ui) {
    setObjectName(QStringLiteral("Config"));
    setWindowTitle(QStringLiteral("CONFIG"));
    // A title bar without minimize, maximize or close: OK is the way out.
    platform::setTitleBoxes(*this, platform::TitleBoxes::None);

    auto* general = new QGroupBox(QStringLiteral("Pulsewatch Configration"), this);
    S_CNT = new QLabel(QStringLiteral("???件"), general);
    S_CNT->setObjectName(QStringLiteral("S_CNT"));
    auto* command1 = dots(general, "Command1");
    auto* generalRow = new QHBoxLayout(general);
    generalRow->addWidget(new QLabel(QStringLiteral("検証サーバー件数"), general));
    generalRow->addWidget(S_CNT, 1);
    generalRow->addWidget(command1);

    auto* dial = new QGroupBox(QStringLiteral("DialUp-Configration"), this);
    RASENT = new QComboBox(dial);
    RASENT->setObjectName(QStringLiteral("RASENT"));
    RASUSER = field(dial, "RASUSER");
    RASPWD = field(dial, "RASPWD"); // shown in clear, as the operator expects here
    LAN = new QCheckBox(QStringLiteral("Used-LAN"), dial);
    LAN->setObjectName(QStringLiteral("LAN"));
    auto* dialForm = new QFormLayout(dial);
    dialForm->addRow(QStringLiteral("検証エントリー"), RASENT);
    dialForm->addRow(QStringLiteral("検証ユーザー名"), RASUSER);
    dialForm->addRow(QStringLiteral("検証パスワード"), RASPWD);
    dialForm->addRow(QString(), LAN);

    auto* mail = new QGroupBox(QStringLiteral("EmargeMail-Configration"), this);
    ESERVER = field(mail, "ESERVER");
    EMAIL = field(mail, "EMAIL");
    EMAIL2 = field(mail, "EMAIL2");
    static const char* const kTelNames[] = {nullptr, "TEL1", "TEL2", "TEL3",
                                            "TEL4",  "TEL5", "TEL6"};
    for (int i = 1; i <= 6; ++i)
        TEL[i] = field(mail, kTelNames[i], QString(), 5);
    TEL[0] = nullptr;
    auto telRow = [&](int first) {
        auto* row = new QHBoxLayout;
        for (int i = first; i < first + 3; ++i) {
            if (i > first)
                row->addWidget(new QLabel(QStringLiteral("-"), mail));
            row->addWidget(TEL[i]);
        }
        row->addStretch();
        return row;
    };
    Com = field(mail, "Com", QStringLiteral("1"), 6);
    Setting = field(mail, "Setting", QStringLiteral("9600,N,8,1"));
    // The relay's port, encryption and login: a window of their own, so the
    // controls here stay as they are.
    auto* smtpDetail = dots(mail, "SMTPDETAIL");
    smtpDetail->setToolTip(QStringLiteral("送信サーバーの詳細"));
    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(ESERVER, 1);
    serverRow->addWidget(smtpDetail);
    auto* mailForm = new QFormLayout(mail);
    mailForm->addRow(QStringLiteral("緊急時SMTP-HOST"), serverRow);
    mailForm->addRow(QStringLiteral("緊急送信先Email"), EMAIL);
    mailForm->addRow(QStringLiteral("緊急送信先Email"), EMAIL2);
    mailForm->addRow(QStringLiteral("緊急連絡先"), telRow(1));
    mailForm->addRow(QStringLiteral("緊急連絡先2"), telRow(4));
    mailForm->addRow(QStringLiteral("ComPort"), Com);
    mailForm->addRow(QStringLiteral("ComSetting"), Setting);

    auto* other = new QGroupBox(QStringLiteral("Other-Configration"), this);
    EMARGE = field(other, "EMARGE");
    EMARGE->setMinimumWidth(EMARGE->fontMetrics().averageCharWidth() * 20);
    auto* mselect = dots(other, "MSELECT");
    MIN = field(other, "MIN", QStringLiteral("1"), 5);
    RETRY = field(other, "RETRY", QStringLiteral("1"), 5);
    auto* soundRow = new QHBoxLayout;
    soundRow->addWidget(EMARGE, 1);
    soundRow->addWidget(mselect);
    auto withUnit = [&](QLineEdit* e, const QString& unit) {
        auto* row = new QHBoxLayout;
        row->addWidget(e);
        row->addWidget(new QLabel(unit, other));
        row->addStretch();
        return row;
    };
    // The notices beside the mail and the event store, each in a window or
    // a file of its own, so the controls here stay as they are.
    auto* noticeDetail = new QPushButton(QStringLiteral("通知の詳細…"), other);
    noticeDetail->setObjectName(QStringLiteral("NOTICEDETAIL"));
    noticeDetail->setAutoDefault(false);
    STORE = new QLabel(other);
    STORE->setObjectName(QStringLiteral("STORE"));
    STORE->setWordWrap(true);
    STORETEST = new QPushButton(QStringLiteral("接続テスト"), other);
    STORETEST->setObjectName(QStringLiteral("STORETEST"));
    STORETEST->setAutoDefault(false);
    auto* storeRow = new QHBoxLayout;
    storeRow->addWidget(STORE, 1);
    storeRow->addWidget(STORETEST);
    auto* otherForm = new QFormLayout(other);
    otherForm->addRow(QStringLiteral("異常時音"), soundRow);
    otherForm->addRow(QStringLiteral("検証間隔"), withUnit(MIN, QStringLiteral("分")));
    otherForm->addRow(QStringLiteral("リトライ回数"), withUnit(RETRY, QStringLiteral("回")));
    otherForm->addRow(QStringLiteral("通知"), noticeDetail);
    otherForm->addRow(QStringLiteral("イベントの保存先"), storeRow);

    auto* ok = new QPushButton(QStringLiteral("O　K"), this);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(general, 0, 0);
    grid->addWidget(dial, 0, 1);
    grid->addWidget(mail, 1, 0);
    grid->addWidget(other, 1, 1, Qt::AlignTop);
    grid->addWidget(ok, 2, 1, Qt::AlignRight);

    connect(LAN, &QCheckBox::clicked, this, &Config::LAN_Click);
    connect(mselect, &QPushButton::clicked, this, &Config::MSELECT_Click);
    connect(command1, &QPushButton::clicked, this, &Config::Command1_Click);
    connect(smtpDetail, &QPushButton::clicked, this, &Config::SMTPDETAIL_Click);
    connect(noticeDetail, &QPushButton::clicked, this, &Config::NOTICEDETAIL_Click);
    connect(STORETEST, &QPushButton::clicked, this, &Config::STORETEST_Click);
    connect(ok, &QPushButton::clicked, this, &Config::OK_Click);
    platform::operatorKeys(*this, platform::Escape::Ignored);

    Form_Load(ras);
    setStoreProbe({});
}

void Config::Form_Load(dialup::RemoteAccessService& ras) {
    m_state.WindowOpen = 1;
    {
        VBRas entries(ras);
        for (qint32 i = 0; i < entries.EntryCount(); ++i)
            RASENT->addItem(entries.EnumEntries(static_cast<qint16>(i)));
    }
    LoadSettings(m_state);
    S_CNT->setText(countText(m_state.SERVER_CNT));
    // An entry the phone book no longer holds is not offered: OK then asks
    // for one.
    RASENT->setCurrentIndex(-1);
    if (m_state.USED_LAN != 0) {
        RASUSER->clear();
        RASPWD->clear();
        LAN->setChecked(true);
    } else {
        LAN->setChecked(false);
        if (!m_state.DIAL_ENTRY.isEmpty())
            RASENT->setCurrentIndex(RASENT->findText(m_state.DIAL_ENTRY));
        RASUSER->setText(m_state.DIAL_USER);
        RASPWD->setText(m_state.DIAL_PWD);
    }
    LAN_Click();
    ESERVER->setText(m_state.EMARGE_SERVER);
    EMAIL->setText(m_state.EMARGE_MAIL);
    EMAIL2->setText(m_state.EMARGE_MAIL2);
    EMARGE->setText(m_state.EMARGE_SOUND);
    const QString tels[] = {QString(),    m_state.TEL1, m_state.TEL2, m_state.TEL3,
                            m_state.TEL4, m_state.TEL5, m_state.TEL6};
    for (int i = 1; i <= 6; ++i)
        TEL[i]->setText(tels[i]);
    if (m_state.mINTERVAL != 0)
        MIN->setText(QString::number(m_state.mINTERVAL));
    if (platform::numericValue(m_state.RETRY) != 0)
        RETRY->setText(m_state.RETRY);
    if (platform::numericValue(m_state.COMPORT) != 0 ||
        m_state.COMPORT.startsWith(QLatin1Char('/')))
        Com->setText(m_state.COMPORT);
    if (!m_state.COMSETTING.isEmpty())
        Setting->setText(m_state.COMSETTING);
}

void Config::closeEvent(QCloseEvent* event) {
    // The operator's own ways out (the window manager's close, Alt+F4) are
    // refused: OK is the way out. The program's unloading of the window, at
    // a quit or at the end of the session, never is.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    m_state.WindowOpen = 0;
    QDialog::done(QDialog::Rejected);
    event->accept();
}

void Config::LAN_Click() {
    const bool lan = LAN->isChecked();
    RASENT->setEnabled(!lan);
    RASUSER->setEnabled(!lan);
    RASPWD->setEnabled(!lan);
}

void Config::MSELECT_Click() {
    // The program folder holds the default alarm sound.
    const QString chosen = m_ui.getOpenFileName(this, m_state.AppFolder);
    if (!chosen.isEmpty())
        m_chosenFile = chosen;
    EMARGE->setText(m_chosenFile);
}

void Config::Command1_Click() {
    LIST list(m_state, m_ui, S_CNT, this);
    m_ui.showModal(list);
}

bool Config::refuse(const QString& message, QWidget* focus) {
    return settings::refuseField(m_ui, message, focus);
}

void Config::SMTPDETAIL_Click() {
    frmSMTP detail(m_state, m_ui, ESERVER->text(), EMAIL->text(), this);
    m_ui.showModal(detail);
}

void Config::NOTICEDETAIL_Click() {
    frmNotice detail(m_state, m_ui, this);
    m_ui.showModal(detail);
}

void Config::setStoreProbe(StoreProbe probe) {
    m_store = std::move(probe);
    const QString uri = m_state.EVENT_DB.trimmed();
    STORE->setText(uri.isEmpty()   ? QStringLiteral("PLW（このフォルダーのファイル）")
                   : m_store.shown ? m_store.shown(uri)
                                   : QStringLiteral("共有のデータベース"));
    STORETEST->setEnabled(!uri.isEmpty() && m_store.test);
}

void Config::STORETEST_Click() {
    const QString uri = m_state.EVENT_DB.trimmed();
    if (uri.isEmpty() || !m_store.test)
        return;
    // The test waits for the server (its waits are bounded): nothing here
    // may be pressed meanwhile.
    setEnabled(false);
    const QString failure = m_store.test(uri);
    setEnabled(true);
    if (failure.isEmpty())
        m_ui.messageBox(QStringLiteral("イベントのデータベースに接続できました。"),
                        platform::MessageIcon::Information);
    else
        m_ui.messageBox(QStringLiteral("イベントのデータベースに接続できません。\n") + failure,
                        platform::MessageIcon::Critical);
}

void Config::OK_Click() {
    // An input method in full-width mode types "１０": the digits it means
    // are checked and saved.
    for (QLineEdit* number : {MIN, RETRY})
        number->setText(platform::halfWidth(number->text()));
    const bool lan = LAN->isChecked();
    const auto zero = [](const QLineEdit* e) {
        return e->text().isEmpty() || platform::numericValue(e->text()) == 0;
    };
    if (m_state.SERVER_CNT == 0) {
        refuse(QStringLiteral("【検証サーバー】を入力してください。"), nullptr);
        return;
    }
    if (!lan) {
        if (RASENT->currentText().isEmpty()) {
            refuse(QStringLiteral("【検証エントリー】を選択してください。"), RASENT);
            return;
        }
        if (RASUSER->text().isEmpty()) {
            refuse(QStringLiteral("【検証ユーザー名】を入力してください。"), RASUSER);
            return;
        }
        if (RASPWD->text().isEmpty()) {
            refuse(QStringLiteral("【検証パスワード】を入力してください。"), RASPWD);
            return;
        }
    }
    if (EMARGE->text().isEmpty()) {
        refuse(QStringLiteral("【異常時音】を入力してください。"), EMARGE);
        return;
    }
    if (GetFileExt(EMARGE->text()) != QLatin1String("WAV")) {
        EMARGE->clear();
        refuse(QStringLiteral("【異常時音】にはWAVファイルを指定してください。"), EMARGE);
        return;
    }
    if (zero(MIN)) {
        refuse(QStringLiteral("【検証間隔】を入力してください。"), MIN);
        return;
    }
    if (zero(RETRY)) {
        refuse(QStringLiteral("【リトライ回数】を入力してください。"), RETRY);
        return;
    }

    // The keys this OK writes, in their order, with the field each comes from.
    struct Key {
        QString key;
        QString value;
        QWidget* field;
        const char* label;
        bool telephone = false;
    };
    QList<Key> keys;
    const auto add = [&](const char* key, QLineEdit* field, const char* label) {
        keys.append({QLatin1String(key), field->text(), field, label});
    };
    const auto addTelephone = [&](const char* key, QLineEdit* field, const char* label) {
        keys.append(
            {QLatin1String(key), platform::telephoneText(field->text()), field, label, true});
    };
    if (!lan) {
        keys.append(
            {QStringLiteral("DIAL_ENTRY"), RASENT->currentText(), RASENT, "検証エントリー"});
        add("DIAL_USER", RASUSER, "検証ユーザー名");
        add("DIAL_PWD", RASPWD, "検証パスワード");
    }
    add("EMARGE_SOUND", EMARGE, "異常時音");
    add("mINTERVAL", MIN, "検証間隔");
    keys.append({QStringLiteral("USED_LAN"), lan ? QStringLiteral("1") : QStringLiteral("0"), LAN,
                 "Used-LAN"});
    add("EMARGE_SERVER", ESERVER, "緊急時SMTP-HOST");
    add("EMARGE_MAIL", EMAIL, "緊急送信先Email");
    add("EMARGE_MAIL2", EMAIL2, "緊急送信先Email");
    add("RETRY", RETRY, "リトライ回数");
    const auto filled = [](std::initializer_list<const QLineEdit*> fields) {
        for (const QLineEdit* f : fields)
            if (f->text().isEmpty())
                return false;
        return true;
    };
    if (filled({TEL[1], TEL[2], TEL[3], Com, Setting})) {
        static const char* const kTelKeys[] = {nullptr, "TEL1", "TEL2", "TEL3",
                                               "TEL4",  "TEL5", "TEL6"};
        for (int i = 1; i <= 3; ++i)
            addTelephone(kTelKeys[i], TEL[i], "緊急連絡先");
        if (filled({TEL[4], TEL[5], TEL[6]}))
            for (int i = 4; i <= 6; ++i)
                addTelephone(kTelKeys[i], TEL[i], "緊急連絡先2");
        add("COMPORT", Com, "ComPort");
        add("COMSETTING", Setting, "ComSetting");
    }
    const platform::TextEncoding encoding =
        settings::profileEncoding(m_state.AppFolder + kGeneralFile);
    for (const Key& k : keys) {
        const QString label = QString::fromUtf8(k.label);
        QString refusal = settings::unsavableTextMessage(label, k.value, encoding);
        // A character the modem cannot dial would make the telephone alarm
        // ring nobody.
        if (refusal.isEmpty() && k.telephone && platform::firstUndialable(k.value) >= 0)
            refusal =
                QStringLiteral("【") + label +
                QStringLiteral("】にはダイヤルできる電話番号（数字、-、*、#）を入力してください。");
        if (!refusal.isEmpty()) {
            refuse(refusal, k.field);
            return;
        }
    }

    QList<SaveFailure> failures;
    const auto note = [&](const SaveFailure& f) {
        for (const SaveFailure& known : failures)
            if (known.path == f.path)
                return;
        if (f.failed())
            failures.append(f);
    };
    note(WriteServerList(m_state));
    for (const Key& k : keys) {
        int error = 0;
        if (!WriteIniKey(m_state, kSettingsSection, k.key, k.value, kGeneralFile, &error))
            note({m_state.AppFolder + kGeneralFile, error});
    }
    LoadSettings(m_state);
    // A failed save is said, not hidden; the dialog still closes, so that a
    // folder that stays unwritable cannot hold it open for ever, and the
    // reload above puts into effect what the files really hold.
    if (!failures.isEmpty()) {
        QStringList lines;
        for (const SaveFailure& f : failures)
            lines << saveFailureMessage(f);
        m_ui.messageBox(lines.join(QLatin1Char('\n')), platform::MessageIcon::Critical);
    }
    m_state.WindowOpen = 0;
    accept();
}
