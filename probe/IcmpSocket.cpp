#include "probe/IcmpSocket.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace probe {
namespace {

// From <linux/icmp.h>, which clashes with <netinet/ip_icmp.h>: a raw ICMP
// socket's filter is a bit mask of the types to drop.
constexpr int kIcmpFilter = 1;
struct IcmpFilter {
    quint32 data;
};

constexpr int kEchoReply = 0;
constexpr int kDestUnreachable = 3;
constexpr int kSourceQuench = 4;
constexpr int kEchoRequest = 8;
constexpr int kTimeExceeded = 11;
constexpr int kParameterProblem = 12;
constexpr int kIcmpHeader = 8;

quint16 checksum(const unsigned char* data, size_t len) {
    quint32 sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2)
        sum += (data[i] << 8) | data[i + 1];
    if (len & 1)
        sum += data[len - 1] << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

quint16 read16(const unsigned char* p) {
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

// Messages read in one look at the socket: a raw socket also sees the ICMP
// of every other process on the host, and a flood of it must not keep the
// wait from its deadline.
constexpr int kMaxReadsPerLook = 4096;
// Sends of one request: an error queue filling as fast as it is read could
// otherwise keep a send from ever being judged.
constexpr int kSendAttempts = 4;

} // namespace

qint32 statusForIcmpError(int type, int code) {
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:  // network unreachable
        case 6:  // network unknown
        case 9:  // network administratively prohibited
        case 11: // network unreachable for the type of service
            return 11002;
        case 2:
            return 11004;
        case 3:
            return 11005;
        case 4: // fragmentation needed but DF set
            return 11009;
        case 5: // source route failed
            return 11012;
        default: // host unreachable, unknown, prohibited (1, 7, 8, 10, 12, 13, ...)
            return 11003;
        }
    case kTimeExceeded:
        return code == 1 ? 11014 : 11013;
    case kParameterProblem:
        return 11015;
    case kSourceQuench:
        return 11016;
    default:
        return 0;
    }
}

IcmpSocket::~IcmpSocket() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool IcmpSocket::open(QString* error) {
    std::random_device rd;
    m_id = static_cast<quint16>(rd());
    m_seq = static_cast<quint16>(rd());

    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        // ICMP errors about our requests arrive on the error queue, and the
        // reply's TTL as ancillary data.
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        ::setsockopt(m_fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
        m_kind = SocketKind::Datagram;
        return true;
    }
    // EACCES: the user's group is outside net.ipv4.ping_group_range.
    // EPROTONOSUPPORT / EAFNOSUPPORT: a kernel without ping sockets.
    const int datagramErrno = errno;

    m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        // A raw socket sees every ICMP packet of the host; keep only the
        // types that can answer an echo request.
        IcmpFilter filter{~((1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                            (1u << kTimeExceeded) | (1u << kParameterProblem))};
        ::setsockopt(m_fd, SOL_RAW, kIcmpFilter, &filter, sizeof filter);
        m_kind = SocketKind::Raw;
        return true;
    }
    // EPERM: neither root nor CAP_NET_RAW.
    const int rawErrno = errno;
    if (error)
        *error = QStringLiteral("ICMP socket not permitted (ping socket: %1; raw socket: %2). "
                                "Allow ping sockets for this user's group with sysctl "
                                "net.ipv4.ping_group_range, or give the program CAP_NET_RAW "
                                "(setcap cap_net_raw+ep)")
                     .arg(QString::fromLocal8Bit(std::strerror(datagramErrno)),
                          QString::fromLocal8Bit(std::strerror(rawErrno)));
    return false;
}

std::vector<EchoOutcome> IcmpSocket::echo(const std::vector<quint32>& addresses,
                                          const QByteArray& payload, int ttl, int waitMs,
                                          const platform::Ending& ending,
                                          const std::function<bool()>& stop) {
    std::vector<EchoOutcome> out(addresses.size());
    if (m_fd < 0)
        return out;
    if (ttl != m_ttl && ::setsockopt(m_fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0)
        m_ttl = ttl;

    std::vector<Request> waiting;
    for (size_t i = 0; i < addresses.size(); ++i)
        send(addresses[i], ++m_seq, payload, waiting, &out[i]);
    if (waiting.empty())
        return out;

    // The event loop wakes as soon as a reply or an error is queued.
    std::unique_ptr<QSocketNotifier> wake;
    if (QAbstractEventDispatcher::instance())
        wake = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    const std::chrono::milliseconds wait(std::max(waitMs, 0));
    const Clock::time_point lastDue = waiting.back().sent + wait;
    const QDeadlineTimer deadline(std::max<qint64>(
        0, std::chrono::ceil<std::chrono::milliseconds>(lastDue - Clock::now()).count()));
    bool stopped = false;
    // What is queued is read before any deadline is judged, so a reply that
    // came while the event loop ran long still counts.
    const platform::WaitResult result = platform::waitFor(ending, deadline, [&] {
        readAll(waiting);
        const Clock::time_point now = Clock::now();
        std::erase_if(waiting, [&](const Request& r) { return now >= r.sent + wait; });
        stopped = !waiting.empty() && stop && stop();
        return waiting.empty() || stopped;
    });
    if (result == platform::WaitResult::Ended || stopped)
        for (const Request& r : waiting)
            r.outcome->kind = EchoOutcome::Abandoned;
    return out;
}

// A ping socket keeps the error of an ICMP message about one request as the
// socket's pending error, and the next send reports that error as its own
// failure without sending anything; the message itself waits on the error
// queue. So the queue is read before each send, and a send that fails is
// made again when a message came meanwhile, or once in any case (the failed
// send took the pending error with it, and a full queue may have dropped
// its message). A failure that stays is this request's own.
bool IcmpSocket::send(quint32 address, quint16 seq, const QByteArray& payload,
                      std::vector<Request>& waiting, EchoOutcome* out) {
    QByteArray packet(kIcmpHeader, '\0');
    packet[0] = static_cast<char>(kEchoRequest);
    packet[4] = static_cast<char>(m_id >> 8);
    packet[5] = static_cast<char>(m_id & 0xFF);
    packet[6] = static_cast<char>(seq >> 8);
    packet[7] = static_cast<char>(seq & 0xFF);
    packet += payload;
    const quint16 sum =
        checksum(reinterpret_cast<const unsigned char*>(packet.constData()), packet.size());
    packet[2] = static_cast<char>(sum >> 8);
    packet[3] = static_cast<char>(sum & 0xFF);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    int error = 0;
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        readErrors(waiting);
        const Clock::time_point sent = Clock::now();
        if (::sendto(m_fd, packet.constData(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) >= 0) {
            waiting.push_back({address, seq, sent, out});
            return true;
        }
        error = errno;
        if (readErrors(waiting) == 0 && attempt > 0)
            break;
    }
    // The local stack refused at once: no route, or a packet too big.
    out->kind = EchoOutcome::Error;
    out->from = address;
    out->status = error == ENETUNREACH    ? 11002
                  : error == EHOSTUNREACH ? 11003
                  : error == EMSGSIZE     ? 11009
                                          : 11050;
    return false;
}

int IcmpSocket::readErrors(std::vector<Request>& waiting) {
    int n = 0;
    while (n < kMaxReadsPerLook && readError(waiting))
        ++n;
    return n;
}

void IcmpSocket::readAll(std::vector<Request>& waiting) {
    for (int i = 0; i < kMaxReadsPerLook && !waiting.empty(); ++i)
        if (!readError(waiting) && !readPacket(waiting))
            return;
}

EchoOutcome* IcmpSocket::take(std::vector<Request>& waiting, quint16 seq, const quint32* address,
                              bool reply) {
    const auto it = std::find_if(waiting.begin(), waiting.end(), [&](const Request& r) {
        return r.seq == seq && (!address || r.address == *address);
    });
    if (it == waiting.end())
        return nullptr;
    EchoOutcome* out = it->outcome;
    out->rttMs = reply ? static_cast<qint32>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 Clock::now() - it->sent)
                                                 .count())
                       : 0;
    waiting.erase(it);
    return out;
}

// Datagram sockets: an ICMP error quoting one of our requests waits on the
// error queue, with the reporting node as the offender.
bool IcmpSocket::readError(std::vector<Request>& waiting) {
    unsigned char data[576];
    char control[512];
    sockaddr_in peer{};
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(m_fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0)
        return false;
    if (n < kIcmpHeader)
        return true;
    // The queued data is our own request as sent; the kernel rewrote the
    // identifier, so the sequence is what ties it to its request.
    const quint16 seq = read16(data + 6);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        if (ee.ee_origin != SO_EE_ORIGIN_ICMP)
            continue;
        const qint32 status = statusForIcmpError(ee.ee_type, ee.ee_code);
        if (status == 0)
            continue;
        sockaddr_in offender;
        std::memcpy(&offender, SO_EE_OFFENDER(reinterpret_cast<sock_extended_err*>(CMSG_DATA(c))),
                    sizeof offender);
        if (EchoOutcome* out = take(waiting, seq, nullptr, false)) {
            out->kind = EchoOutcome::Error;
            out->status = status;
            out->from = offender.sin_addr.s_addr;
        }
        break;
    }
    return true;
}

bool IcmpSocket::readPacket(std::vector<Request>& waiting) {
    unsigned char data[65536];
    char control[256];
    sockaddr_in peer{};
    iovec iov{data, sizeof data};
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(m_fd, &msg, MSG_DONTWAIT);
    if (n < 0)
        // Nothing queued, or a socket error reported once more (its detail
        // waits on the error queue): read on after the latter.
        return errno != EAGAIN && errno != EWOULDBLOCK;

    if (m_kind == SocketKind::Datagram) {
        // The kernel hands a ping socket only replies carrying its identifier.
        if (n < kIcmpHeader || data[0] != kEchoReply)
            return true;
        EchoOutcome* out = take(waiting, read16(data + 6), nullptr, true);
        if (!out)
            return true;
        out->kind = EchoOutcome::Reply;
        out->from = peer.sin_addr.s_addr;
        out->bytes = static_cast<qint32>(n - kIcmpHeader);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
                int ttl = 0;
                std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
                out->ttl = ttl;
            }
        return true;
    }

    // Raw socket: the whole IP datagram, header length from the header.
    if (n < 20)
        return true;
    const size_t ipLen = (data[0] & 0x0F) * 4u;
    if (ipLen < 20 || static_cast<size_t>(n) < ipLen + kIcmpHeader)
        return true;
    const unsigned char* icmp = data + ipLen;
    const size_t icmpLen = static_cast<size_t>(n) - ipLen;
    quint32 source;
    std::memcpy(&source, data + 12, sizeof source);

    if (icmp[0] == kEchoReply) {
        if (read16(icmp + 4) != m_id)
            return true;
        if (EchoOutcome* out = take(waiting, read16(icmp + 6), nullptr, true)) {
            out->kind = EchoOutcome::Reply;
            out->from = source;
            out->bytes = static_cast<qint32>(icmpLen - kIcmpHeader);
            out->ttl = data[8];
        }
        return true;
    }

    const qint32 status = statusForIcmpError(icmp[0], icmp[1]);
    if (status == 0)
        return true;
    // The error quotes the IP header of our request (its own length) and
    // the first 8 bytes of our ICMP header.
    const unsigned char* inner = icmp + kIcmpHeader;
    const size_t innerAvail = icmpLen - kIcmpHeader;
    if (innerAvail < 20)
        return true;
    const size_t innerIpLen = (inner[0] & 0x0F) * 4u;
    if (innerIpLen < 20 || innerAvail < innerIpLen + kIcmpHeader || inner[9] != IPPROTO_ICMP)
        return true;
    quint32 innerDest;
    std::memcpy(&innerDest, inner + 16, sizeof innerDest);
    const unsigned char* quoted = inner + innerIpLen;
    if (quoted[0] != kEchoRequest || read16(quoted + 4) != m_id)
        return true;
    if (EchoOutcome* out = take(waiting, read16(quoted + 6), &innerDest, false)) {
        out->kind = EchoOutcome::Error;
        out->status = status;
        out->from = source;
    }
    return true;
}

} // namespace probe
