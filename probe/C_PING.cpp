#include "probe/C_PING.h"

#include "platform/EventLoop.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

const QByteArray
    C_PING::kPayload("abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqrs"
                     "tuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklm");

namespace {

constexpr qint32 kGeneralFailure = 11050;

QString dotted(quint32 address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

} // namespace

QString C_PING::statusText(qint32 status) {
    switch (status) {
    case 0:
        return QStringLiteral("Success");
    case 11001:
        return QStringLiteral("Buffer too Small");
    case 11002:
        return QStringLiteral("Dest Network Not Reachable");
    case 11003:
        return QStringLiteral("Dest Host Not Reachable");
    case 11004:
        return QStringLiteral("Dest Protocol Not Reachable");
    case 11005:
        return QStringLiteral("Dest Port Not Reachable");
    case 11006:
        return QStringLiteral("No Resources Available");
    case 11007:
        return QStringLiteral("Bad Option");
    case 11008:
        return QStringLiteral("Hardware Error");
    case 11009:
        return QStringLiteral("Packet too Big");
    case 11010:
        return QStringLiteral("Rqst Timed Out");
    case 11011:
        return QStringLiteral("Bad Request");
    case 11012:
        return QStringLiteral("Bad Route");
    case 11013:
        return QStringLiteral("TTL Exprd in Transit");
    case 11014:
        return QStringLiteral("TTL Exprd Reassemb");
    case 11015:
        return QStringLiteral("Parameter Problem");
    case 11016:
        return QStringLiteral("Source Quench");
    case 11017:
        return QStringLiteral("Option too Big");
    case 11018:
        return QStringLiteral("Bad Destination");
    case 11019:
        return QStringLiteral("Address Deleted");
    case 11020:
        return QStringLiteral("Spec MTU Change");
    case 11021:
        return QStringLiteral("MTU Change");
    case 11022:
        return QStringLiteral("Unload");
    case 11050:
        return QStringLiteral("General Failure");
    default:
        return QString();
    }
}

// A dotted address is probed as given; its reverse name is only decoration,
// so a failed reverse lookup leaves HostName empty instead of failing.
quint32 C_PING::resolve(const QString& name) {
    const QByteArray raw = name.toUtf8();
    const in_addr_t numeric = ::inet_addr(raw.constData());
    if (numeric != INADDR_NONE) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = numeric;
        char host[NI_MAXHOST];
        if (::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                          0, NI_NAMEREQD) == 0)
            m_hostName = QString::fromUtf8(host);
        m_ipAddress = dotted(numeric);
        return numeric;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (::getaddrinfo(raw.constData(), nullptr, &hints, &found) != 0 || !found)
        return 0;
    const quint32 address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    m_hostName = QString::fromUtf8(found->ai_canonname ? found->ai_canonname : raw.constData());
    m_ipAddress = dotted(address);
    ::freeaddrinfo(found);
    return address;
}

void C_PING::raise(qint32 code, const QString& text, qint32 bytes, qint32 rtt, qint32 ttl) {
    if (m_onPing)
        m_onPing(code, text, m_hostName, m_ipAddress, bytes, rtt, ttl);
}

bool C_PING::Ping(const QString& name) {
    m_hostName.clear();
    m_ipAddress.clear();
    m_socketKind = probe::SocketKind::None;
    if (name.trimmed().isEmpty())
        return false;

    const quint32 address = resolve(name);
    if (address == 0) {
        m_hostName.clear();
        m_ipAddress.clear();
        return false;
    }

    probe::IcmpSocket socket;
    QString openError;
    const bool opened = socket.open(&openError);
    m_socketKind = socket.kind();
    const QByteArray payload = kPayload.left(m_charsPackets);
    const int waitMs = std::max(m_timeout, kMinReplyWaitMs);
    const qint32 count = m_packets;

    for (qint32 i = 0; i < count; ++i) {
        platform::yieldToEventLoop();
        if (!opened) {
            // Without a socket nothing was probed: say why, never "up".
            raise(kGeneralFailure, statusText(kGeneralFailure) + QStringLiteral(": ") + openError,
                  0, 0, 0);
            continue;
        }
        const probe::EchoOutcome r = socket.echo(address, payload, m_ttl, waitMs);
        if (r.kind == probe::EchoOutcome::NoReply) {
            raise(-1, QStringLiteral("ICMP Request Timeout"), 0, 0, 0);
            continue;
        }
        m_ipAddress = dotted(r.from);
        platform::yieldToEventLoop();
        if (r.kind == probe::EchoOutcome::Reply)
            raise(0, statusText(0), r.bytes, r.rttMs, r.ttl);
        else
            raise(r.status, statusText(r.status), 0, 0, 0);
    }
    return true;
}
