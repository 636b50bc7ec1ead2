#pragma once

#include <QString>

// The library's shared error log: one text per thread, appended to by the
// error handlers of both classes.
namespace mailwire {

void AddLog(const QString& text);
QString LogText();
void LogClear();

/// "--" + class + " " + operation + " -- Error:" + number + " " + description
void AddErrorLog(const char* className, const char* operation, int number,
                 const QString& description);

} // namespace mailwire
