#include "platform/WindowSystem.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<QWidget> windowWithContent(bool dialog, QSize content) {
    std::unique_ptr<QWidget> w(dialog ? new QDialog : new QWidget);
    auto* label = new QLabel(w.get());
    label->setFixedSize(content);
    (new QVBoxLayout(w.get()))->addWidget(label);
    return w;
}

} // namespace

// A tool window is centred by the size it is shown with, also when it has
// never been shown before (Qt then still reports its default 640x480).
TEST(WindowSystemTest, CentresAWindowByTheSizeItIsShownWith) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    struct Case {
        const char* name;
        bool dialog;
        QSize content;
        QSize resized; // set by the window itself before it is shown
    };
    const Case cases[] = {
        {"dialog never shown", true, {300, 120}, {}},
        {"window never shown", false, {360, 140}, {}},
        {"window with its own size", false, {100, 50}, {500, 400}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto w = windowWithContent(c.dialog, c.content);
        if (c.resized.isValid())
            w->resize(c.resized);
        platform::centre(*w);
        w->show();
        // The window manager's frame, added at the show, may shift it a little.
        const QPoint off = w->frameGeometry().center() - screen.center();
        EXPECT_LE(off.manhattanLength(), 10)
            << "at " << w->x() << "," << w->y() << " size " << w->width() << "x" << w->height();
        if (c.resized.isValid()) {
            EXPECT_EQ(w->size(), c.resized);
        }
        w->hide();
    }
}

// A window larger than the screen area is made to fit it: a list that
// scrolls by itself gives up its minimum width first; contents that still
// need more room go into a scroll area. A window that fits keeps its size,
// and one without a maximize box gets a fixed size.
TEST(WindowSystemTest, FitsAWindowIntoTheScreenArea) {
    const QSize area = QGuiApplication::primaryScreen()->availableGeometry().size();
    struct Case {
        const char* name;
        QSize label;   // fixed size of a label in the window
        int listWidth; // minimum width of a list beside it (0: none)
        bool titleBoxes;
        bool scrolls;
    };
    const Case cases[] = {
        {"fits", {300, 200}, 0, false, false},
        {"a wide list", {100, 100}, area.width() * 2, false, false},
        {"wide contents", {area.width() * 2, 100}, 0, false, true},
        {"tall contents, no maximize box", {100, area.height() * 2}, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDialog w;
        auto* layout = new QVBoxLayout(&w);
        auto* label = new QLabel(&w);
        label->setFixedSize(c.label);
        layout->addWidget(label);
        if (c.listWidth > 0) {
            auto* list = new QTreeWidget(&w);
            list->setMinimumWidth(c.listWidth);
            layout->addWidget(list);
        }
        if (c.titleBoxes)
            platform::setTitleBoxes(w, platform::TitleBoxes::CloseOnly);
        const QSize before = w.sizeHint();
        platform::centre(w);
        EXPECT_LE(w.width(), area.width());
        EXPECT_LE(w.height(), area.height());
        EXPECT_EQ(w.findChild<QScrollArea*>() != nullptr, c.scrolls);
        if (!c.scrolls && c.listWidth == 0) {
            EXPECT_EQ(w.size(), before);
        }
        EXPECT_EQ(w.minimumSize() == w.maximumSize(), c.titleBoxes);
        EXPECT_FALSE(w.windowFlags() &
                     (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
        w.show();
        EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(w.geometry()));
        w.hide();
    }
}
