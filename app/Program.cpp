#include "app/Program.h"

#include "dialup/PppdService.h"
#include "events/EventDatabase.h"
#include "logview/frmLog.h"
#include "monitor/ToolWindows.h"
#include "monitor/frmTray.h"
#include "platform/Artwork.h"
#include "platform/QuitSignals.h"
#include "platform/Services.h"
#include "settings/Config.h"
#include "settings/Settings.h"
#include "tools/frmAbout.h"
#include "tools/frmPing.h"

#include <QApplication>

namespace app {

int runProgram(QApplication& app, const ProgramParts& parts) {
    QApplication::setApplicationName(QStringLiteral("Pulsewatch"));
    QApplication::setApplicationVersion(QStringLiteral(PW_VERSION));
    QApplication::setQuitOnLastWindowClosed(false); // it lives in the tray
    QApplication::setWindowIcon(platform::svgIcon(platform::kRunningIcon));

    AppState state(GetAppFolder());
    platform::QtWindowSystem ui;
    platform::SystemClock clock;
    platform::QtSoundPlayer soundCard;
    platform::SoundPlayer& sound = parts.sound ? *parts.sound : soundCard;
    platform::Ending ending;
    platform::EventLoopSleeper sleeper(ending);
    platform::Services services{ui, clock, sound, sleeper, ending};
    dialup::PppdService pppd;
    pppd.setEnding(&ending); // a dial under way ends with the program
    dialup::RemoteAccessService& ras = parts.ras ? *parts.ras : pppd;
    monitor::ToolWindows tools;
    tools.set(monitor::Tool::Config, [&](QWidget* parent) {
        auto* config = new Config(state, ui, ras, parent);
        config->setStoreProbe({&events::uriWithoutPassword, [&state](const QString& uri) {
                                   events::EventStore store = events::EventStore::of(state);
                                   store.uri = uri;
                                   events::EventDatabase db(store, 0, true);
                                   return db.isOpen() ? QString() : db.error();
                               }});
        return config;
    });
    tools.set(monitor::Tool::Log,
              [&](QWidget* parent) { return new frmLog(state, ui, clock, parent); });
    tools.set(monitor::Tool::Ping, [&](QWidget* parent) { return new frmPing(state, ui, parent); });
    tools.set(monitor::Tool::About, [&](QWidget* parent) {
        return new frmAbout(state, ui, QStringLiteral(PW_VERSION), parent);
    });

    frmTray tray(state, services, tools, ras);
    if (parts.tickMs > 0)
        tray.setTickMs(parts.tickMs);
    // Ending leaves every event loop at once, the nested loops of modal
    // windows included, and also when it comes before app.exec() (the
    // first-run dialog); only then are the windows unloaded. Work that goes
    // on inside a closed window (a long manual ping) is not waited for
    // beyond the deadline: by then the windows are unloaded, the rows
    // written or kept, the lock released and a dial-up link hung up.
    QObject::connect(&tray, &frmTray::quitRequested, &app, [] {
        QCoreApplication::exit(0);
        platform::endWithin(700);
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &tray,
                     [&tray] { tray.Form_QueryUnload(); });
    const auto quitRequests = platform::onQuitRequests(app, [&tray] { tray.endProgram(); });
    if (!tray.Form_Load())
        return 1;
    if (tray.unloaded())
        return 0;
    if (parts.loaded)
        parts.loaded(tray);
    return app.exec();
}

} // namespace app
