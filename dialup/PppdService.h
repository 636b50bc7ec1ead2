#pragma once

#include "dialup/PppdLinks.h"
#include "dialup/RemoteAccessService.h"
#include "platform/Ending.h"

#include <QMap>
#include <QString>

namespace dialup {

/// The dial-up service on pppd, for an operator in group dip as much as for
/// root. The phone book is a peers folder (one file per entry, made by the
/// administrator; /etc/ppp/peers by default); a dial runs
/// `pppd call ENTRY file /dev/fd/N updetach`, where N is a pipe carrying the
/// user name and password (never the command line, never a file on disk),
/// and returns once the link is up or has failed; a hang-up signals the
/// pppd of that link alone: the one pppd names as the link's (its pid file,
/// for the interface its log on stdout names), never another pppd of the
/// same entry that another program or another copy started meanwhile. The
/// dial waits with the event loop running and ends at the program's end,
/// its pppd told to end. Saved dial parameters are "#pulsewatch"
/// comment lines in the entry's file; saved passwords go to the PAP secrets
/// file. Entry properties are the options pppd itself reads.
class PppdService : public RemoteAccessService {
public:
    struct Paths {
        QString peersDir = QStringLiteral("/etc/ppp/peers");
        /// By its full path: /usr/sbin is not on an ordinary user's PATH.
        QString pppd = QStringLiteral("/usr/sbin/pppd");
        QString secretsFile = QStringLiteral("/etc/ppp/pap-secrets");
        /// Where pppd keeps the pid file of each link's interface.
        QString runDir = QStringLiteral("/var/run");
    };

    /// A dial that has neither connected nor failed by then is ended.
    static constexpr int kDialLimitMs = 180000;

    PppdService();
    explicit PppdService(Paths paths);

    qint32 enumEntries(const QString& phoneBook, QStringList* names) override;
    qint32 dial(const QString& phoneBook, const DialParams& params, qint32* handle) override;
    qint32 hangUp(qint32 handle) override;
    QString errorString(qint32 code) override;
    qint32 enumConnections(QList<ActiveConnection>* connections) override;
    qint32 getEntryDialParams(DialParams* params) override;
    qint32 setEntryDialParams(const DialParams& params) override;
    qint32 getCountryInfo(qint32 id, CountryRecord* country) override;
    qint32 enumDevices(QList<DeviceRecord>* devices) override;
    qint32 getEntryProperties(const QString& entry, EntryRecord* record) override;
    qint32 setEntryProperties(const QString& entry, const EntryRecord& record) override;
    qint32 deleteEntry(const QString& entry) override;

    void setDialLimitMs(int ms) { m_dialLimitMs = ms; }
    /// The program's end: a dial under way then tells its pppd to end and
    /// returns kDialAbandoned at once.
    void setEnding(const platform::Ending* ending) { m_ending = ending; }
    /// pppd lets only a caller whose real user is root replace what an
    /// entry's file sets (its connect command, so its number). Taken from
    /// the process at construction.
    void setPrivileged(bool privileged) { m_privileged = privileged; }

private:
    QString entryPath(const QString& phoneBook, const QString& entry) const;
    qint32 handleFor(const PppdLink& link);
    PppdLink linkOf(const QByteArray& log, qint64 childPid, quint64 childStarted,
                    const QString& entry) const;
    qint32 connectWithPhone(const QList<QByteArray>& lines, const QString& phone,
                            QByteArray* option) const;

    Paths m_paths;
    int m_dialLimitMs = kDialLimitMs;
    const platform::Ending* m_ending = nullptr;
    bool m_privileged;
    QMap<qint32, PppdLink> m_links; // handle -> the pppd of that link
    qint32 m_nextHandle = 1;
};

} // namespace dialup
