#pragma once

#include <functional>

namespace platform {

/// Turns SIGTERM, SIGINT and SIGHUP (log-off, shutdown, Ctrl+C) into a call
/// of onQuit on the event loop, so the program ends through its normal path:
/// tray icon removed, lock released.
void onQuitSignals(std::function<void()> onQuit);

} // namespace platform
