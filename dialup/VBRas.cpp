#include "dialup/VBRas.h"

#include "platform/NumericText.h"

using namespace dialup;

namespace {

QString dottedQuad(const std::array<quint8, 4>& a) {
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

} // namespace

VBRas::VBRas(RemoteAccessService& service) : m_service(service) {
    m_platformId = m_service.platformId();
    m_showMonitor = -1;
    m_entryRecordSize = kEntryRecordSize;
    m_framingProtocol = 1;
    RefreshEntries();
}

bool VBRas::knownPlatform() const {
    return m_platformId == 1 || m_platformId == 2;
}

QString VBRas::at(const QStringList& list, qint16 index) {
    if (index < 0 || index >= list.size())
        throw std::out_of_range("VBRas: index out of range");
    return list[index];
}

qint32 VBRas::RefreshEntries() {
    if (!knownPlatform())
        return 0;
    QStringList names;
    const qint32 rc = m_service.enumEntries(m_phoneBook, &names);
    m_entryCount = static_cast<qint32>(names.size());
    m_entries = names;
    return rc;
}

qint32 VBRas::Dialup() {
    if (!knownPlatform())
        return 0;
    DialParams p;
    p.entry = m_entry;
    p.user = m_user;
    p.password = m_password;
    p.domain = m_domain; // null when empty
    p.phone = m_phone;
    // Only a platform id of 2 hands the phone book to the service.
    qint32 handle = 0;
    const qint32 rc = m_service.dial(m_platformId == 2 ? m_phoneBook : QString(), p, &handle);
    m_connection = handle;
    if (rc != 0) {
        m_service.hangUp(handle);
        m_connection = 0;
        if (ConnectError)
            ConnectError(rc);
    } else if (ConnectComplete) {
        ConnectComplete();
    }
    return rc;
}

qint32 VBRas::HangUp() {
    const qint32 rc = m_service.hangUp(m_connection);
    m_connection = 0;
    return rc;
}

QString VBRas::ErrMsg(qint32 RasErr) {
    return m_service.errorString(RasErr).left(255);
}

qint16 VBRas::SeekEnumConns(const QString& Entry, qint16 SetProp) {
    if (!knownPlatform())
        return 0;
    QList<ActiveConnection> connections;
    if (m_service.enumConnections(&connections) != 0)
        return 0;
    // Room for two connections, as the wrapper always offered.
    if (connections.size() > 2)
        return 0;
    for (const ActiveConnection& c : connections) {
        if (c.entry == Entry) {
            if (SetProp) {
                m_entry = store(c.entry);
                m_connection = c.handle;
            }
            return -1;
        }
    }
    return 0;
}

qint32 VBRas::RasParamEntries() {
    if (!knownPlatform())
        return 0;
    DialParams p;
    p.entry = m_entry;
    const qint32 rc = m_service.getEntryDialParams(&p);
    if (rc != 0)
        return rc;
    m_phone = store(p.phone);
    m_user = store(p.user);
    m_password = store(p.password);
    m_phoneBook = store(p.callback);
    m_domain = store(p.domain);
    return 0;
}

qint32 VBRas::SetRasDialEntries() {
    if (!knownPlatform())
        return 0;
    DialParams p{m_entry, m_phone, m_phoneBook, m_user, m_password, m_domain};
    return m_service.setEntryDialParams(p);
}

QString VBRas::GetCountryInfo() {
    m_country = -1;
    CountryRecord c;
    if (m_service.getCountryInfo(m_countryNum, &c) != 0) {
        m_country = 0;
        return QString(QStringLiteral(""));
    }
    m_countryNum = static_cast<qint16>(c.nextId);
    return c.name + QLatin1Char('(') + QString::number(c.id) + QLatin1Char(')');
}

qint32 VBRas::GetDeviceName() {
    if (!knownPlatform())
        return 0;
    QList<DeviceRecord> devices;
    if (m_service.enumDevices(&devices) != 0)
        return -3;
    QStringList names, types;
    for (const DeviceRecord& d : devices) {
        if (d.name.isEmpty() || d.type.isEmpty())
            continue;
        names << d.name;
        types << d.type;
    }
    if (names.isEmpty())
        return -1;
    m_deviceCount = static_cast<qint32>(names.size());
    m_deviceNames = names;
    m_deviceTypes = types;
    return 0;
}

qint32 VBRas::GetEntryProperties(const QString& strEntryName) {
    EntryRecord r;
    const qint32 rc = m_service.getEntryProperties(strEntryName, &r);
    if (rc != 0)
        return rc;
    m_image = r;
    m_entryRecordSize = r.size;
    dwfOptions = r.options;
    dwCountryID = r.countryId;
    dwCountryCode = r.countryCode;
    szAreaCode = r.areaCode;
    LocalPhoneNum = r.localPhone;
    ipaddr = dottedQuad(r.ip[0]);
    ipaddrDns = dottedQuad(r.ip[1]);
    ipaddrDnsAlt = dottedQuad(r.ip[2]);
    ipaddrWins = dottedQuad(r.ip[3]);
    ipaddrWinsAlt = dottedQuad(r.ip[4]);
    dwFrameSize = r.frameSize;
    NetProtocols = r.netProtocols;
    m_framingProtocol = r.framingProtocol;
    szScript = r.script;
    szAutodialDll = r.autodialDll;
    AutodialFunc = r.autodialFunc;
    DeviceType = r.deviceType;
    szDeviceName = r.deviceName;
    szX25PadType = r.x25PadType;
    szX25Address = r.x25Address;
    szX25Facili = r.x25Facilities;
    szX25UserData = r.x25UserData;
    dwChannels = r.channels;
    dwReserved1 = r.reserved1;
    dwReserved2 = r.reserved2;
    return 0;
}

qint32 VBRas::SetEntryProperties(const QString& strEntryName) {
    EntryRecord r = m_image;
    const QString* addresses[] = {&ipaddr, &ipaddrDns, &ipaddrDnsAlt, &ipaddrWins, &ipaddrWinsAlt};
    for (int a = 0; a < 5; ++a) {
        for (int octet = 0; octet < 4; ++octet) {
            const qint16 v =
                CutIpAdr(*addresses[a], QStringLiteral("."), static_cast<qint16>(octet + 1));
            if (v < 0 || v > 255)
                throw std::overflow_error("VBRas: address octet out of range");
            r.ip[a][octet] = static_cast<quint8>(v);
        }
    }
    r.areaCode = szAreaCode;
    r.localPhone = LocalPhoneNum;
    r.options = dwfOptions;
    r.netProtocols = NetProtocols;
    r.countryId = dwCountryID;
    r.countryCode = dwCountryCode;
    r.framingProtocol = m_framingProtocol;
    r.deviceType = DeviceType;
    r.deviceName = szDeviceName;
    m_image = r;
    return m_service.setEntryProperties(strEntryName, r);
}

qint32 VBRas::DeleteEntries(const QString& EntryName) {
    return m_service.deleteEntry(EntryName);
}

qint16 VBRas::CutIpAdr(const QString& IpAdr, const QString& Dmilite, qint16 IpNum) {
    const QStringList fields = IpAdr.split(Dmilite);
    const int index = std::clamp<int>(IpNum, 1, static_cast<int>(fields.size())) - 1;
    // The number at the start of the field, as the settings read numbers;
    // none is 0.
    return platform::toInt16(fields[index]);
}
