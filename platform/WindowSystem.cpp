#include "platform/WindowSystem.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QtDebug>

namespace platform {
namespace {

// Set on a window that asked for no maximize box: fitIntoScreen fixes its
// size, which is what takes maximizing away where the window manager
// offers it regardless.
constexpr char kNoMaximize[] = "pw_noMaximize";
// Set on a window whose contents fitIntoScreen has put into a scroll area.
constexpr char kScrolled[] = "pw_scrolled";

// Brings a window that was minimized back at once.
class StayShown : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* w = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::WindowStateChange && w->isMinimized()) {
            // After the window manager has finished the minimize.
            QTimer::singleShot(0, w, [w = QPointer<QWidget>(w)] {
                if (!w || !w->isVisible())
                    return;
                w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
                w->show();
                w->raise();
                w->activateWindow();
            });
        }
        return false;
    }
};

// The room a window manager's frame takes around a window: the real frame
// once shown, before that a title bar and thin borders.
QMargins frameRoom(const QWidget& w) {
    if (w.isVisible() && w.frameGeometry() != w.geometry()) {
        const QRect f = w.frameGeometry();
        const QRect g = w.geometry();
        return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                f.bottom() - g.bottom()};
    }
    return {4, 2 * w.fontMetrics().height(), 4, 8};
}

// How much more room the window's contents need than there is.
QSize excessOver(const QWidget& window, QSize room) {
    const QSize need = window.minimumSizeHint().expandedTo(window.minimumSize());
    return {std::max(need.width() - room.width(), 0), std::max(need.height() - room.height(), 0)};
}

// Lists and text boxes scroll their own contents: a minimum set on them is
// given up, as far as excess says, before anything else has to scroll.
void shrinkScrollingMinimums(QWidget& window, QSize excess) {
    for (auto* view : window.findChildren<QAbstractScrollArea*>()) {
        const QSize min = view->minimumSize();
        const QSize floor = view->minimumSizeHint().boundedTo(min);
        const int w = std::max(min.width() - std::max(excess.width(), 0), floor.width());
        const int h = std::max(min.height() - std::max(excess.height(), 0), floor.height());
        excess -= QSize(min.width() - w, min.height() - h);
        view->setMinimumSize(w, h);
    }
}

// Moves the window's contents into a scroll area that fills it; the
// control that gets the focus is scrolled into view.
void scrollContents(QWidget& window) {
    QLayout* layout = window.layout();
    if (!layout)
        return;
    auto* contents = new QWidget;
    contents->setLayout(layout); // takes the layout, and its widgets, from the window
    auto* scroll = new QScrollArea(&window);
    scroll->setObjectName(QStringLiteral("pw_scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(contents);
    auto* outer = new QVBoxLayout(&window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    QObject::connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget*, QWidget* now) {
        if (!now || !scroll->widget()->isAncestorOf(now))
            return;
        // All of the control, not only its text cursor (ensureWidgetVisible).
        const QPoint centre = now->mapTo(scroll->widget(), now->rect().center());
        scroll->ensureVisible(centre.x(), centre.y(), now->width() / 2 + 1, now->height() / 2 + 1);
    });
    window.setProperty(kScrolled, true);
}

} // namespace

void QtWindowSystem::messageBox(const QString& text, MessageIcon icon, Modality modality) {
    // Also on standard error: the tray program is often started from a
    // terminal or an autostart log, where a box alone goes unseen.
    qInfo().noquote() << kProgramTitle + QStringLiteral(": ") + text;
    const QMessageBox::Icon qtIcon = icon == MessageIcon::Critical  ? QMessageBox::Critical
                                     : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                                    : QMessageBox::Information;
    QMessageBox box(qtIcon, kProgramTitle, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    if (modality == Modality::System)
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

int QtWindowSystem::showModal(QDialog& dialog) {
    centre(dialog);
    // Modal to its own window only: an application-modal window would also
    // block the X tray icon, and a right click there must still bring the
    // refusal box. A window without a parent blocks nothing this way; the
    // open-window check keeps a second tool window out.
    dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

void QtWindowSystem::showModeless(QWidget& window) {
    centre(window);
    window.show();
    window.raise();
    window.activateWindow();
}

void QtWindowSystem::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

QString QtWindowSystem::getOpenFileName(QWidget* parent, const QString& folder) {
    // No filter and no title of its own, like the chooser it stands for.
    return QFileDialog::getOpenFileName(parent, QString(), folder);
}

QString QtWindowSystem::getSaveFileName(QWidget* parent, const QString& path,
                                        const QString& filter) {
    return QFileDialog::getSaveFileName(parent, QString(), path, filter);
}

bool QtWindowSystem::trayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void setTitleBoxes(QWidget& window, TitleBoxes boxes) {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (boxes == TitleBoxes::CloseOnly)
        flags |= Qt::WindowCloseButtonHint;
    window.setWindowFlags(flags);
    if (!window.property(kNoMaximize).toBool())
        window.installEventFilter(new StayShown(&window));
    window.setProperty(kNoMaximize, true);
}

void fitIntoScreen(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Before its first show a window still has Qt's default 640x480; it
    // takes the size of its contents only when shown. Give it that size now,
    // so the window is measured as it will appear.
    if (!window.isVisible() && !window.testAttribute(Qt::WA_Resized))
        window.adjustSize();
    const QSize room = screen->availableGeometry().size().shrunkBy(frameRoom(window));
    window.setMinimumSize(window.minimumSize().boundedTo(room));
    if (const QSize excess = excessOver(window, room); !excess.isNull()) {
        shrinkScrollingMinimums(window, excess);
        if (window.layout())
            window.layout()->activate();
        if (!excessOver(window, room).isNull() && !window.property(kScrolled).toBool())
            scrollContents(window);
    }
    const QSize size = window.size().boundedTo(room).expandedTo(
        window.minimumSizeHint().expandedTo(window.minimumSize()).boundedTo(room));
    if (window.property(kNoMaximize).toBool()) {
        window.setMinimumSize(0, 0);
        window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        window.setFixedSize(size);
    } else {
        window.resize(size);
    }
}

void centre(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    fitIntoScreen(window);
    const QRect area = screen->availableGeometry();
    const QSize size = window.frameGeometry().size();
    window.move(area.x() + (area.width() - size.width()) / 2,
                area.y() + (area.height() - size.height()) / 2);
}

} // namespace platform
