#pragma once

#include "platform/Ending.h"
#include "probe/HostLookup.h"
#include "probe/IcmpSocket.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <functional>
#include <vector>

/// The ICMP echo probe: resolves a host, sends Packets echo requests one
/// after another and reports every request's outcome through the Ping event,
/// synchronously, before Ping() returns.
class C_PING {
public:
    /// The Ping event: code (0 success, -1 no reply, else an ICMP status),
    /// status text, host name, replying address, echoed bytes, RTT in ms,
    /// reply TTL.
    using PingEvent = std::function<void(qint32 lngCode, const QString& strCode,
                                         const QString& strHostName, const QString& strIPAddress,
                                         qint32 lngBytes, qint32 lngRTT, qint32 lngTTL)>;

    /// The fixed payload; a request carries its first CharsPackets bytes.
    static const QByteArray kPayload;

    void onPing(PingEvent handler) { m_onPing = std::move(handler); }

    /// The program's end, which ends every wait of the probe (lookups and
    /// replies); without one only abort() does.
    void setEnding(const platform::Ending* ending) { m_ending = ending; }

    /// Starts probing name. False when the name is blank or does not
    /// resolve within the lookup bound (no event then); true once the
    /// requests were made, whatever their outcome, and true, with no further
    /// event, when abort() or the program's end cut it short. The lookup and
    /// each request's wait of Timeout milliseconds run the event loop.
    bool Ping(const QString& name);

    /// Ends a Ping or PingEach in progress (called while it yields): no
    /// further request is sent and no further event raised.
    void abort() { m_aborted = true; }

    /// What one request to a host came to: the values its Ping event would
    /// carry. resolved is false, and nothing else set, for a name that is
    /// blank or does not resolve; abandoned is true, and nothing else
    /// meant, when abort() or the program's end came before the answer.
    struct Outcome {
        bool resolved = false;
        bool abandoned = false;
        qint32 code = 0;
        QString strCode;
        QString hostName;
        QString ipAddress;
        qint32 bytes = 0;
        qint32 rtt = 0;
        qint32 ttl = 0;
    };

    /// Sends one request to each resolved host at once, with this object's
    /// CharsPackets, TTL and Timeout (Packets is not used), and waits until
    /// each is answered or has waited Timeout, with the event loop running.
    /// Raises no event; the outcomes come in the order of hosts.
    std::vector<Outcome> PingEach(const std::vector<probe::Host>& hosts);
    /// The same for names, looked up all at once first (probe::HostLookup).
    std::vector<Outcome> PingEach(const QStringList& names);

    QString HostName() const { return m_hostName; }
    void setHostName(const QString& v) { m_hostName = v.trimmed(); }
    QString IPAddress() const { return m_ipAddress; }
    void setIPAddress(const QString& v) { m_ipAddress = v.trimmed(); }
    qint32 CharsPackets() const { return m_charsPackets; }
    void setCharsPackets(qint32 v) { m_charsPackets = std::clamp(v, 32, 128); }
    qint32 Packets() const { return m_packets; }
    void setPackets(qint32 v) { m_packets = v <= 0 ? 1 : v; }
    qint32 Timeout() const { return m_timeout; }
    void setTimeout(qint32 v) { m_timeout = v; }
    qint16 TTL() const { return m_ttl; }
    void setTTL(int v) { m_ttl = static_cast<qint16>(std::clamp(v, 2, 255)); }

    /// The socket kind the latest Ping used (None when it could not open one).
    probe::SocketKind socketKind() const { return m_socketKind; }

    /// Status text of an ICMP status value; "" for a value not in the table.
    static QString statusText(qint32 status);

private:
    const platform::Ending& ending() const;
    void raise(qint32 code, const QString& text, qint32 bytes, qint32 rtt, qint32 ttl);
    bool stillWanted();

    PingEvent m_onPing;
    QString m_hostName;
    QString m_ipAddress;
    qint32 m_charsPackets = 32;
    qint32 m_packets = 1;
    qint32 m_timeout = 5;
    qint16 m_ttl = 255;
    probe::SocketKind m_socketKind = probe::SocketKind::None;
    const platform::Ending* m_ending = nullptr;
    bool m_aborted = false;
};
