#include "dialup/VBRas.h"

#include "support/FakeRemoteAccess.h"

#include <gtest/gtest.h>

using namespace dialup;
using testsupport::FakeRemoteAccess;

namespace {

class VBRasTest : public ::testing::Test {
protected:
    FakeRemoteAccess service;
    void SetUp() override { service.entries = {QStringLiteral("isp"), QStringLiteral("backup")}; }
};

} // namespace

TEST_F(VBRasTest, ConstructionReadsTheEntryList) {
    VBRas ras(service);
    EXPECT_EQ(ras.EntryCount(), 2);
    EXPECT_EQ(ras.EnumEntries(0), QStringLiteral("isp"));
    EXPECT_EQ(ras.EnumEntries(1), QStringLiteral("backup"));
    EXPECT_THROW(ras.EnumEntries(2), std::out_of_range);
    EXPECT_THROW(ras.EnumDeviceEntries(0), std::out_of_range);
    EXPECT_EQ(ras.ShowMoniter(), -1);
    EXPECT_EQ(ras.Connection(), 0);

    service.entries.clear();
    service.enumResult = kCannotLoadPhonebook;
    EXPECT_EQ(ras.RefreshEntries(), kCannotLoadPhonebook);
    EXPECT_EQ(ras.EntryCount(), 0);
}

TEST_F(VBRasTest, EmptyCredentialsReachTheServiceAsNull) {
    VBRas ras(service);
    ras.setEntry(QStringLiteral("isp"));
    ras.setUserID(QString(QStringLiteral("")));
    ras.setDomain(QString(QStringLiteral("")));
    ras.setPHONE(QString(QStringLiteral("")));
    EXPECT_FALSE(ras.UserID().isNull());
    EXPECT_EQ(ras.UserID(), QString());
    EXPECT_EQ(ras.Dialup(), 0);
    ASSERT_EQ(service.dials.size(), 1);
    EXPECT_TRUE(service.dials[0].user.isNull());
    EXPECT_TRUE(service.dials[0].domain.isNull());
    EXPECT_TRUE(service.dials[0].phone.isNull());
    EXPECT_TRUE(service.dials[0].callback.isNull());
}

TEST_F(VBRasTest, OnlyTheNtFamilysDialTakesThePhoneBook) {
    for (const auto& [platform, book] :
         {std::pair{2, QStringLiteral("/book")}, std::pair{2, QString()},
          std::pair{1, QStringLiteral("/book")}}) {
        service.platform = platform;
        VBRas ras(service);
        ras.setEntry(QStringLiteral("isp"));
        ras.setPhoneBook(book);
        EXPECT_EQ(ras.Dialup(), 0);
    }
    ASSERT_EQ(service.dialPhoneBooks.size(), 3);
    EXPECT_EQ(service.dialPhoneBooks[0], QStringLiteral("/book"));
    EXPECT_TRUE(service.dialPhoneBooks[1].isNull());
    EXPECT_TRUE(service.dialPhoneBooks[2].isNull());
}

TEST_F(VBRasTest, AFailedDialIsReportedThreeWaysAndHungUp) {
    VBRas ras(service);
    ras.setEntry(QStringLiteral("isp"));
    QList<qint32> errors;
    int completes = 0;
    ras.ConnectError = [&](qint32 code) { errors << code; };
    ras.ConnectComplete = [&] { ++completes; };

    service.dialResult = kPppdExitBase + 8;
    service.failedHandle = 55;
    EXPECT_EQ(ras.Dialup(), kPppdExitBase + 8);
    EXPECT_EQ(errors, QList<qint32>{kPppdExitBase + 8});
    EXPECT_EQ(ras.Connection(), 0);
    EXPECT_TRUE(service.calls.contains(QStringLiteral("hangUp 55")));

    service.dialResult = 0;
    EXPECT_EQ(ras.Dialup(), 0);
    EXPECT_EQ(completes, 1);
    EXPECT_EQ(ras.Connection(), 100);
    EXPECT_EQ(ras.HangUp(), 0);
    EXPECT_EQ(ras.Connection(), 0);
    EXPECT_EQ(ras.HangUp(), kInvalidHandle) << "the second hang-up passes handle 0";
    EXPECT_EQ(ras.Connection(), 0);

    VBRas unknown(service);
    unknown.setEntry(QStringLiteral("not-in-the-book"));
    EXPECT_EQ(unknown.Dialup(), kEntryNotFound);
}

TEST_F(VBRasTest, AnUnknownPlatformCallsNothing) {
    service.platform = 3;
    VBRas ras(service);
    EXPECT_EQ(ras.EntryCount(), 0);
    ras.setEntry(QStringLiteral("isp"));
    EXPECT_EQ(ras.Dialup(), 0) << "counts as a successful dial";
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("isp"), -1), 0);
    EXPECT_EQ(ras.GetDeviceName(), 0);
    EXPECT_TRUE(service.calls.isEmpty());
}

TEST_F(VBRasTest, SeekEnumConnsFindsOneOfAtMostTwoLinks) {
    service.connections = {{7, QStringLiteral("x")}, {8, QStringLiteral("isp")}};
    VBRas ras(service);
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("x"), 0), -1);
    EXPECT_EQ(ras.Entry(), QString());
    EXPECT_EQ(ras.Connection(), 0);
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("ISP"), -1), 0) << "names match case-sensitively";
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("isp"), -1), -1);
    EXPECT_EQ(ras.Entry(), QStringLiteral("isp"));
    EXPECT_EQ(ras.Connection(), 8);
    service.connections << ActiveConnection{9, QStringLiteral("third")};
    EXPECT_EQ(ras.SeekEnumConns(QStringLiteral("x"), -1), 0);
}

TEST_F(VBRasTest, SavedDialParametersRoundTripWithTheCallbackInPhoneBook) {
    service.saved[QStringLiteral("isp")] = {QStringLiteral("isp"),  QStringLiteral("0120"),
                                            QStringLiteral("0311"), QStringLiteral("u"),
                                            QStringLiteral("p"),    QString()};
    VBRas ras(service);
    ras.setEntry(QStringLiteral("isp"));
    EXPECT_EQ(ras.RasParamEntries(), 0);
    EXPECT_EQ(ras.PHONE(), QStringLiteral("0120"));
    EXPECT_EQ(ras.PhoneBook(), QStringLiteral("0311"));
    EXPECT_EQ(ras.UserID(), QStringLiteral("u"));
    EXPECT_EQ(ras.PassWord(), QStringLiteral("p"));
    service.saved.clear();
    EXPECT_EQ(ras.SetRasDialEntries(), 0);
    EXPECT_EQ(service.saved[QStringLiteral("isp")].callback, QStringLiteral("0311"));
    EXPECT_EQ(service.saved[QStringLiteral("isp")].password, QStringLiteral("p"));

    ras.setEntry(QStringLiteral("other"));
    EXPECT_EQ(ras.RasParamEntries(), kEntryNotFound);
    EXPECT_EQ(ras.UserID(), QStringLiteral("u")) << "a failed read changes nothing";
}

TEST_F(VBRasTest, CountriesAreListedOneAtATime) {
    service.countries = {{81, 82, 81, QStringLiteral("Japan")},
                         {82, 0, 82, QStringLiteral("Korea")}};
    VBRas ras(service);
    ras.setCountryNum(81);
    EXPECT_EQ(ras.GetCountryInfo(), QStringLiteral("Japan(81)"));
    EXPECT_EQ(ras.Country(), -1);
    EXPECT_EQ(ras.GetCountryInfo(), QStringLiteral("Korea(82)"));
    EXPECT_EQ(ras.CountryNum(), 0);
    EXPECT_EQ(ras.GetCountryInfo(), QString());
    EXPECT_EQ(ras.Country(), 0);
}

TEST_F(VBRasTest, DevicesWithANameAndATypeAreListed) {
    VBRas ras(service);
    EXPECT_EQ(ras.GetDeviceName(), -1);
    service.devices = {{QStringLiteral("modem"), QStringLiteral("/dev/ttyS0")},
                       {QString(), QStringLiteral("/dev/ttyS1")},
                       {QStringLiteral("modem"), QStringLiteral("/dev/ttyACM0")}};
    EXPECT_EQ(ras.GetDeviceName(), 0);
    EXPECT_EQ(ras.DeviceCount(), 2);
    EXPECT_EQ(ras.EnumDeviceEntries(1), QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(ras.EnumTypeEntries(1), QStringLiteral("modem"));
    service.devicesResult = 5;
    EXPECT_EQ(ras.GetDeviceName(), -3);
    EXPECT_EQ(ras.DeviceCount(), 2);
}

TEST_F(VBRasTest, EntryPropertiesMirrorAsDottedQuads) {
    EntryRecord r;
    r.size = 1768;
    r.ip = {{{192, 168, 0, 1}, {8, 8, 8, 8}, {1, 1, 1, 1}, {10, 1, 2, 3}, {0, 0, 0, 0}}};
    r.areaCode = QStringLiteral("03");
    r.options = VBRas::SpecificIpAddr | VBRas::NLogOn;
    r.script = QStringLiteral("login.scp");
    service.properties[QStringLiteral("isp")] = r;

    VBRas fresh(service);
    EXPECT_EQ(fresh.SetEntryProperties(QStringLiteral("isp")), kInvalidSize)
        << "nothing read yet: the record has no size";

    VBRas ras(service);
    EXPECT_EQ(ras.GetEntryProperties(QStringLiteral("nope")), kEntryNotFound);
    EXPECT_EQ(ras.ipaddr, QString());
    EXPECT_EQ(ras.GetEntryProperties(QStringLiteral("isp")), 0);
    EXPECT_EQ(ras.ipaddr, QStringLiteral("192.168.0.1"));
    EXPECT_EQ(ras.ipaddrDns, QStringLiteral("8.8.8.8"));
    EXPECT_EQ(ras.ipaddrDnsAlt, QStringLiteral("1.1.1.1"));
    EXPECT_EQ(ras.ipaddrWins, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(ras.ipaddrWinsAlt, QStringLiteral("0.0.0.0"));
    EXPECT_EQ(ras.dwfOptions & VBRas::NLogOn, VBRas::NLogOn);
    EXPECT_EQ(VBRas::NLogOn, 8192);

    ras.ipaddrWins = QStringLiteral("10.9.8.7");
    ras.szScript = QStringLiteral("ignored.scp"); // not written back
    EXPECT_EQ(ras.SetEntryProperties(QStringLiteral("isp")), 0);
    const EntryRecord& written = service.properties[QStringLiteral("isp")];
    EXPECT_EQ(written.ip[3], (std::array<quint8, 4>{10, 9, 8, 7}));
    EXPECT_EQ(written.script, QStringLiteral("login.scp"));

    ras.ipaddr = QStringLiteral("300.1.1.1");
    EXPECT_THROW(ras.SetEntryProperties(QStringLiteral("isp")), std::overflow_error);
    EXPECT_EQ(service.properties[QStringLiteral("isp")].ip[0],
              (std::array<quint8, 4>{192, 168, 0, 1}));
}

TEST(CutIpAdr, FieldsByNumberAndTheLastOneBeyond) {
    EXPECT_EQ(VBRas::CutIpAdr(QStringLiteral("192.168.0.10"), QStringLiteral("."), 1), 192);
    EXPECT_EQ(VBRas::CutIpAdr(QStringLiteral("192.168.0.10"), QStringLiteral("."), 4), 10);
    EXPECT_EQ(VBRas::CutIpAdr(QStringLiteral("192.168.0.10"), QStringLiteral("."), 7), 10);
    EXPECT_EQ(VBRas::CutIpAdr(QString(), QStringLiteral("."), 1), 0);
    EXPECT_EQ(VBRas::CutIpAdr(QStringLiteral("1.x2.3"), QStringLiteral("."), 2), 0);
}
