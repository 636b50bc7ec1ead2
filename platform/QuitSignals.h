#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QCoreApplication;

namespace platform {

/// Hands every request to end the program to onQuit, on the event loop:
/// SIGTERM, SIGINT and SIGHUP (shutdown, Ctrl+C, a closed terminal) and the
/// end of the desktop session, which Qt delivers as a Quit event to the
/// application. That event is taken here, before Qt would ask each window
/// to close and give up when one refuses. A session manager's request to
/// save state (commitDataRequest, saveStateRequest) is no end: the session
/// may go on, and so does the watch. The hooks live as long as the object
/// returned.
std::unique_ptr<QObject> onQuitRequests(QCoreApplication& app, std::function<void()> onQuit);

/// Ends the process, with status 0, ms milliseconds from now unless it has
/// ended by then. Once the program was told to end, it must not wait on work
/// that still runs inside a closed window or a cycle: a manual ping of many
/// packets, a mail's time-outs, the modem's hold of the line.
void endWithin(int ms);

} // namespace platform
