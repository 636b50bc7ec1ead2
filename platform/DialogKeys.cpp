#include "platform/DialogKeys.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace platform {
namespace {

// Sees the keys the focused widget left unhandled, before the dialog's own
// handling (which would press the default button or reject).
class KeyFilter : public QObject {
public:
    KeyFilter(QDialog& dialog, Escape escape) : QObject(&dialog), m_escape(escape) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        auto* dialog = static_cast<QDialog*>(watched);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if (enter && mods == Qt::NoModifier) {
            // Only a focused push button is pressed: Enter from a text field
            // goes on to the dialog, and the windows with text fields have
            // no default button for it to press.
            auto* button = qobject_cast<QPushButton*>(dialog->focusWidget());
            if (!button || !button->isEnabled())
                return false;
            key->accept();
            if (!key->isAutoRepeat()) // a held key presses once, as Space does
                button->click();
            return true;
        }
        if (m_escape == Escape::Ignored && key->matches(QKeySequence::Cancel)) {
            key->accept();
            return true;
        }
        return false;
    }

private:
    Escape m_escape;
};

} // namespace

void operatorKeys(QDialog& dialog, Escape escape) {
    dialog.installEventFilter(new KeyFilter(dialog, escape));
}

} // namespace platform
