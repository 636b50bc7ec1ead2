#pragma once

class QDialog;

namespace platform {

/// What Escape does in a window: close it as Cancel would, or nothing in a
/// window that has no Cancel (it closes only by its close box or its own
/// button, so a stray key can never silence an alarm or commit a half-typed
/// row).
enum class Escape { Closes, Ignored };

/// Keys as an operator drives the dialog: Enter presses the focused push
/// button (only that one: Enter in a text field presses nothing), and Escape
/// acts as escape says.
void operatorKeys(QDialog& dialog, Escape escape);

} // namespace platform
