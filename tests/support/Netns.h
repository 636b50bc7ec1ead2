#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QProcess;
class QTemporaryDir;

namespace testsupport {

/// Network namespaces made for one test run, deleted again by the destructor.
/// Names carry the process id so that parallel runs never meet.
class Netns {
public:
    Netns();
    ~Netns();
    Netns(const Netns&) = delete;
    Netns& operator=(const Netns&) = delete;

    /// Runs one shell command line; false when it failed.
    static bool sh(const QString& command);

    /// Adds a namespace with loopback up; its full name is returned.
    QString add(const QString& shortName);
    /// Joins two namespaces with a veth pair and gives each end an address
    /// ("10.0.0.1/24").
    bool link(const QString& nsA, const QString& ifA, const QString& addrA, const QString& nsB,
              const QString& ifB, const QString& addrB);
    /// Runs `ip netns exec NS <command>`.
    bool exec(const QString& ns, const QString& command);
    /// The resolv.conf that `ip netns exec NS` puts over /etc/resolv.conf
    /// (it bind-mounts /etc/netns/NS/*); removed with the namespace.
    bool setResolvConf(const QString& ns, const QByteArray& content);

    /// Namespace A linked to B, which ignores echo requests, and to C, which
    /// answers: B is 10.99.1.1 (A 10.99.1.2), C is 10.99.2.1 (A 10.99.2.2),
    /// each /24; moreSilent and moreAnswering are further addresses of B and
    /// of C. Sets *a (and *b, *c when given) to the names and returns "", or
    /// returns why the machine cannot make them (tests skip with it).
    QString addEchoPeers(QString* a, const QStringList& moreSilent = {},
                         const QStringList& moreAnswering = {}, QString* b = nullptr,
                         QString* c = nullptr);

    /// Why the machine cannot make namespaces ("" when it can).
    static QString unavailableReason();

    /// Starts the tests' DNS server on address (port 53) in ns: with answer,
    /// records ("name=1.2.3.4") are its A and PTR records and any other
    /// name is NXDOMAIN; without, it drops every query, as a dead server
    /// does. process owns it. False when it did not come up.
    static bool startDns(QProcess& process, const QString& ns, const QString& address, bool answer,
                         const QStringList& records = {});

    /// The arguments of `ip` that run command in ns as user nobody: no
    /// groups, no capabilities, as an operator's desktop session is.
    static QStringList execAsNobody(const QString& ns, const QStringList& command);
    /// Copies files into dir and opens both to every user, so that nobody
    /// can run or read them; the copies' paths, or {} when that failed.
    static QStringList copiesForNobody(const QTemporaryDir& dir, const QStringList& files);

private:
    QStringList m_names;
    QStringList m_configs; // /etc/netns folders made here
};

/// Moves the calling thread into a namespace until the guard ends; sockets
/// opened meanwhile belong to that namespace.
class EnterNetns {
public:
    explicit EnterNetns(const QString& ns);
    ~EnterNetns();
    bool ok() const { return m_ok; }

private:
    int m_home = -1;
    bool m_ok = false;
};

} // namespace testsupport
