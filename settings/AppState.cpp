#include "settings/AppState.h"

AppState::AppState(const QString& folder) : AppFolder(folder) {
    if (!AppFolder.isEmpty() && !AppFolder.endsWith(QLatin1Char('/')))
        AppFolder += QLatin1Char('/');
    DatabasePath = AppFolder + QStringLiteral("PLW");
}
