#include "ServiceLog.h"

namespace mailwire {
namespace {
thread_local QString t_log;
}

void AddLog(const QString& text) {
    t_log += text + QStringLiteral("\r\n");
}

QString LogText() {
    return t_log;
}

void LogClear() {
    t_log.clear();
}

void AddErrorLog(const char* className, const char* operation, int number,
                 const QString& description) {
    AddLog(QStringLiteral("--") + QLatin1String(className) + QLatin1Char(' ') +
           QLatin1String(operation) + QStringLiteral(" -- Error:") + QString::number(number) +
           QLatin1Char(' ') + description);
}

} // namespace mailwire
