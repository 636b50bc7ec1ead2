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

    /// Shows a dialog modally (a nested event loop), blocking its parent
    /// window; returns its result when it is closed.
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

/// The boxes in the title bar of a window that has neither a minimize nor a
/// maximize box.
enum class TitleBoxes {
    CloseOnly, ///< the close box
    None,      ///< none: the window is left through a button of its own
};

/// Gives window a title bar with those boxes. Some window managers offer
/// minimize and maximize whatever the window asks (openbox does for every
/// dialog): such a window is given a fixed size when it is fitted into the
/// screen, which takes maximizing away, and it comes back at once when it
/// is minimized, since on a desktop without a taskbar a minimized tool
/// window cannot be found again, and monitoring waits while one is open.
void setTitleBoxes(QWidget& window, TitleBoxes boxes);

/// Fits window, before it is shown, into the available area of its screen
/// less the room a window manager's frame takes. Sizes the window set for
/// itself, and those of its lists and text boxes (which scroll by
/// themselves), are minimums only where the screen has room for them; what
/// still does not fit goes into a scroll area, so every control stays
/// reachable. A window that fits keeps its size.
void fitIntoScreen(QWidget& window);

/// Fits a window into its screen (fitIntoScreen) and moves it to the middle.
void centre(QWidget& window);

/// The program's title, the caption of every message box.
inline const QString kProgramTitle = QStringLiteral("Pulsewatch");

} // namespace platform
