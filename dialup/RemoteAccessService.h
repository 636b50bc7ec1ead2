#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>

namespace dialup {

// Result codes of the service; 0 is success. Numbers that callers and
// stored logs already know keep their meaning.
constexpr qint32 kAccessDenied = 5;
constexpr qint32 kInvalidHandle = 6;
/// The service has no way to store that value.
constexpr qint32 kNotSupported = 50;
constexpr qint32 kBufferTooSmall = 603;
constexpr qint32 kEntryNotFound = 623;
constexpr qint32 kInvalidSize = 632;
constexpr qint32 kCannotLoadPhonebook = 621;
/// The dial was given up because the program is ending.
constexpr qint32 kDialAbandoned = 631;
constexpr qint32 kCountryNotFound = 650;
constexpr qint32 kNoConnection = 668;
/// pppd exit status n is reported as kPppdExitBase + n.
constexpr qint32 kPppdExitBase = 700;
/// A number other than the entry's own, which only the entry's
/// administrator can change.
constexpr qint32 kPhoneNotChangeable = 797;
/// The dial neither connected nor failed within its limit.
constexpr qint32 kDialTimedOut = 798;
constexpr qint32 kCannotStartPppd = 799;

/// A dial or saved dial parameters. A null text means "none" and is what
/// the wrapper passes for an empty property.
struct DialParams {
    QString entry, phone, callback, user, password, domain;
};

struct ActiveConnection {
    qint32 handle = 0;
    QString entry;
};

struct CountryRecord {
    qint32 id = 0, nextId = 0, code = 0;
    QString name;
};

struct DeviceRecord {
    QString type, name;
};

/// The properties of one phone-book entry that the wrapper mirrors.
struct EntryRecord {
    qint32 size = 0; ///< 0 until read from the service; the service refuses 0
    qint32 options = 0, countryId = 0, countryCode = 0;
    QString areaCode, localPhone;
    std::array<std::array<quint8, 4>, 5> ip{}; ///< address, DNS, DNS alt, WINS, WINS alt
    qint32 frameSize = 0, netProtocols = 0, framingProtocol = 0;
    QString script, autodialDll, autodialFunc, deviceType, deviceName;
    QString x25PadType, x25Address, x25Facilities, x25UserData;
    qint32 channels = 0, reserved1 = 0, reserved2 = 0;
};

/// The dial-up networking service under the VBRas wrapper: what each
/// operation is passed and what the wrapper relies on. A null phone book is
/// the default one.
class RemoteAccessService {
public:
    virtual ~RemoteAccessService() = default;

    /// 1 for the old 95 family, 2 for the NT family; any other value makes
    /// the wrapper call nothing.
    virtual int platformId() const { return 2; }

    virtual qint32 enumEntries(const QString& phoneBook, QStringList* names) = 0;
    /// Blocks until the link is up or has failed; a failed dial may still
    /// leave a handle, which the wrapper hangs up.
    virtual qint32 dial(const QString& phoneBook, const DialParams& params, qint32* handle) = 0;
    virtual qint32 hangUp(qint32 handle) = 0;
    virtual QString errorString(qint32 code) = 0;
    virtual qint32 enumConnections(QList<ActiveConnection>* connections) = 0;
    virtual qint32 getEntryDialParams(DialParams* params) = 0; ///< params->entry is set
    virtual qint32 setEntryDialParams(const DialParams& params) = 0;
    virtual qint32 getCountryInfo(qint32 id, CountryRecord* country) = 0;
    virtual qint32 enumDevices(QList<DeviceRecord>* devices) = 0;
    virtual qint32 getEntryProperties(const QString& entry, EntryRecord* record) = 0;
    virtual qint32 setEntryProperties(const QString& entry, const EntryRecord& record) = 0;
    virtual qint32 deleteEntry(const QString& entry) = 0;
};

} // namespace dialup
