#pragma once

#include <QString>
#include <QStringList>

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

    /// Namespace A linked to B, which ignores echo requests, and to C, which
    /// answers: B is 10.99.1.1 (A 10.99.1.2), C is 10.99.2.1 (A 10.99.2.2),
    /// each /24; moreSilent and moreAnswering are further addresses of B and
    /// of C. Sets *a to A's name and returns "", or returns why the machine
    /// cannot make them (tests skip with it).
    QString addEchoPeers(QString* a, const QStringList& moreSilent = {},
                         const QStringList& moreAnswering = {});

    /// Why the machine cannot make namespaces ("" when it can).
    static QString unavailableReason();

private:
    QStringList m_names;
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
