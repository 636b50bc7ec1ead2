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

bool C_PING::stillWanted() {
    platform::yieldToEventLoop();
    return !m_aborted;
}

namespace {

// The event values of one request's outcome; ipAddress names the replying
// or reporting node when there is one.
void describe(const probe::EchoOutcome& r, C_PING::Outcome* o) {
    if (r.kind == probe::EchoOutcome::NoReply) {
        o->code = -1;
        o->strCode = QStringLiteral("ICMP Request Timeout");
        return;
    }
    o->ipAddress = dotted(r.from);
    o->code = r.kind == probe::EchoOutcome::Reply ? 0 : r.status;
    o->strCode = C_PING::statusText(o->code);
    if (r.kind == probe::EchoOutcome::Reply) {
        o->bytes = r.bytes;
        o->rtt = r.rttMs;
        o->ttl = r.ttl;
    }
}

} // namespace

bool C_PING::Ping(const QString& name) {
    m_hostName.clear();
    m_ipAddress.clear();
    m_socketKind = probe::SocketKind::None;
    m_aborted = false;
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
    const qint32 count = m_packets;

    for (qint32 i = 0; i < count; ++i) {
        if (!stillWanted())
            break;
        if (!opened) {
            // Without a socket nothing was probed: say why, never "up".
            raise(kGeneralFailure, statusText(kGeneralFailure) + QStringLiteral(": ") + openError,
                  0, 0, 0);
            continue;
        }
        const probe::EchoOutcome r =
            socket.echo({address}, payload, m_ttl, m_timeout, [this] { return stillWanted(); })[0];
        if (m_aborted)
            break;
        Outcome o;
        o.ipAddress = m_ipAddress;
        describe(r, &o);
        m_ipAddress = o.ipAddress;
        if (r.kind != probe::EchoOutcome::NoReply && !stillWanted())
            break;
        raise(o.code, o.strCode, o.bytes, o.rtt, o.ttl);
    }
    return true;
}

std::vector<C_PING::Outcome> C_PING::PingEach(const QStringList& names) {
    m_aborted = false;
    std::vector<Outcome> out(names.size());
    std::vector<quint32> addresses;
    std::vector<Outcome*> sent;
    for (qsizetype i = 0; i < names.size(); ++i) {
        m_hostName.clear();
        m_ipAddress.clear();
        if (names[i].trimmed().isEmpty())
            continue;
        const quint32 address = resolve(names[i]);
        if (address == 0)
            continue;
        Outcome& o = out[static_cast<size_t>(i)];
        o.resolved = true;
        o.hostName = m_hostName;
        o.ipAddress = m_ipAddress;
        addresses.push_back(address);
        sent.push_back(&o);
    }
    m_hostName.clear();
    m_ipAddress.clear();
    if (addresses.empty() || !stillWanted())
        return out;

    probe::IcmpSocket socket;
    QString openError;
    const bool opened = socket.open(&openError);
    m_socketKind = socket.kind();
    if (!opened) {
        for (Outcome* o : sent) {
            o->code = kGeneralFailure;
            o->strCode = statusText(kGeneralFailure) + QStringLiteral(": ") + openError;
        }
        return out;
    }
    const std::vector<probe::EchoOutcome> results =
        socket.echo(addresses, kPayload.left(m_charsPackets), m_ttl, m_timeout,
                    [this] { return stillWanted(); });
    for (size_t k = 0; k < results.size(); ++k)
        describe(results[k], sent[k]);
    return out;
}
