#pragma once

#include <QString>
#include <QtGlobal>

namespace testsupport {

/// Collects what Qt itself prints (warnings, debug lines) while it lives:
/// the mail library must print nothing, since cron mails whatever lands on
/// standard error. One at a time per process.
class QtMessages {
public:
    QtMessages() { m_previous = qInstallMessageHandler(&QtMessages::collect); }
    ~QtMessages() { qInstallMessageHandler(m_previous); }
    QtMessages(const QtMessages&) = delete;
    QtMessages& operator=(const QtMessages&) = delete;

    /// Every message so far, one per line.
    static QString text() { return collected(); }
    static void clear() { collected().clear(); }

private:
    static QString& collected() {
        static QString all;
        return all;
    }
    static void collect(QtMsgType, const QMessageLogContext&, const QString& message) {
        collected() += message + QLatin1Char('\n');
    }
    QtMessageHandler m_previous = nullptr;
};

} // namespace testsupport
