#pragma once

#include <functional>

class QApplication;
class frmTray;

namespace dialup {
class RemoteAccessService;
}
namespace platform {
class SoundPlayer;
}

namespace app {

/// What a whole-program test may put in place of the real program's parts;
/// the defaults are the program as it ships.
struct ProgramParts {
    int tickMs = 0;                             ///< Timer1's interval; 0 for the real minute
    dialup::RemoteAccessService* ras = nullptr; ///< nullptr for pppd
    platform::SoundPlayer* sound = nullptr;     ///< nullptr for the sound card
    std::function<void(frmTray&)> loaded;       ///< told once the tray window has loaded
};

/// Wires the tray window, its tool windows and the platform services, and
/// runs the program until it ends; the process's exit status.
int runProgram(QApplication& app, const ProgramParts& parts = {});

} // namespace app
