#pragma once

#include <QHostAddress>
#include <QString>

// The names a mail gives of the machine it comes from: the HELO/EHLO
// argument and the domain of a Message-ID. Found without asking DNS, so a
// dead name server never holds a mail.
namespace mailwire {

/// The host name as the kernel has it (may be one label), "" when unset.
QString shortHostName();

/// This machine's fully qualified name: host when it has a dot, else the
/// first name that extends it ("host.example.jp") on its line of
/// hostsFile. "" when there is none.
QString fullyQualifiedName(const QString& host = shortHostName(),
                           const QString& hostsFile = QStringLiteral("/etc/hosts"));

/// An address as an SMTP address literal (RFC 5321 section 4.1.3):
/// "[192.0.2.1]", "[IPv6:2001:db8::1]"; an IPv4-mapped address in its IPv4
/// form, without a zone (it means nothing to the server).
QString addressLiteral(const QHostAddress& address);

/// What HELO/EHLO says: the configured name, a dotted address in it as an
/// address literal; with none configured, this machine's fully qualified
/// name, else the literal of the connection's local end.
QString heloName(const QString& configured, const QHostAddress& localEnd);

/// True for a domain in dot-atom form of letters, digits and hyphens
/// ("example.jp", "vm"), or an address literal ("[192.0.2.1]").
bool isMailDomain(const QString& domain);

} // namespace mailwire
