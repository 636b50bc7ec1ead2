// Runs one operation of the pppd backend with the system's own paths and
// prints its result, so a test can run it as another user in a mount
// namespace of its own.
#include "dialup/PppdService.h"
#include "dialup/VBRas.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    dialup::PppdService service;
    service.setDialLimitMs(20000);
    VBRas ras(service);
    qint32 rc = 0;
    if (a.size() == 6 && a[1] == QLatin1String("dial")) {
        ras.setEntry(a[2]);
        ras.setUserID(a[3]);
        ras.setPassWord(a[4]);
        ras.setPHONE(a[5]);
        rc = ras.Dialup();
    } else if (a.size() == 4 && a[1] == QLatin1String("set-number")) {
        rc = ras.GetEntryProperties(a[2]);
        ras.LocalPhoneNum = a[3];
        rc = rc != 0 ? rc : ras.SetEntryProperties(a[2]);
    } else {
        QTextStream(stderr) << "usage: dialup_cli dial ENTRY USER PASSWORD PHONE\n"
                               "       dialup_cli set-number ENTRY NUMBER\n";
        return 2;
    }
    QTextStream(stdout) << "result\t" << rc << '\n';
    return 0;
}
