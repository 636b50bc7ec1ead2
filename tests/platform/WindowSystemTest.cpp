#include "platform/WindowSystem.h"

#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
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
