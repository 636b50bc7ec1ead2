#pragma once

#include "dialup/RemoteAccessService.h"

#include <QMap>
#include <QString>

namespace dialup {

/// The dial-up service on pppd. The phone book is a peers folder (one file
/// per entry, /etc/ppp/peers by default); a dial runs
/// `pppd call ENTRY updetach`, which returns once the link is up or has
/// failed; a hang-up signals that link's pppd. The user name and password
/// reach pppd through an options file only its owner can read, never the
/// command line. Saved dial parameters and the entry properties pppd has no
/// option for are kept as "#pulsewatch" comment lines in the entry's file;
/// saved passwords go to the PAP secrets file.
class PppdService : public RemoteAccessService {
public:
    struct Paths {
        QString peersDir = QStringLiteral("/etc/ppp/peers");
        QString pppd = QStringLiteral("pppd");
        QString runDir = QStringLiteral("/run"); ///< where pppd writes ppp-LINK.pid
        QString secretsFile = QStringLiteral("/etc/ppp/pap-secrets");
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

    /// The link name a dial gives pppd, and so its pid file's name.
    static QString linkName(const QString& entry);

private:
    QString entryPath(const QString& phoneBook, const QString& entry) const;
    qint32 handleFor(const QString& entry);
    qint64 linkPid(const QString& entry) const;

    Paths m_paths;
    int m_dialLimitMs = kDialLimitMs;
    QMap<qint32, QString> m_links; // handle -> entry
    qint32 m_nextHandle = 1;
};

} // namespace dialup
