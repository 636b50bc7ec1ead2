#pragma once

#include <QString>
#include <QUrl>

class QDialog;
class QWidget;

namespace platform {

enum class MessageIcon { Critical, Information, Warning };

/// Application-modal boxes stay over the program's windows; system-modal
/// ones stay on top of every window on the desktop.
enum class Modality { Application, System };

/// The window-system operations the program's windows use. The Qt version
/// shows real windows; tests put a recorder in its place.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    /// A message box with an OK button and the title "Pulsewatch"; returns
    /// when it is dismissed.
    virtual void messageBox(const QString& text, MessageIcon icon,
                            Modality modality = Modality::Application) = 0;

    /// Shows a dialog modally (a nested event loop); returns its result when
    /// it is closed.
    virtual int showModal(QDialog& dialog) = 0;

    /// Shows a window and returns at once.
    virtual void showModeless(QWidget& window) = 0;

    /// Opens a link (mailto:, https:) in the user's own program.
    virtual void openUrl(const QUrl& url) = 0;

    /// The standard open-file chooser, starting in folder; the full path
    /// chosen, or "" when the chooser was cancelled.
    virtual QString getOpenFileName(QWidget* parent, const QString& folder) = 0;

    /// The standard save-file chooser, starting at path (a folder and a
    /// suggested name), offering the files filter names ("PNG (*.png)");
    /// the full path chosen, or "" when the chooser was cancelled.
    virtual QString getSaveFileName(QWidget* parent, const QString& path,
                                    const QString& filter) = 0;

    /// True while there is a notification area to show the tray icon in: an
    /// X tray, or a StatusNotifierItem host on the session bus.
    virtual bool trayAvailable() = 0;
};

/// The real window system, on Qt Widgets.
class QtWindowSystem : public WindowSystem {
public:
    void messageBox(const QString& text, MessageIcon icon, Modality modality) override;
    int showModal(QDialog& dialog) override;
    void showModeless(QWidget& window) override;
    void openUrl(const QUrl& url) override;
    QString getOpenFileName(QWidget* parent, const QString& folder) override;
    QString getSaveFileName(QWidget* parent, const QString& path, const QString& filter) override;
    bool trayAvailable() override;
};

/// Moves a window to the middle of its screen.
void centre(QWidget& window);

/// The program's title, the caption of every message box.
inline const QString kProgramTitle = QStringLiteral("Pulsewatch");

} // namespace platform
