#include "platform/SingleInstance.h"

#include "support/FolderTrouble.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using platform::SingleInstance;
using testsupport::Trouble;

namespace {

QString outcome(const QString& folder) {
    SingleInstance lock(folder);
    const SingleInstance::Result r = lock.acquire();
    const char* kind = r == SingleInstance::Result::Acquired         ? "acquired"
                       : r == SingleInstance::Result::AlreadyRunning ? "already running"
                                                                     : "failed";
    return QStringLiteral("%1 %2").arg(QLatin1String(kind)).arg(lock.error());
}

// A lock file naming a process that has ended, as a crash leaves it.
void leaveDeadLock(const QString& folder) {
    const pid_t child = ::fork();
    if (child == 0) {
        SingleInstance crashed(folder);
        ::_exit(crashed.acquire() == SingleInstance::Result::Acquired ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
}

// A copy that holds the folder in another process, until the pipe closes.
struct OtherCopy {
    pid_t pid = -1;
    int release = -1;
    explicit OtherCopy(const QString& folder) {
        int ready[2], hold[2];
        if (::pipe(ready) != 0 || ::pipe(hold) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            ::close(hold[1]);
            SingleInstance copy(folder);
            const char got = copy.acquire() == SingleInstance::Result::Acquired ? 'y' : 'n';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &got, 1);
            n = ::read(hold[0], const_cast<char*>(&got), 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        char got = 'n';
        [[maybe_unused]] const ssize_t n = ::read(ready[0], &got, 1);
        ::close(ready[0]);
        release = hold[1];
        EXPECT_EQ(got, 'y');
    }
    ~OtherCopy() {
        ::close(release);
        ::waitpid(pid, nullptr, 0);
    }
};

} // namespace

// Only a running copy is "already running". The check needs no room and no
// write permission in the folder: a full disk or a read-only program folder
// must not stop the watch from starting.
TEST(SingleInstanceTest, TellsASecondCopyApartAndNeedsNoRoomInTheFolder) {
    struct Case {
        const char* name;
        std::function<void(const QString& folder)> setup;
        std::optional<Trouble> trouble;
        QString expected;
    };
    std::optional<SingleInstance> running;
    std::optional<OtherCopy> other;
    const Case cases[] = {
        {"free folder", nullptr, std::nullopt, QStringLiteral("acquired 0")},
        {"a copy runs", [&](const QString& f) { running.emplace(f).acquire(); }, std::nullopt,
         QStringLiteral("already running 0")},
        {"a copy runs in another process", [&](const QString& f) { other.emplace(f); },
         std::nullopt, QStringLiteral("already running 0")},
        {"a copy ran and crashed", leaveDeadLock, std::nullopt, QStringLiteral("acquired 0")},
        {"no such folder", [](const QString& f) { QDir(f).removeRecursively(); }, std::nullopt,
         QStringLiteral("failed %1").arg(ENOENT)},
        {"read-only folder", nullptr, Trouble::ReadOnlyFolder, QStringLiteral("acquired 0")},
        {"read-only folder with a dead copy's lock", leaveDeadLock, Trouble::ReadOnlyFolder,
         QStringLiteral("acquired 0")},
        {"full disk", nullptr, Trouble::FullDisk, QStringLiteral("acquired 0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        running.reset();
        other.reset();
        if (c.setup)
            c.setup(folder);
        QString skip;
        const std::optional<QString> got =
            c.trouble ? testsupport::inTrouble(
                            *c.trouble, dir.path(), [&] { return outcome(folder); }, &skip)
                      : outcome(folder);
        if (!got) {
            std::printf("[  SKIPPED ] %s: %s\n", c.name, qPrintable(skip));
            continue;
        }
        EXPECT_EQ(*got, c.expected);
        running.reset();
        other.reset();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList())
            << "the check leaves files in the folder";
    }
}
