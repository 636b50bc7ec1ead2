#include "probe/C_PING.h"

#include "platform/EventLoop.h"

const QByteArray
    C_PING::kPayload("abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqrs"
                     "tuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklm");

namespace {

constexpr qint32 kGeneralFailure = 11050;

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

const platform::Ending& C_PING::ending() const {
    static const platform::Ending never;
    return m_ending ? *m_ending : never;
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
    if (r.kind == probe::EchoOutcome::NoReply || r.kind == probe::EchoOutcome::Abandoned) {
        o->abandoned = r.kind == probe::EchoOutcome::Abandoned;
        o->code = -1;
        o->strCode = QStringLiteral("ICMP Request Timeout");
        return;
    }
    o->ipAddress = probe::dottedAddress(r.from);
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

    const auto stop = [this] { return m_aborted; };
    probe::HostLookup lookup({name});
    if (!lookup.waitForNames(ending(), stop))
        return true;
    const probe::Host host = lookup.host(0);
    if (!host.resolved)
        return false;
    m_hostName = host.hostName;
    m_ipAddress = host.ipAddress;

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
            socket.echo({host.address}, payload, m_ttl, m_timeout, ending(), stop)[0];
        if (r.kind == probe::EchoOutcome::Abandoned)
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
    probe::HostLookup lookup(names);
    const bool answered = lookup.waitForNames(ending(), [this] { return m_aborted; });
    std::vector<probe::Host> hosts;
    for (qsizetype i = 0; i < names.size(); ++i)
        hosts.push_back(lookup.host(i));
    if (answered)
        return PingEach(hosts);
    std::vector<Outcome> out(hosts.size());
    for (Outcome& o : out)
        o.abandoned = true;
    return out;
}

std::vector<C_PING::Outcome> C_PING::PingEach(const std::vector<probe::Host>& hosts) {
    m_aborted = false;
    std::vector<Outcome> out(hosts.size());
    std::vector<quint32> addresses;
    std::vector<Outcome*> sent;
    for (size_t i = 0; i < hosts.size(); ++i) {
        Outcome& o = out[i];
        o.resolved = hosts[i].resolved;
        if (!o.resolved)
            continue;
        o.hostName = hosts[i].hostName;
        o.ipAddress = hosts[i].ipAddress;
        addresses.push_back(hosts[i].address);
        sent.push_back(&o);
    }
    if (addresses.empty())
        return out;
    if (!stillWanted() || ending().requested()) {
        for (Outcome* o : sent)
            o->abandoned = true;
        return out;
    }

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
        socket.echo(addresses, kPayload.left(m_charsPackets), m_ttl, m_timeout, ending(),
                    [this] { return m_aborted; });
    for (size_t k = 0; k < results.size(); ++k)
        describe(results[k], sent[k]);
    return out;
}
