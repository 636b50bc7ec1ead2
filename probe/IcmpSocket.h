#pragma once

#include "platform/Ending.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <vector>

namespace probe {

enum class SocketKind { None, Datagram, Raw };

/// Outcome of one echo request.
struct EchoOutcome {
    /// Abandoned: the wait ended (the program's end, or the caller's stop)
    /// before this request was answered or had waited its time.
    enum Kind { Reply, Error, NoReply, Abandoned } kind = NoReply;
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

    /// Sends one echo request to each address (network order), all at once,
    /// and waits, with the event loop running, until each is answered or has
    /// waited waitMs since it was sent; the outcomes come back in the order
    /// of addresses. Packets of other processes, and late answers to earlier
    /// requests, are never taken for a request's answer: identifier and
    /// sequence must match, and an error one request left on the socket is
    /// never reported as another's. The wait also ends at the program's end
    /// or once stop() holds; what is unanswered then comes back Abandoned.
    std::vector<EchoOutcome> echo(const std::vector<quint32>& addresses, const QByteArray& payload,
                                  int ttl, int waitMs, const platform::Ending& ending,
                                  const std::function<bool()>& stop = {});

private:
    using Clock = std::chrono::steady_clock;
    struct Request {
        quint32 address;
        quint16 seq;
        Clock::time_point sent;
        EchoOutcome* outcome;
    };
    bool send(quint32 address, quint16 seq, const QByteArray& payload,
              std::vector<Request>& waiting, EchoOutcome* out);
    void readAll(std::vector<Request>& waiting);
    int readErrors(std::vector<Request>& waiting);
    EchoOutcome* take(std::vector<Request>& waiting, quint16 seq, const quint32* address,
                      bool reply);
    bool readError(std::vector<Request>& waiting);
    bool readPacket(std::vector<Request>& waiting);

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
