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
    const Case cases[] = {
        {"free folder", nullptr, std::nullopt, QStringLiteral("acquired 0")},
        {"a copy runs", [&](const QString& f) { running.emplace(f).acquire(); }, std::nullopt,
         QStringLiteral("already running 0")},
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
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList())
            << "the check leaves files in the folder";
    }
}
