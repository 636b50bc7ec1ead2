#include "probe/HostLookup.h"

#include <QAbstractEventDispatcher>
#include <QByteArray>
#include <QHash>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace probe {
namespace {

using Clock = std::chrono::steady_clock;

// Workers still looking up, over all batches. A DNS server that stays dead
// keeps each for glibc's whole time-out; past this many, a lookup is not
// started and counts as unanswered.
constexpr int kMaxWorkers = 64;
std::atomic<int> g_workers{0};

} // namespace

QString dottedAddress(quint32 address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

// Wakes the waiting thread's event loop when an answer comes; shared with
// the workers, so a late one never writes to a closed descriptor.
struct HostLookup::Wake {
    const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~Wake() {
        if (fd >= 0)
            ::close(fd);
    }
    void ring() const {
        const quint64 one = 1;
        if (fd >= 0 && ::write(fd, &one, sizeof one) < 0) {
            // The counter is full: the loop is awake already.
        }
    }
};

struct HostLookup::Job {
    QByteArray name;      ///< exactly as the server table has it
    bool reverse = false; ///< a dotted address: only its name is looked up
    Host known;           ///< what is known without an answer
    std::mutex lock;
    bool answered = false;
    Clock::time_point answeredAt;
    Host found;

    // Runs in the worker.
    void lookUp() {
        Host h = known;
        if (reverse) {
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = known.address;
            char host[NI_MAXHOST];
            if (::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host,
                              nullptr, 0, NI_NAMEREQD) == 0)
                h.hostName = QString::fromUtf8(host);
        } else {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_DGRAM;
            hints.ai_flags = AI_CANONNAME;
            addrinfo* list = nullptr;
            if (::getaddrinfo(name.constData(), nullptr, &hints, &list) == 0 && list) {
                const quint32 address =
                    reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
                // An address of 0 is no host to probe.
                if (address != 0) {
                    h.resolved = true;
                    h.address = address;
                    h.ipAddress = dottedAddress(address);
                    h.hostName = QString::fromUtf8(list->ai_canonname ? list->ai_canonname
                                                                      : name.constData());
                }
            }
            if (list)
                ::freeaddrinfo(list);
        }
        const std::lock_guard<std::mutex> guard(lock);
        found = h;
        answered = true;
        answeredAt = Clock::now();
    }

    bool answeredBy(Clock::time_point deadline) {
        const std::lock_guard<std::mutex> guard(lock);
        return answered && answeredAt <= deadline;
    }
};

HostLookup::HostLookup(const QStringList& names, int boundMs)
    : m_deadline(Clock::now() + std::chrono::milliseconds(std::max(boundMs, 0))),
      m_wake(std::make_shared<Wake>()) {
    if (QAbstractEventDispatcher::instance() && m_wake->fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_wake->fd, QSocketNotifier::Read);
        const int fd = m_wake->fd;
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [fd] {
            quint64 count;
            if (::read(fd, &count, sizeof count) < 0) {
                // Nothing to reset.
            }
        });
    }
    QHash<QString, size_t> seen;
    for (const QString& name : names) {
        if (const auto it = seen.constFind(name); it != seen.cend()) {
            m_jobOf.push_back(*it);
            continue;
        }
        auto job = std::make_shared<Job>();
        job->name = name.toUtf8();
        seen.insert(name, m_jobs.size());
        m_jobOf.push_back(m_jobs.size());
        m_jobs.push_back(job);

        // A dotted address is the address itself (its bytes as inet_addr
        // gives them); 0 is none.
        const in_addr_t numeric = ::inet_addr(job->name.constData());
        job->reverse = numeric != INADDR_NONE;
        if (job->reverse && numeric != 0) {
            job->known.resolved = true;
            job->known.address = numeric;
            job->known.ipAddress = dottedAddress(numeric);
        }
        if (name.trimmed().isEmpty() || (job->reverse && numeric == 0)) {
            job->found = job->known;
            job->answered = true;
            job->answeredAt = Clock::now();
            continue;
        }
        if (g_workers.fetch_add(1) >= kMaxWorkers) {
            g_workers.fetch_sub(1);
            continue;
        }
        try {
            std::thread([job, wake = m_wake] {
                job->lookUp();
                wake->ring();
                g_workers.fetch_sub(1);
            }).detach();
        } catch (const std::system_error&) {
            g_workers.fetch_sub(1);
        }
    }
}

HostLookup::~HostLookup() = default;

bool HostLookup::waitForAddresses(const platform::Ending& ending,
                                  const std::function<bool()>& stop) {
    return wait(false, ending, stop);
}

bool HostLookup::waitForNames(const platform::Ending& ending, const std::function<bool()>& stop) {
    return wait(true, ending, stop);
}

bool HostLookup::wait(bool namesToo, const platform::Ending& ending,
                      const std::function<bool()>& stop) {
    const qint64 left =
        std::chrono::ceil<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    bool stopped = false;
    const platform::WaitResult result =
        platform::waitFor(ending, QDeadlineTimer(std::max<qint64>(left, 0)), [&] {
            bool all = true;
            for (const auto& job : m_jobs)
                if ((namesToo || !job->reverse) && !job->answeredBy(m_deadline))
                    all = false;
            stopped = !all && stop && stop();
            return all || stopped;
        });
    return result != platform::WaitResult::Ended && !stopped;
}

Host HostLookup::host(qsizetype i) const {
    Job& job = *m_jobs[m_jobOf[static_cast<size_t>(i)]];
    const std::lock_guard<std::mutex> guard(job.lock);
    return job.answered && job.answeredAt <= m_deadline ? job.found : job.known;
}

} // namespace probe
