#pragma once

#include "platform/WindowSystem.h"

#include <QDialog>
#include <QList>
#include <QUrl>

#include <functional>

namespace testsupport {

/// Records message boxes, windows and links instead of showing them.
/// A modal dialog is handed to onModal (if set) and then closed with its
/// current result, so nothing blocks.
class FakeWindowSystem : public platform::WindowSystem {
public:
    struct Message {
        QString text;
        platform::MessageIcon icon;
        platform::Modality modality;
    };
    QList<Message> messages;
    QList<QString> modalShown; // object names of dialogs shown modally
    QList<QString> modelessShown;
    QList<QUrl> urls;
    std::function<void(QDialog&)> onModal;

    void messageBox(const QString& text, platform::MessageIcon icon,
                    platform::Modality modality) override {
        messages.append({text, icon, modality});
    }
    int showModal(QDialog& dialog) override {
        modalShown << dialog.objectName();
        if (onModal)
            onModal(dialog);
        return dialog.result();
    }
    void showModeless(QWidget& window) override { modelessShown << window.objectName(); }
    void openUrl(const QUrl& url) override { urls << url; }

    QList<QString> nextFileNames; // what the chooser returns, one per call ("" when empty)
    QList<QString> chooserFolders;
    QString getOpenFileName(QWidget*, const QString& folder) override {
        chooserFolders << folder;
        return nextFileNames.isEmpty() ? QString() : nextFileNames.takeFirst();
    }

    QList<QString> saveSuggestions; // the paths the save chooser started at
    QString getSaveFileName(QWidget*, const QString& path, const QString&) override {
        saveSuggestions << path;
        return nextFileNames.isEmpty() ? QString() : nextFileNames.takeFirst();
    }

    bool tray = true; // what trayAvailable answers
    bool trayAvailable() override { return tray; }
};

} // namespace testsupport
