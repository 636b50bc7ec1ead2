#include "ServiceHostName.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <unistd.h>

#include <climits>

namespace mailwire {

QString shortHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return QString();
    return QString::fromLocal8Bit(name).trimmed();
}

QString fullyQualifiedName(const QString& host, const QString& hostsFile) {
    if (host.isEmpty() || !isMailDomain(host))
        return QString();
    if (host.contains(QLatin1Char('.')))
        return host;
    // The files source of the resolver, as hostname --fqdn reads it when
    // DNS is not asked: "127.0.1.1 host.example.jp host".
    QFile file(hostsFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString prefix = host + QLatin1Char('.');
    while (!file.atEnd()) {
        QString line = QString::fromLatin1(file.readLine(4096));
        if (const qsizetype hash = line.indexOf(QLatin1Char('#')); hash >= 0)
            line.truncate(hash);
        const QStringList fields =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (!fields.mid(1).contains(host, Qt::CaseInsensitive))
            continue;
        for (const QString& name : fields.mid(1))
            if (name.startsWith(prefix, Qt::CaseInsensitive) && isMailDomain(name))
                return name;
    }
    return QString();
}

QString addressLiteral(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QLatin1Char('[') + QHostAddress(v4).toString() + QLatin1Char(']');
    QHostAddress bare = address;
    bare.setScopeId(QString());
    return QStringLiteral("[IPv6:") + bare.toString() + QLatin1Char(']');
}

QString heloName(const QString& configured, const QHostAddress& localEnd) {
    if (!configured.isEmpty()) {
        const QHostAddress literal(configured);
        return literal.isNull() ? configured : addressLiteral(literal);
    }
    const QString fqdn = fullyQualifiedName();
    if (!fqdn.isEmpty())
        return fqdn;
    return localEnd.isNull() ? QStringLiteral("[127.0.0.1]") : addressLiteral(localEnd);
}

bool isMailDomain(const QString& domain) {
    static const QRegularExpression label(
        QStringLiteral("^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (domain.startsWith(QLatin1Char('[')) && domain.endsWith(QLatin1Char(']'))) {
        QString inner = domain.mid(1, domain.size() - 2);
        if (inner.startsWith(QLatin1String("IPv6:"), Qt::CaseInsensitive))
            inner = inner.mid(5);
        return !QHostAddress(inner).isNull();
    }
    if (domain.isEmpty() || domain.size() > 253)
        return false;
    for (const QString& part : domain.split(QLatin1Char('.')))
        if (!label.match(part).hasMatch())
            return false;
    return true;
}

} // namespace mailwire
