#include "support/Netns.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace testsupport {

namespace {
std::atomic<int> g_serial{0};
}

bool Netns::sh(const QString& command) {
    const QByteArray c = (command + QStringLiteral(" >/dev/null 2>&1")).toLocal8Bit();
    return std::system(c.constData()) == 0;
}

Netns::Netns() = default;

Netns::~Netns() {
    for (const QString& dir : m_configs)
        QDir(dir).removeRecursively();
    for (const QString& n : m_names)
        sh(QStringLiteral("ip netns del ") + n);
}

bool Netns::setResolvConf(const QString& ns, const QByteArray& content) {
    const QString dir = QStringLiteral("/etc/netns/") + ns;
    if (!QDir().mkpath(dir))
        return false;
    if (!m_configs.contains(dir))
        m_configs << dir;
    QFile f(dir + QStringLiteral("/resolv.conf"));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

bool Netns::startDns(QProcess& process, const QString& ns, const QString& address, bool answer,
                     const QStringList& records) {
    const QString mode = answer ? QStringLiteral("answer") : QStringLiteral("drop");
    process.start(QStringLiteral("ip"),
                  QStringList{QStringLiteral("netns"), QStringLiteral("exec"), ns,
                              QStringLiteral("/usr/bin/python3"), QStringLiteral(PW_DNS_RESPONDER),
                              address, mode} +
                      records);
    return process.waitForReadyRead(10000) && process.readLine().trimmed() == "ready";
}

QStringList Netns::execAsNobody(const QString& ns, const QStringList& command) {
    return QStringList{QStringLiteral("netns"),
                       QStringLiteral("exec"),
                       ns,
                       QStringLiteral("setpriv"),
                       QStringLiteral("--reuid=65534"),
                       QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"),
                       QStringLiteral("--inh-caps=-all"),
                       QStringLiteral("--bounding-set=-all")} +
           command;
}

QStringList Netns::copiesForNobody(const QTemporaryDir& dir, const QStringList& files) {
    const auto everyone =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    QStringList copies;
    if (!QFile::setPermissions(dir.path(), everyone))
        return {};
    for (const QString& file : files) {
        const QString copy = dir.filePath(QFileInfo(file).fileName());
        if (!QFile::copy(file, copy) || !QFile::setPermissions(copy, everyone))
            return {};
        copies << copy;
    }
    return copies;
}

QString Netns::add(const QString& shortName) {
    const QString name =
        QStringLiteral("pw%1-%2-%3").arg(::getpid()).arg(g_serial.fetch_add(1)).arg(shortName);
    if (!sh(QStringLiteral("ip netns add ") + name))
        return QString();
    m_names << name;
    sh(QStringLiteral("ip -n %1 link set lo up").arg(name));
    return name;
}

bool Netns::link(const QString& nsA, const QString& ifA, const QString& addrA, const QString& nsB,
                 const QString& ifB, const QString& addrB) {
    return sh(QStringLiteral("ip link add %1 netns %2 type veth peer name %3 netns %4")
                  .arg(ifA, nsA, ifB, nsB)) &&
           sh(QStringLiteral("ip -n %1 addr add %2 dev %3").arg(nsA, addrA, ifA)) &&
           sh(QStringLiteral("ip -n %1 addr add %2 dev %3").arg(nsB, addrB, ifB)) &&
           sh(QStringLiteral("ip -n %1 link set %2 up").arg(nsA, ifA)) &&
           sh(QStringLiteral("ip -n %1 link set %2 up").arg(nsB, ifB));
}

bool Netns::exec(const QString& ns, const QString& command) {
    return sh(QStringLiteral("ip netns exec %1 %2").arg(ns, command));
}

QString Netns::addEchoPeers(QString* a, const QStringList& moreSilent,
                            const QStringList& moreAnswering, QString* bName, QString* cName) {
    const QString reason = unavailableReason();
    if (!reason.isEmpty())
        return reason;
    *a = add(QStringLiteral("A"));
    const QString b = add(QStringLiteral("B"));
    const QString c = add(QStringLiteral("C"));
    bool ok = !a->isEmpty() && !b.isEmpty() && !c.isEmpty() &&
              link(*a, QStringLiteral("vB"), QStringLiteral("10.99.1.2/24"), b,
                   QStringLiteral("vA"), QStringLiteral("10.99.1.1/24")) &&
              link(*a, QStringLiteral("vC"), QStringLiteral("10.99.2.2/24"), c,
                   QStringLiteral("vA"), QStringLiteral("10.99.2.1/24")) &&
              exec(b, QStringLiteral("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
    for (const auto& [ns, addresses] : {std::pair{b, moreSilent}, std::pair{c, moreAnswering}})
        for (const QString& address : addresses)
            ok = ok && sh(QStringLiteral("ip -n %1 addr add %2/24 dev vA").arg(ns, address));
    if (bName)
        *bName = b;
    if (cName)
        *cName = c;
    return ok ? QString() : QStringLiteral("could not build the echo peers with ip(8)");
}

QString Netns::unavailableReason() {
    if (::geteuid() != 0)
        return QStringLiteral("network namespaces need root (run the tests as root, as CI does)");
    const QString probe = QStringLiteral("pw%1-check").arg(::getpid());
    if (!sh(QStringLiteral("ip netns add ") + probe))
        return QStringLiteral("`ip netns add` is not permitted on this machine");
    sh(QStringLiteral("ip netns del ") + probe);
    return QString();
}

EnterNetns::EnterNetns(const QString& ns) {
    m_home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = ::open(QFile::encodeName(QStringLiteral("/run/netns/") + ns).constData(),
                              O_RDONLY | O_CLOEXEC);
    m_ok = m_home >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0)
        ::close(target);
}

EnterNetns::~EnterNetns() {
    if (m_home >= 0) {
        ::setns(m_home, CLONE_NEWNET);
        ::close(m_home);
    }
}

} // namespace testsupport
