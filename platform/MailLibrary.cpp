#include "platform/MailLibrary.h"

#include "platform/Ending.h"

#include "mailwire/mailwire.h"

#include <QLibrary>
#include <QRegularExpression>
#include <QStringList>

namespace platform {

namespace {

// Servers want a domain in fully qualified form; a machine with none is
// given the one Debian's installer writes when none is given.
QString senderDomain(const _SmtpMailer& mailer) {
    const QString name = mailer.MachineName();
    return name.contains(QLatin1Char('.')) ? name : name + QStringLiteral(".localdomain");
}

} // namespace

QString mailLibraryIn(const QString& folder) {
    return folder + QStringLiteral("libmailwire.so");
}

namespace {

// A port from 1 to 65535, or 0.
int portIn(const QString& text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    return ok && port > 0 && port <= 0xFFFF ? port : 0;
}

// The library asks this during its waits; the program's quit handler sets
// the Ending it reads while the library yields to the event loop.
bool programEnding(void* ending) {
    return static_cast<const Ending*>(ending)->requested();
}

} // namespace

QString sendMail(const QString& libraryPath, const MailRelay& relay, const MailText& mail,
                 int timeoutMs, int totalMs, const Ending* ending) {
    QLibrary library(libraryPath);
    const auto create = reinterpret_cast<MailwireCreateFn>(library.resolve(kMailwireCreateSymbol));
    const auto release =
        reinterpret_cast<MailwireReleaseFn>(library.resolve(kMailwireReleaseSymbol));
    // Without its release an object could not be given back: make none.
    MailwireObject* object = create && release ? create("VBMailwire.SmtpMailer") : nullptr;
    _SmtpMailer* mailer = object ? object->querySmtpMailer() : nullptr;
    if (!mailer) {
        if (object)
            release(object);
        return create && release ? QStringLiteral("VBMailwire.SmtpMailer を作成できません。")
                                 : library.errorString();
    }
    if (timeoutMs > 0)
        mailer->setTimeoutMs(timeoutMs);
    mailer->setTotalTimeoutMs(totalMs);
    if (ending)
        mailer->setEndHook(programEnding, const_cast<Ending*>(ending));
    mailer->setLoginInClear(true);
    // "host:port" reaches a relay on a port of its own; a plain host (or an
    // IPv6 address, colons and all) takes the port setting, or the usual
    // port of the security mode.
    const QStringList hostPort = relay.server.split(QLatin1Char(':'));
    int port = hostPort.size() == 2 ? portIn(hostPort[1]) : 0;
    mailer->setServerName(port ? hostPort[0] : relay.server);
    if (!port)
        port = portIn(relay.port);
    if (!port)
        port = MailRelay::usualPort(relay.security);
    // The library's port is 16-bit signed; its transport reads the same
    // bits back as unsigned, so ports above 32767 arrive intact.
    mailer->setServerPort(static_cast<qint16>(static_cast<quint16>(port)));
    mailer->setSecurityMode(relay.security);
    mailer->setUserName(relay.user);
    mailer->setPassword(relay.password);
    mailer->setCaFile(relay.caFile);
    // Mail servers refuse a sender that is no address (the alarm's own
    // "P/L/W(Pulsewatch)"): pulsewatch@ this machine stands in for it.
    static const QRegularExpression address(QStringLiteral("^[^@\\s<>()\\[\\],;:\"]+@[^@\\s]+$"));
    mailer->setClientMailAddress(!relay.from.isEmpty()                   ? relay.from
                                 : relay.user.contains(QLatin1Char('@')) ? relay.user
                                 : address.match(mail.from).hasMatch()
                                     ? mail.from
                                     : QStringLiteral("pulsewatch@") + senderDomain(*mailer));
    mailer->setClientRealName(mail.realName);
    mailer->SetTo(mail.to);
    mailer->SetSubject(mail.subject);
    mailer->SetSentense(mail.body);
    mailer->SendMail();
    const QString error = mailer->ErrorMessage();
    release(object);
    return error;
}

} // namespace platform
