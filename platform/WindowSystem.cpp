#include "platform/WindowSystem.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QtDebug>

namespace platform {

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

void centre(QWidget& window) {
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    // Before its first show a window still has Qt's default 640x480; it
    // takes the size of its contents only when shown. Give it that size now,
    // so the window is measured as it will appear.
    if (!window.isVisible() && !window.testAttribute(Qt::WA_Resized))
        window.adjustSize();
    const QSize size = window.frameGeometry().size();
    window.move(area.x() + (area.width() - size.width()) / 2,
                area.y() + (area.height() - size.height()) / 2);
}

} // namespace platform
