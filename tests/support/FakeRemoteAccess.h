#pragma once

#include "dialup/RemoteAccessService.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace testsupport {

/// A dial-up service in memory: a phone book, saved parameters, links that
/// come up or fail as the test says, and a record of every call.
class FakeRemoteAccess : public dialup::RemoteAccessService {
public:
    int platform = 2;
    QStringList entries;
    qint32 dialResult = 0;   // what the next dials return
    qint32 failedHandle = 0; // handle a failing dial leaves behind
    qint32 nextHandle = 100;
    QList<dialup::ActiveConnection> connections;
    QList<QString> calls; // "dial ENTRY", "hangUp 100", ...
    QList<dialup::DialParams> dials;
    QList<QString> dialPhoneBooks;
    QMap<QString, dialup::DialParams> saved;
    QMap<QString, dialup::EntryRecord> properties;
    QList<dialup::CountryRecord> countries;
    QList<dialup::DeviceRecord> devices;
    qint32 devicesResult = 0;
    qint32 enumResult = 0;

    int platformId() const override { return platform; }
    qint32 enumEntries(const QString& phoneBook, QStringList* names) override {
        calls << QStringLiteral("enumEntries ") + phoneBook;
        *names = entries;
        return enumResult;
    }
    qint32 dial(const QString& phoneBook, const dialup::DialParams& p, qint32* handle) override {
        calls << QStringLiteral("dial ") + p.entry;
        dials << p;
        dialPhoneBooks << phoneBook;
        if (dialResult != 0 || !entries.contains(p.entry)) {
            *handle = failedHandle;
            return dialResult != 0 ? dialResult : dialup::kEntryNotFound;
        }
        *handle = nextHandle++;
        connections << dialup::ActiveConnection{*handle, p.entry};
        return 0;
    }
    qint32 hangUp(qint32 handle) override {
        calls << QStringLiteral("hangUp %1").arg(handle);
        for (qsizetype i = 0; i < connections.size(); ++i)
            if (connections[i].handle == handle) {
                connections.removeAt(i);
                return 0;
            }
        return dialup::kInvalidHandle;
    }
    QString errorString(qint32 code) override { return QStringLiteral("error %1").arg(code); }
    qint32 enumConnections(QList<dialup::ActiveConnection>* out) override {
        *out = connections;
        return 0;
    }
    qint32 getEntryDialParams(dialup::DialParams* p) override {
        if (!saved.contains(p->entry))
            return dialup::kEntryNotFound;
        *p = saved[p->entry];
        return 0;
    }
    qint32 setEntryDialParams(const dialup::DialParams& p) override {
        saved[p.entry] = p;
        return 0;
    }
    qint32 getCountryInfo(qint32 id, dialup::CountryRecord* c) override {
        for (const auto& r : countries)
            if (r.id == id) {
                *c = r;
                return 0;
            }
        return dialup::kCountryNotFound;
    }
    qint32 enumDevices(QList<dialup::DeviceRecord>* out) override {
        *out = devices;
        return devicesResult;
    }
    qint32 getEntryProperties(const QString& entry, dialup::EntryRecord* r) override {
        if (!properties.contains(entry))
            return dialup::kEntryNotFound;
        *r = properties[entry];
        return 0;
    }
    qint32 setEntryProperties(const QString& entry, const dialup::EntryRecord& r) override {
        if (r.size == 0)
            return dialup::kInvalidSize;
        properties[entry] = r;
        return 0;
    }
    qint32 deleteEntry(const QString& entry) override {
        return entries.removeAll(entry) ? 0 : dialup::kEntryNotFound;
    }
};

} // namespace testsupport
