#include "settings/frmNotice.h"

#include "settings/Settings.h"
#include "support/FakeWindowSystem.h"
#include "support/PeerProcess.h"
#include "support/TestFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using testsupport::FakeWindowSystem;
using testsupport::TestFolder;

namespace {

class NoticeWindowTest : public ::testing::Test {
protected:
    TestFolder folder{false};
    AppState state{folder.folder()};
    FakeWindowSystem ui;

    template <typename T> T* child(frmNotice& w, const char* name) {
        return w.findChild<T*>(QLatin1String(name));
    }
};

} // namespace

TEST_F(NoticeWindowTest, FieldsAreCheckedThenSavedAndLoaded) {
    folder.write(QStringLiteral("ca.pem"), "not a certificate");
    const struct {
        const char* url;
        const char* ca;
        const char* refusal;
    } refused[] = {
        {"ftp://hooks.example.jp/x", "",
         "【Webhook URL】にはhttp:// または https:// で始まる URL を入力してください。"},
        {"https://", "",
         "【Webhook URL】にはhttp:// または https:// で始まる URL を入力してください。"},
        {"https://hooks.example.jp/x", "ca.pem",
         "【CA ファイル】には証明書 (PEM) のファイルを指定してください。"},
    };
    for (const auto& r : refused) {
        frmNotice w(state, ui);
        child<QLineEdit>(w, "WEBHOOKURL")->setText(QLatin1String(r.url));
        child<QLineEdit>(w, "WEBHOOKCA")
            ->setText(*r.ca ? folder.path(QLatin1String(r.ca)) : QString());
        child<QPushButton>(w, "OK")->click();
        ASSERT_FALSE(ui.messages.isEmpty());
        EXPECT_EQ(ui.messages.last().text, QString::fromUtf8(r.refusal));
        EXPECT_FALSE(QFile::exists(folder.path(QStringLiteral("Pulsewatch"))));
    }

    frmNotice w(state, ui);
    child<QCheckBox>(w, "RECOVERY")->setChecked(true);
    child<QLineEdit>(w, "WEBHOOKURL")->setText(QStringLiteral(" https://ntfy.example.jp/ops "));
    child<QComboBox>(w, "WEBHOOKFORMAT")->setCurrentIndex(1);
    child<QCheckBox>(w, "DESKTOP")->setChecked(true);
    child<QPushButton>(w, "OK")->click();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(state.RECOVERY_NOTICE, 1);
    EXPECT_EQ(state.WEBHOOK_URL, QStringLiteral("https://ntfy.example.jp/ops"));
    EXPECT_EQ(state.WEBHOOK_FORMAT, QStringLiteral("text"));
    EXPECT_EQ(state.DESKTOP_NOTICE, 1);
    frmNotice again(state, ui);
    EXPECT_EQ(child<QComboBox>(again, "WEBHOOKFORMAT")->currentIndex(), 1);
    EXPECT_TRUE(child<QCheckBox>(again, "RECOVERY")->isChecked());
}

TEST_F(NoticeWindowTest, TheTestSendSaysWhatEachChannelDid) {
    for (const bool refuses : {false, true}) {
        testsupport::WebhookServer hook(
            false, refuses ? QStringList{QStringLiteral("--status"), QStringLiteral("403")}
                           : QStringList());
        ASSERT_EQ(hook.failure(), QString());
        frmNotice w(state, ui);
        child<QLineEdit>(w, "WEBHOOKURL")
            ->setText(QStringLiteral("http://127.0.0.1:%1/hook/secret").arg(hook.port()));
        child<QPushButton>(w, "TESTSEND")->click();
        ASSERT_FALSE(ui.messages.isEmpty());
        EXPECT_EQ(ui.messages.last().text,
                  refuses ? QStringLiteral("Webhook: 送信できませんでした（HTTP 403 Forbidden）。")
                          : QStringLiteral("Webhook: 受け付けられました。"));
        ASSERT_EQ(hook.logged().size(), 1);
        EXPECT_TRUE(hook.logged()[0][QStringLiteral("body")].toString().contains(
            QStringLiteral("テスト通知")));
    }
    frmNotice none(state, ui);
    child<QPushButton>(none, "TESTSEND")->click();
    EXPECT_EQ(ui.messages.last().text, QStringLiteral("テストする通知先が設定されていません。"));
}
