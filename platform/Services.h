#pragma once

#include "platform/Clock.h"
#include "platform/Ending.h"
#include "platform/Sleeper.h"
#include "platform/SoundPlayer.h"
#include "platform/WindowSystem.h"

namespace platform {

/// The platform services the windows and the alarms use, handed in from
/// main() (real ones) or from a test (recorders).
struct Services {
    WindowSystem& ui;
    Clock& clock;
    SoundPlayer& sound;
    Sleeper& sleeper;
    /// Set when the program is told to end; every wait of the alarms looks at it.
    Ending& ending;
};

} // namespace platform
