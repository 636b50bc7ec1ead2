#include "tools/frmAbout.h"

#include "monitor/frmTray.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::FakeWindowSystem;
using testsupport::TestFolder;

namespace {

// PATH holds only the test's folder while it lives.
class PathOf {
public:
    explicit PathOf(const QString& folder) : m_old(qgetenv("PATH")) {
        qputenv("PATH", folder.toLocal8Bit());
    }
    ~PathOf() { qputenv("PATH", m_old); }

private:
    QByteArray m_old;
};

} // namespace

TEST(AboutBox, TitleVersionAndLinks) {
    AppState state;
    FakeWindowSystem ui;
    frmAbout w(state, ui, QStringLiteral("1.2.3"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Pulsewatchのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(),
              QStringLiteral("Version 1.2.3"));
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("lblTitle"))->text(),
              QStringLiteral("Pulsewatch"));
    EXPECT_EQ(w.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->text(),
              QStringLiteral("ｼｽﾃﾑ情報(&S)..."));
    EXPECT_EQ(state.WindowOpen, 1);
    QTest::mouseClick(w.findChild<QLabel*>(QStringLiteral("Image1")), Qt::LeftButton);
    QTest::mouseClick(w.findChild<QLabel*>(QStringLiteral("Label4")), Qt::LeftButton);
    ASSERT_EQ(ui.urls.size(), 2);
    EXPECT_EQ(ui.urls[0], QUrl(frmAbout::kWebAddress));
    EXPECT_EQ(ui.urls[1], QUrl(QStringLiteral("mailto:") + frmTray::kFeedbackAddress));
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    EXPECT_EQ(state.WindowOpen, 0);
    EXPECT_FALSE(w.isVisible());
}

TEST(AboutBox, SystemInformationStartsTheFirstToolFound) {
    TestFolder folder(false);
    AppState state;
    FakeWindowSystem ui;
    frmAbout w(state, ui, QStringLiteral("1.0.0"));
    {
        PathOf path(folder.folder());
        w.cmdSysInfo_Click();
    }
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));

    const QString marker = folder.path(QStringLiteral("started"));
    folder.write(QStringLiteral("kinfocenter"),
                 ("#!/bin/sh\necho kinfocenter > '" + marker + "'\n").toUtf8());
    QFile::setPermissions(folder.path(QStringLiteral("kinfocenter")),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        PathOf path(folder.folder());
        w.cmdSysInfo_Click();
    }
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(marker) && t.elapsed() < 5000)
        QTest::qWait(20);
    EXPECT_TRUE(QFile::exists(marker)) << "the tool was not started";
    EXPECT_EQ(ui.messages.size(), 1);
}
