#pragma once

#include "platform/Ending.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace probe {

/// What the lookups found for one server's name.
struct Host {
    bool resolved = false; ///< there is an address to probe
    quint32 address = 0;   ///< IPv4, network order
    QString hostName;      ///< the official name; "" while a reverse lookup has none
    QString ipAddress;     ///< address as four decimal numbers joined by "."
};

/// An IPv4 address (network order) as four decimal numbers joined by ".".
QString dottedAddress(quint32 address);

/// The name and reverse lookups of a batch of servers, all started at once,
/// each in a worker thread of its own, and bounded together: a DNS server
/// that drops queries makes glibc wait 10 s and more per lookup, and the
/// watch must not wait with it. A host name not resolved within the bound
/// counts as unresolvable; a dotted address is probed as given, and a
/// reverse name not found within the bound stays "", as for an address
/// without a PTR record. glibc's lookups cannot be cancelled: a lookup past
/// the bound finishes in its worker and its answer is dropped. What was
/// found is kept for the object's life (one cycle), so retries ask nothing
/// again.
class HostLookup {
public:
    /// The bound of all lookups of a batch, from its start. A LAN's DNS
    /// server answers in milliseconds; one that has not answered after this
    /// long is taken for dead.
    static constexpr int kBoundMs = 1500;

    explicit HostLookup(const QStringList& names, int boundMs = kBoundMs);
    ~HostLookup();
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    /// Runs the event loop until every host name has its address or is
    /// known not to resolve (reverse names are not waited for), the bound
    /// passes, stop() holds or the program ends. False for the last two.
    bool waitForAddresses(const platform::Ending& ending, const std::function<bool()>& stop = {});
    /// The same, until the reverse names of dotted addresses are in as well.
    bool waitForNames(const platform::Ending& ending, const std::function<bool()>& stop = {});

    /// What is known of names[i] now; an answer that came after the bound
    /// is never taken.
    Host host(qsizetype i) const;

private:
    struct Job;
    struct Wake;
    bool wait(bool namesToo, const platform::Ending& ending, const std::function<bool()>& stop);

    std::vector<std::shared_ptr<Job>> m_jobs; ///< one per distinct name
    std::vector<size_t> m_jobOf;              ///< names[i] -> its job
    std::chrono::steady_clock::time_point m_deadline;
    std::shared_ptr<Wake> m_wake;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace probe
