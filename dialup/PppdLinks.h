#pragma once

#include <QList>
#include <QString>

namespace dialup {

/// A pppd process and the entry it dials.
struct PppdLink {
    qint64 pid = 0;
    quint64 started = 0; ///< start time in clock ticks after boot, so a reused pid is not it
    QString entry;
};

/// Every pppd running on the machine, whoever started it (this program, pon,
/// an administrator), with the entry it dials: the peers file after `call`,
/// else the first options file it reads that is not a descriptor.
QList<PppdLink> runningPppd();

/// The pppd with that pid as /proc shows it now; pid 0 when it is none
/// (gone, a zombie, another program).
PppdLink pppdAt(qint64 pid);

/// Sends sig to link's pppd only while that pid is still the same pppd
/// dialling the same entry. 0, or ESRCH when it has gone, or the errno of
/// the signal (EPERM for another user's link).
int signalPppd(const PppdLink& link, int sig);

} // namespace dialup
