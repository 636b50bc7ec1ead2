#pragma once

#include "dialup/RemoteAccessService.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

/// The wrapper over the dial-up networking service: the credentials of one
/// phone-book entry, the connection it opened, the entry and device lists it
/// last read, and a mirror of one entry's properties. Callers make one for
/// each use.
class VBRas {
public:
    static constexpr qint32 kEntryRecordSize = 1768;

    explicit VBRas(dialup::RemoteAccessService& service);

    // Connection and credentials. The six text properties store an empty
    // value as null; reading one gives "" for null.
    qint32 Connection() const { return m_connection; }
    QString PhoneBook() const { return read(m_phoneBook); }
    void setPhoneBook(const QString& PhonebookFile) { m_phoneBook = store(PhonebookFile); }
    QString PHONE() const { return read(m_phone); }
    void setPHONE(const QString& PhoneNO) { m_phone = store(PhoneNO); }
    qint16 CountryNum() const { return m_countryNum; }
    void setCountryNum(qint16 Num) { m_countryNum = Num; }
    qint16 Country() const { return m_country; }
    void setCountry(qint16 NorO) { m_country = NorO; }
    qint32 EntryCount() const { return m_entryCount; }
    /// Throws std::out_of_range outside the list.
    QString EnumEntries(qint16 Index) const { return at(m_entries, Index); }
    qint32 DeviceCount() const { return m_deviceCount; }
    QString EnumDeviceEntries(qint16 Index) const { return at(m_deviceNames, Index); }
    QString EnumTypeEntries(qint16 Index) const { return at(m_deviceTypes, Index); }
    QString Entry() const { return read(m_entry); }
    void setEntry(const QString& szEntryName) { m_entry = store(szEntryName); }
    QString UserID() const { return read(m_user); }
    void setUserID(const QString& szUserID) { m_user = store(szUserID); }
    QString PassWord() const { return read(m_password); }
    void setPassWord(const QString& szPassword) { m_password = store(szPassword); }
    QString Domain() const { return read(m_domain); }
    void setDomain(const QString& szDomain) { m_domain = store(szDomain); }
    qint16 ShowMoniter() const { return m_showMonitor; }
    void setShowMoniter(qint16 bMoniter) { m_showMonitor = bMoniter; }

    // The entry mirror, filled by GetEntryProperties.
    qint32 dwCountryID = 0;
    qint32 dwCountryCode = 0;
    QString szAreaCode;
    QString LocalPhoneNum;
    QString ipaddr, ipaddrDns, ipaddrDnsAlt, ipaddrWins, ipaddrWinsAlt;
    qint32 dwFrameSize = 0;
    qint32 NetProtocols = 0;
    QString szScript, szAutodialDll, AutodialFunc;
    QString DeviceType, szDeviceName;
    QString szX25PadType, szX25Address, szX25Facili, szX25UserData;
    qint32 dwChannels = 0, dwReserved1 = 0, dwReserved2 = 0;
    qint32 dwfOptions = 0;

    // Option masks of dwfOptions and NetProtocols.
    static constexpr qint32 AreaCode = 1;
    static constexpr qint32 SpecificIpAddr = 2;
    static constexpr qint32 SpecificNameServers = 4;
    static constexpr qint32 IpHeaderCompression = 8;
    static constexpr qint32 RemoteDefaultGateway = 16;
    static constexpr qint32 SwCompression = 0x200;
    static constexpr qint32 RequireEncryptedPw = 0x400;
    static constexpr qint32 NLogOn = 0x2000;
    static constexpr qint32 NetBEUI = 1;
    static constexpr qint32 Ipx = 2;
    static constexpr qint32 Ip = 4;

    qint32 RefreshEntries();

    // Dialing and connections.
    qint32 Dialup();
    qint32 HangUp();
    QString ErrMsg(qint32 RasErr);
    qint16 SeekEnumConns(const QString& Entry, qint16 SetProp);
    qint32 RasParamEntries();
    qint32 SetRasDialEntries();

    // Phone book, countries and devices.
    QString GetCountryInfo();
    qint32 GetDeviceName();
    qint32 GetEntryProperties(const QString& strEntryName);
    /// Throws std::overflow_error for an address octet outside 0..255;
    /// nothing is written then.
    qint32 SetEntryProperties(const QString& strEntryName);
    qint32 DeleteEntries(const QString& EntryName);
    static qint16 CutIpAdr(const QString& IpAdr, const QString& Dmilite, qint16 IpNum);

    /// Events of Dialup, both raised before it returns.
    std::function<void(qint32 RasErrCode)> ConnectError;
    std::function<void()> ConnectComplete;

private:
    static QString store(const QString& v) { return v.isEmpty() ? QString() : v; }
    static QString read(const QString& v) { return v.isNull() ? QStringLiteral("") : v; }
    static QString at(const QStringList& list, qint16 index);
    bool knownPlatform() const;

    dialup::RemoteAccessService& m_service;
    qint32 m_connection = 0;
    int m_platformId = 0;
    qint32 m_entryRecordSize = kEntryRecordSize;
    QStringList m_entries;
    qint32 m_entryCount = 0;
    qint32 m_deviceCount = 0;
    QStringList m_deviceNames, m_deviceTypes;
    QString m_entry, m_user, m_password, m_domain, m_phoneBook, m_phone;
    qint16 m_country = 0;
    qint16 m_countryNum = 0;
    dialup::EntryRecord m_image;
    qint16 m_showMonitor = -1;
    qint32 m_framingProtocol = 1;
};
