#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace probe {

enum class SocketKind { None, Datagram, Raw };

/// Outcome of one echo request.
struct EchoOutcome {
    enum Kind { Reply, Error, NoReply } kind = NoReply;
    quint32 from = 0;  ///< IPv4 address of the replying or reporting node, network order
    qint32 status = 0; ///< 0 for a reply, else the ICMP status value of the error
    qint32 bytes = 0;  ///< echoed data size
    qint32 rttMs = 0;  ///< round-trip time in whole milliseconds
    qint32 ttl = 0;    ///< time-to-live of the reply packet
};

/// One ICMP socket for echo requests, closed with the object. A datagram
/// ("ping") socket is used where net.ipv4.ping_group_range admits the user's
/// group, a raw socket otherwise (root or CAP_NET_RAW).
class IcmpSocket {
public:
    IcmpSocket() = default;
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    /// Opens the socket; on failure error tells the operator what to allow.
    bool open(QString* error);
    SocketKind kind() const { return m_kind; }

    /// Sends one echo request to address (network order) and waits up to
    /// waitMs for its reply or for an ICMP error about it. Packets of other
    /// processes, and late answers to earlier requests, are never taken for
    /// this request's answer: identifier and sequence must match.
    EchoOutcome echo(quint32 address, const QByteArray& payload, int ttl, int waitMs);

private:
    bool readError(quint16 seq, EchoOutcome* out);
    bool readPacket(quint32 address, quint16 seq, EchoOutcome* out);

    int m_fd = -1;
    SocketKind m_kind = SocketKind::None;
    quint16 m_id = 0;
    quint16 m_seq = 0;
    int m_ttl = -1;
};

/// The ICMP status value (11002 and up) for an ICMP error type and code, or
/// 0 for messages that say nothing about reachability (redirects).
qint32 statusForIcmpError(int type, int code);

} // namespace probe
