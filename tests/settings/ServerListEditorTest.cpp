#include "settings/LIST.h"

#include "settings/Settings.h"
#include "settings/frmINPUT.h"
#include "support/FakeWindowSystem.h"
#include "support/TestFolder.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

using testsupport::FakeWindowSystem;
using testsupport::TestFolder;

namespace {

class EditorTest : public ::testing::Test {
protected:
    TestFolder folder{false};
    AppState state{folder.folder()};
    FakeWindowSystem ui;
    QLabel sCnt;
    QList<QPair<QString, QString>> inputSeen; // what frmINPUT opened with

    void servers(std::initializer_list<std::tuple<const char*, const char*, int>> list) {
        int i = 0;
        for (const auto& [name, remark, check] : list)
            state.Servers[++i] = {QString::fromUtf8(name), QString(), QString::fromUtf8(remark),
                                  static_cast<qint16>(check), 0};
        state.SERVER_CNT = static_cast<qint16>(i);
    }
    // The operator types into frmINPUT and closes it.
    void typeIntoInput(const QString& name, const QString& remark) {
        ui.onModal = [this, name, remark](QDialog& d) {
            auto* n = d.findChild<QLineEdit*>(QStringLiteral("Sname"));
            auto* r = d.findChild<QLineEdit*>(QStringLiteral("dETC"));
            inputSeen << qMakePair(n->text(), r->text());
            n->setText(name);
            r->setText(remark);
            d.reject();
        };
    }
    static void click(LIST& list, const char* button) {
        list.findChild<QPushButton*>(QLatin1String(button))->click();
    }
    static QTreeWidget* rows(LIST& list) {
        return list.findChild<QTreeWidget*>(QStringLiteral("List1"));
    }
    static QStringList texts(LIST& list) {
        QStringList t;
        for (int i = 0; i < rows(list)->topLevelItemCount(); ++i) {
            const auto* item = rows(list)->topLevelItem(i);
            t << item->text(0) + QLatin1Char('|') + item->text(1) +
                     (item->checkState(0) == Qt::Checked ? QStringLiteral("|paused") : QString());
        }
        return t;
    }
    static void showActive(QDialog& w) {
        if (w.isVisible())
            return;
        w.show();
        QApplication::setActiveWindow(&w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    // The operator clicks the row with the mouse.
    static void selectRow(LIST& list, int row, Qt::KeyboardModifiers keys = {}) {
        showActive(list);
        QTreeWidget* view = rows(list);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, keys,
                          view->visualItemRect(view->topLevelItem(row)).center());
    }
    QString key(const QString& k) const {
        return ReadIniKey(state, kSettingsSection, k, kServerListFile);
    }
    QStringList messages() const {
        QStringList m;
        for (const auto& msg : ui.messages)
            m << msg.text;
        return m;
    }
};

} // namespace

TEST_F(EditorTest, OpensWithTheTableAndPausedServersTicked) {
    servers(
        {{"fileserver", "ファイルサーバー", 1}, {"db", "", -1}, {"new", "check key absent", 0}});
    state.EditName = QStringLiteral("held from last time");
    state.EditIndex = 7;
    LIST list(state, ui, &sCnt);
    EXPECT_EQ(list.windowTitle(), QStringLiteral("SERVER_LIST"));
    EXPECT_EQ(rows(list)->headerItem()->text(0), QStringLiteral("検証サーバー"));
    EXPECT_EQ(rows(list)->headerItem()->text(1), QStringLiteral("備考"));
    EXPECT_EQ(texts(list),
              (QStringList{QStringLiteral("fileserver|ファイルサーバー"),
                           QStringLiteral("db||paused"), QStringLiteral("new|check key absent")}));
    EXPECT_EQ(state.EditIndex, 0) << "a selection from an earlier opening is dropped";

    list.reject(); // the close box
    EXPECT_EQ(key(QStringLiteral("SERVER_CHECK3")), QStringLiteral("1"));
    EXPECT_EQ(key(QStringLiteral("SERVER_CHECK2")), QStringLiteral("-1"));
    EXPECT_EQ(key(QStringLiteral("SERVER_ETC1")), QStringLiteral("ファイルサーバー"));
    EXPECT_EQ(key(QStringLiteral("SERVER_CNT")), QStringLiteral("3"));
    EXPECT_EQ(state.Servers[3].Check, 1);
    EXPECT_EQ(sCnt.text(), QStringLiteral("3 件"));
}

TEST_F(EditorTest, AddsUpToTenAndThenRefuses) {
    LIST list(state, ui, &sCnt);
    for (int i = 1; i <= 10; ++i) {
        typeIntoInput(QStringLiteral("host%1").arg(i), QStringLiteral("第%1").arg(i));
        click(list, "Command1");
    }
    EXPECT_EQ(rows(list)->topLevelItemCount(), 10);
    EXPECT_TRUE(ui.messages.isEmpty());
    click(list, "Command1");
    EXPECT_EQ(rows(list)->topLevelItemCount(), 10);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, QStringLiteral("検証サーバー登録件数は 10件迄です。"));
    EXPECT_EQ(ui.messages[0].icon, platform::MessageIcon::Critical);
    EXPECT_EQ(ui.messages[0].modality, platform::Modality::System);
    EXPECT_EQ(ui.modalShown.size(), 10) << "the input dialog opened at ten";
    list.reject();
    EXPECT_EQ(sCnt.text(), QStringLiteral("10 件"));
    EXPECT_EQ(key(QStringLiteral("SERVER_NAME10")), QStringLiteral("host10"));
}

TEST_F(EditorTest, AddAfterAClickStartsFromThatRowAndAnEmptyNameAddsNothing) {
    servers({{"fileserver", "ファイル", 1}});
    LIST list(state, ui, &sCnt);
    typeIntoInput(QString(), QString());
    click(list, "Command1");
    EXPECT_EQ(rows(list)->topLevelItemCount(), 1);

    selectRow(list, 0);
    typeIntoInput(QStringLiteral("fileserver"), QStringLiteral("ファイル")); // closed unchanged
    click(list, "Command1");
    EXPECT_EQ(inputSeen.last(),
              qMakePair(QStringLiteral("fileserver"), QStringLiteral("ファイル")));
    EXPECT_EQ(texts(list), (QStringList{QStringLiteral("fileserver|ファイル"),
                                        QStringLiteral("fileserver|ファイル")}));
    EXPECT_EQ(state.EditName, QString());
}

TEST_F(EditorTest, EditKeepsWhatWasEmptiedAndTheCheckBox) {
    servers({{"a", "remark a", -1}, {"b", "remark b", 1}});
    LIST list(state, ui, &sCnt);
    click(list, "Command2");
    EXPECT_EQ(messages(),
              QStringList{QStringLiteral("編集する【検証サーバー】を選択してください。")});

    selectRow(list, 0);
    typeIntoInput(QStringLiteral("a2"), QString());
    click(list, "Command2");
    selectRow(list, 1);
    typeIntoInput(QString(), QStringLiteral("new remark"));
    click(list, "Command2");
    EXPECT_EQ(texts(list),
              (QStringList{QStringLiteral("a2|remark a|paused"), QStringLiteral("b|new remark")}));
}

TEST_F(EditorTest, DeleteRemovesAtOnceAndThenAsksForASelection) {
    servers({{"a", "", 1}, {"b", "", 1}, {"c", "", 1}, {"d", "", 1}, {"e", "", 1}});
    LIST first(state, ui, &sCnt);
    first.reject();
    LIST list(state, ui, &sCnt);
    selectRow(list, 1);
    click(list, "Command3");
    selectRow(list, 3);
    click(list, "Command3");
    click(list, "Command3");
    EXPECT_EQ(messages(),
              QStringList{QStringLiteral("削除する【検証サーバー】を選択してください。")});
    EXPECT_EQ(texts(list),
              (QStringList{QStringLiteral("a|"), QStringLiteral("c|"), QStringLiteral("d|")}));
    list.reject();
    EXPECT_EQ(key(QStringLiteral("SERVER_CNT")), QStringLiteral("3"));
    EXPECT_EQ(key(QStringLiteral("SERVER_NAME2")), QStringLiteral("c"));
    // Keys beyond the count stay in the file, unread.
    EXPECT_EQ(key(QStringLiteral("SERVER_NAME4")), QStringLiteral("d"));
    EXPECT_EQ(key(QStringLiteral("SERVER_NAME5")), QStringLiteral("e"));
    EXPECT_EQ(state.SERVER_CNT, 3);
}

TEST_F(EditorTest, TheButtonsActOnTheHighlightedRow) {
    const auto key = [](Qt::Key k) { return [k](LIST& l) { QTest::keyClick(rows(l), k); }; };
    const auto clickRow = [](int row, Qt::KeyboardModifiers keys = {}) {
        return [row, keys](LIST& l) { selectRow(l, row, keys); };
    };
    const auto tab = [](LIST& l) { rows(l)->setFocus(Qt::TabFocusReason); };
    const struct {
        const char* what;
        std::vector<std::function<void(LIST&)>> steps;
        const char* button;
        QStringList after;
    } cases[] = {
        {"click, down, down, Delete",
         {clickRow(0), key(Qt::Key_Down), key(Qt::Key_Down)},
         "Command3",
         {"alpha|", "bravo|"}},
        {"keyboard only: tab, down, Edit",
         {tab, key(Qt::Key_Down)},
         "Command2",
         {"alpha|", "edited|", "charlie|"}},
        {"End, Delete", {tab, key(Qt::Key_End)}, "Command3", {"alpha|", "bravo|"}},
        {"click, ctrl-click the same row: nothing highlighted",
         {clickRow(2), clickRow(2, Qt::ControlModifier)},
         "Command3",
         {"alpha|", "bravo|", "charlie|"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        servers({{"alpha", "", 1}, {"bravo", "", 1}, {"charlie", "", 1}});
        typeIntoInput(QStringLiteral("edited"), QString());
        LIST list(state, ui, &sCnt);
        showActive(list);
        for (const auto& step : c.steps)
            step(list);
        QTest::mouseClick(list.findChild<QPushButton*>(QLatin1String(c.button)), Qt::LeftButton);
        EXPECT_EQ(texts(list), c.after);
        list.reject();
    }
}

TEST_F(EditorTest, TheInputRefusesOnlyWhatTheSettingsFileCannotHold) {
    const QString badName =
        QStringLiteral("【検証サーバー名】に使用できない文字が含まれています。");
    const QString badRemark =
        QStringLiteral("【備　　　　　考】に使用できない文字が含まれています。");
    const struct {
        QString loaded;       // a row from the file, edited; none: a new row
        QString name, remark; // what the operator enters ("" leaves the field alone)
        QString refusal;
        QString row;
    } cases[] = {
        {{}, "file server", "it's \"ours\"; #1 [a=b]", {}, "file server|it's \"ours\"; #1 [a=b]"},
        {{}, "サーバー①.jp", "髙橋さん担当", {}, "サーバー①.jp|髙橋さん担当"},
        // The field stops where a read of the file would cut the entry.
        {{}, QString(600, u'a'), "x", {}, QString(511, u'a') + "|x"},
        {{}, "host\tname", "x", badName, {}},
        {{}, "line\nbreak", "x", badName, {}},
        {{}, "snow☃man", "x", badName, {}},
        {{}, "ok", "😀", badRemark, {}},
        {"a\tb", {}, "only the remark", {}, "a\tb|only the remark"},
        {QString(700, u'b'), {}, "long name kept", {}, QString(700, u'b') + "|long name kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.name + c.remark).left(40));
        ui.messages.clear();
        servers({});
        if (!c.loaded.isEmpty()) {
            state.Servers[1] = {c.loaded, QString(), QStringLiteral("old"), 1, 0};
            state.SERVER_CNT = 1;
        }
        ui.onModal = [&c](QDialog& d) {
            showActive(d);
            for (auto [field, text] : {std::pair{"Sname", c.name}, std::pair{"dETC", c.remark}}) {
                auto* e = d.findChild<QLineEdit*>(QLatin1String(field));
                if (text.isEmpty())
                    continue;
                e->selectAll();
                const bool typeable = std::all_of(text.begin(), text.end(), [](QChar ch) {
                    return ch.unicode() >= u' ' && ch.unicode() < 0x80;
                });
                if (typeable)
                    QTest::keyClicks(e, text);
                else
                    e->insert(text); // pasted, or committed by an IME
            }
            d.close(); // the close box
        };
        LIST list(state, ui, &sCnt);
        if (c.loaded.isEmpty()) {
            click(list, "Command1");
        } else {
            selectRow(list, 0);
            click(list, "Command2");
        }
        EXPECT_EQ(messages(), c.refusal.isEmpty() ? QStringList() : QStringList{c.refusal});
        const QStringList after = texts(list);
        EXPECT_EQ(after.value(0), c.row);
        list.reject();
    }
}

// Closing the editor saves the list; a save that fails is said, naming the
// file and the reason, and the table in memory still follows the window.
TEST_F(EditorTest, ASaveThatFailsOnClosingSaysWhichFileAndWhy) {
    servers({{"a", "", 1}});
    ASSERT_TRUE(QDir(folder.folder()).mkdir(kServerListFile)); // nothing can replace it
    LIST list(state, ui, &sCnt);
    list.reject();
    EXPECT_EQ(messages(),
              QStringList{
                  QStringLiteral("【") + folder.path(kServerListFile) +
                  QStringLiteral("】に保存できませんでした（同じ名前のフォルダーがあります）。")});
    EXPECT_EQ(ui.messages.value(0).icon, platform::MessageIcon::Critical);
    EXPECT_EQ(state.SERVER_CNT, 1);
    EXPECT_EQ(sCnt.text(), QStringLiteral("1 件"));
}
